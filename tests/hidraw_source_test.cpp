// The hidraw source over a sysfs tree and device nodes of the test's own:
// the interfaces it lists, how it opens and describes them through the
// Windows calls, and how reports read from a node are framed.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "hid/DeviceManager.h"
#include "hid/HidEntryPoints.h"
#include "platform/WinApi.h"
#include "platform/posix/hidraw/HidrawDevices.h"
#include "tests/ScriptedFixture.h"
#include "tests/TestDevices.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<BYTE>;
using scriptedtest::PathOf;

// A game pad without report IDs: 16 buttons and two 8-bit axes, 4 bytes.
const Bytes kGamepad = {0x05, 0x01, 0x09, 0x05, 0xA1, 0x01, 0x05, 0x09, 0x19, 0x01,
                        0x29, 0x10, 0x15, 0x00, 0x25, 0x01, 0x75, 0x01, 0x95, 0x10,
                        0x81, 0x02, 0x05, 0x01, 0x09, 0x30, 0x09, 0x31, 0x15, 0x00,
                        0x26, 0xFF, 0x00, 0x75, 0x08, 0x95, 0x02, 0x81, 0x02, 0xC0};

// Three top-level collections with report IDs: a keyboard (report 1, 8
// bytes), consumer controls (report 2, 2 bytes) and a vendor collection with
// only a 4-byte feature report (3).
const Bytes kComposite = {
    // keyboard
    0x05, 0x01, 0x09, 0x06, 0xA1, 0x01, 0x85, 0x01, 0x05, 0x07, 0x19, 0xE0, 0x29, 0xE7, 0x15, 0x00,
    0x25, 0x01, 0x75, 0x01, 0x95, 0x08, 0x81, 0x02, 0x95, 0x01, 0x75, 0x08, 0x81, 0x01, 0x95, 0x06,
    0x75, 0x08, 0x15, 0x00, 0x26, 0xFF, 0x00, 0x19, 0x00, 0x2A, 0xFF, 0x00, 0x81, 0x00, 0xC0,
    // consumer controls
    0x05, 0x0C, 0x09, 0x01, 0xA1, 0x01, 0x85, 0x02, 0x15, 0x00, 0x26, 0xFF, 0x03, 0x19, 0x00, 0x2A,
    0xFF, 0x03, 0x75, 0x10, 0x95, 0x01, 0x81, 0x00, 0xC0,
    // vendor, feature only
    0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x85, 0x03, 0x15, 0x00, 0x26, 0xFF, 0x00, 0x75, 0x08,
    0x95, 0x04, 0x09, 0x01, 0xB1, 0x02, 0xC0};

struct UsbParent {
  std::string bcdDevice;  // as sysfs writes it: "0114"
  std::optional<std::string> product;
};

struct FakeNode {
  unsigned number = 0;
  std::string hidDevice;  // "0003:045E:028E.0001"
  Bytes descriptor;
  std::string hidId;  // uevent's HID_ID
  std::string name;   // uevent's HID_NAME
  std::optional<UsbParent> usb;
};

enum class NodeFile { kFifo, kMissing };

// A sysfs tree and a /dev of the test's own, laid out as the kernel lays
// them out, and a source over them installed as the stand-in's.
class HidrawTest : public testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/hidraw-test-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    root = pattern;
    fs::create_directories(root / "sys" / "class" / "hidraw");
    fs::create_directories(root / "dev");
    source.emplace((root / "sys").string(), (root / "dev").string());
    (void)standin::UseDeviceSource(&*source);
    HidEntryPoints::Bind();
  }

  void TearDown() override {
    worker.Stop();
    for (const auto& writer : writers) {
      (void)close(writer.second);
    }
    (void)standin::UseDeviceSource(nullptr);
    std::error_code ignored;
    fs::remove_all(root, ignored);
  }

  void AddNode(const FakeNode& node, NodeFile file = NodeFile::kFifo) {
    const fs::path parent = node.usb ? root / "sys/devices/pci0000:00/usb1/1-1/1-1:1.0"
                                     : root / "sys/devices/virtual/misc/uhid";
    const fs::path hid = parent / node.hidDevice;
    const std::string nodeName = "hidraw" + std::to_string(node.number);
    const fs::path classEntry = hid / "hidraw" / nodeName;
    fs::create_directories(classEntry);
    Write(
        hid / "report_descriptor",
        std::string(reinterpret_cast<const char*>(node.descriptor.data()), node.descriptor.size()));
    Write(hid / "uevent", "DRIVER=hid-generic\nHID_ID=" + node.hidId + "\nHID_NAME=" + node.name +
                              "\nHID_PHYS=test\nHID_UNIQ=\nMODALIAS=hid:test\n");
    fs::create_directory_symlink("../../../" + node.hidDevice, classEntry / "device");
    fs::create_directory_symlink(classEntry, root / "sys/class/hidraw" / nodeName);
    if (node.usb) {
      Write(parent.parent_path() / "bcdDevice", node.usb->bcdDevice + "\n");
      if (node.usb->product) {
        Write(parent.parent_path() / "product", *node.usb->product + "\n");
      }
    }
    if (file == NodeFile::kFifo) {
      ASSERT_EQ(mkfifo((root / "dev" / nodeName).c_str(), 0600), 0);
    }
  }

  // The node leaves sysfs and /dev, as when its device is unplugged.
  void RemoveNode(unsigned number) {
    const std::string nodeName = "hidraw" + std::to_string(number);
    fs::remove(root / "sys/class/hidraw" / nodeName);
    fs::remove(root / "dev" / nodeName);
  }

  static void Write(const fs::path& file, const std::string& bytes) {
    std::ofstream out(file, std::ios::binary);
    out << bytes;
  }

  // CreateFileW as the HID library opens a device: reading and writing,
  // shared, overlapped.
  static HANDLE OpenAsTheLibraryDoes(const standin::Path& path) {
    return CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                       FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                       FILE_FLAG_OVERLAPPED, nullptr);
  }

  std::string DevPath(const std::string& rest) const {
    return (root / "dev").string() + "/" + rest;
  }

  // Gives the node one report, as the kernel would; the source must have
  // the node open already.
  void Send(unsigned number, const Bytes& report) {
    const std::string node = (root / "dev" / ("hidraw" + std::to_string(number))).string();
    if (writers.count(number) == 0) {
      const int file = open(node.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
      ASSERT_GE(file, 0) << node;
      writers[number] = file;
    }
    ASSERT_EQ(write(writers[number], report.data(), report.size()),
              static_cast<ssize_t>(report.size()));
  }

  fs::path root;
  std::optional<standin::HidrawDevices> source;
  scriptedtest::Worker worker;
  std::map<unsigned, int> writers;
};

const FakeNode kUsbPad{10,
                       "0003:045E:028E.0007",
                       kGamepad,
                       "0003:0000045E:0000028E",
                       "Microsoft X-Box 360 pad",
                       UsbParent{"0114", std::string("Controller")}};
const FakeNode kKeyboard{2,
                         "0005:05AC:0256.0002",
                         kComposite,
                         "0005:000005AC:00000256",
                         "Apple Wireless Keyboard",
                         std::nullopt};
const FakeNode kUndescribed{0,       "0003:1234:5678.0001", {}, "0003:00001234:00005678",
                            "Blank", std::nullopt};

// ---- Listing ----------------------------------------------------------------

TEST_F(HidrawTest, ListsEveryTopLevelCollectionOfEveryNodeInNodeOrder) {
  AddNode(kUsbPad);
  AddNode(kKeyboard);
  AddNode(kUndescribed);
  fs::create_directory(root / "sys/class/hidraw/hidrawx");  // not a node's name
  const std::vector<standin::Path> expected = {
      PathOf(DevPath("hidraw0#0003:1234:5678.0001").c_str()),
      PathOf(DevPath("hidraw2#0005:05AC:0256.0002").c_str()),
      PathOf(DevPath("hidraw2#0005:05AC:0256.0002&col02").c_str()),
      PathOf(DevPath("hidraw2#0005:05AC:0256.0002&col03").c_str()),
      PathOf(DevPath("hidraw10#0003:045E:028E.0007").c_str()),
  };
  EXPECT_EQ(source->PresentPaths(), expected);
  RemoveNode(2);
  EXPECT_EQ(source->PresentPaths(), (std::vector<standin::Path>{expected[0], expected[4]}));
}

TEST_F(HidrawTest, NoHidrawClassListsNothing) {
  fs::remove(root / "sys/class/hidraw");
  EXPECT_TRUE(source->PresentPaths().empty());
}

// ---- Opening and describing ---------------------------------------------------

// What the Windows calls give for an interface.
struct Description {
  std::u16string name;
  USHORT vendor, product, version;
  USHORT usagePage, usage, inputLength, outputLength, featureLength;
};

struct Described {
  const char* what;
  FakeNode node;
  std::string interface;  // after "<dev>/"
  Description expected;
};

std::ostream& operator<<(std::ostream& out, const Described& c) { return out << c.what; }

class DescribedInterface : public HidrawTest, public testing::WithParamInterface<Described> {};

TEST_P(DescribedInterface, OpensAndDescribesAsWindowsWould) {
  const Described& c = GetParam();
  const Description& expected = c.expected;
  AddNode(c.node);
  const standin::Path path = PathOf(DevPath(c.interface).c_str());
  HANDLE handle = OpenAsTheLibraryDoes(path);
  ASSERT_NE(handle, INVALID_HANDLE_VALUE) << GetLastError();

  HIDD_ATTRIBUTES attributes{};
  attributes.Size = sizeof attributes;
  ASSERT_TRUE(HidD_GetAttributes(handle, &attributes));
  EXPECT_EQ(attributes.VendorID, expected.vendor);
  EXPECT_EQ(attributes.ProductID, expected.product);
  EXPECT_EQ(attributes.VersionNumber, expected.version);

  WCHAR name[128] = {};
  ASSERT_TRUE(HidD_GetProductString(handle, name, sizeof name));
  EXPECT_EQ(std::u16string(name), expected.name);

  PHIDP_PREPARSED_DATA preparsed = nullptr;
  ASSERT_TRUE(HidD_GetPreparsedData(handle, &preparsed));
  HIDP_CAPS caps{};
  EXPECT_EQ(HidP_GetCaps(preparsed, &caps), HIDP_STATUS_SUCCESS);
  EXPECT_TRUE(HidD_FreePreparsedData(preparsed));
  EXPECT_EQ(caps.UsagePage, expected.usagePage);
  EXPECT_EQ(caps.Usage, expected.usage);
  EXPECT_EQ(caps.InputReportByteLength, expected.inputLength);
  EXPECT_EQ(caps.OutputReportByteLength, expected.outputLength);
  EXPECT_EQ(caps.FeatureReportByteLength, expected.featureLength);
  EXPECT_TRUE(CloseHandle(handle));
}

const FakeNode kUsbNoProduct{3,     "0003:045E:028E.0003", kGamepad, "0003:0000045E:0000028E",
                             "Pad", UsbParent{"0200", {}}};
const FakeNode kVirtualPad{
    4, "0003:045E:028E.0004", kGamepad, "0003:0000045E:0000028E", "Virtual Pad", std::nullopt};
const FakeNode kLatin1Name{
    5,           "0003:1234:ABCD.0005", kGamepad, "0003:00001234:0000ABCD", "Manette \xE9 \xC3\xA9",
    std::nullopt};
const FakeNode kWideIds{6,      "0003:1234:ABCD.0006", kGamepad, "0003:00011234:0002ABCD",
                        "Wide", std::nullopt};

const Described kDescribed[] = {
    {"UsbDeviceGivesItsVersionAndProductString",
     kUsbPad,
     "hidraw10#0003:045E:028E.0007",
     {u"Controller", 0x045E, 0x028E, 0x0114, 1, 5, 5, 0, 0}},
    {"UsbWithoutProductStringUsesTheKernelsName",
     kUsbNoProduct,
     "hidraw3#0003:045E:028E.0003",
     {u"Pad", 0x045E, 0x028E, 0x0200, 1, 5, 5, 0, 0}},
    {"VirtualUsbDeviceHasVersionZero",
     kVirtualPad,
     "hidraw4#0003:045E:028E.0004",
     {u"Virtual Pad", 0x045E, 0x028E, 0, 1, 5, 5, 0, 0}},
    {"FirstCollection",
     kKeyboard,
     "hidraw2#0005:05AC:0256.0002",
     {u"Apple Wireless Keyboard", 0x05AC, 0x0256, 0, 1, 6, 9, 0, 0}},
    {"SecondCollection",
     kKeyboard,
     "hidraw2#0005:05AC:0256.0002&col02",
     {u"Apple Wireless Keyboard", 0x05AC, 0x0256, 0, 0x0C, 1, 3, 0, 0}},
    {"CollectionWithoutInputReports",
     kKeyboard,
     "hidraw2#0005:05AC:0256.0002&col03",
     {u"Apple Wireless Keyboard", 0x05AC, 0x0256, 0, 0xFF00, 1, 0, 0, 5}},
    {"NameNotValidUtf8StillNamesIt",
     kLatin1Name,
     "hidraw5#0003:1234:ABCD.0005",
     {u"Manette \uFFFD \u00e9", 0x1234, 0xABCD, 0, 1, 5, 5, 0, 0}},
    {"IdsWiderThanSixteenBitsKeepTheirLowBits",
     kWideIds,
     "hidraw6#0003:1234:ABCD.0006",
     {u"Wide", 0x1234, 0xABCD, 0, 1, 5, 5, 0, 0}},
};

INSTANTIATE_TEST_SUITE_P(Interfaces, DescribedInterface, testing::ValuesIn(kDescribed),
                         testdevices::CaseName<Described>);

TEST_F(HidrawTest, NodeWithoutUsableDescriptorOpensButCannotBeDescribed) {
  AddNode(kUndescribed);
  const standin::Path path = PathOf(DevPath("hidraw0#0003:1234:5678.0001").c_str());
  HANDLE handle = OpenAsTheLibraryDoes(path);
  ASSERT_NE(handle, INVALID_HANDLE_VALUE);
  PHIDP_PREPARSED_DATA preparsed = nullptr;
  EXPECT_FALSE(HidD_GetPreparsedData(handle, &preparsed));
  EXPECT_TRUE(CloseHandle(handle));
}

struct Refused {
  const char* what;
  std::string path;  // after "<dev>/", or whole when it starts with '/'
  DWORD error;
};

TEST_F(HidrawTest, PathsItDoesNotPresentDoNotOpen) {
  AddNode(kKeyboard);
  AddNode(kUsbPad, NodeFile::kMissing);
  const Refused cases[] = {
      {"node missing from /dev", "hidraw10#0003:045E:028E.0007", ERROR_FILE_NOT_FOUND},
      {"node now another device's", "hidraw2#0005:05AC:0256.0001", ERROR_FILE_NOT_FOUND},
      {"collection past the last", "hidraw2#0005:05AC:0256.0002&col04", ERROR_FILE_NOT_FOUND},
      {"first collection spelt out", "hidraw2#0005:05AC:0256.0002&col01", ERROR_FILE_NOT_FOUND},
      {"collection number unpadded", "hidraw2#0005:05AC:0256.0002&col2", ERROR_FILE_NOT_FOUND},
      {"no HID device", "hidraw2", ERROR_FILE_NOT_FOUND},
      {"not a node", "null#0005:05AC:0256.0002", ERROR_FILE_NOT_FOUND},
      {"outside the device folder", "/etc/passwd#0005:05AC:0256.0002", ERROR_FILE_NOT_FOUND},
      {"climbing out", "hidraw2#../../etc", ERROR_FILE_NOT_FOUND},
  };
  for (const Refused& c : cases) {
    const std::string text = c.path[0] == '/' ? c.path : DevPath(c.path);
    const standin::Path path = PathOf(text.c_str());
    SetLastError(ERROR_SUCCESS);
    EXPECT_EQ(OpenAsTheLibraryDoes(path), INVALID_HANDLE_VALUE) << c.what;
    EXPECT_EQ(GetLastError(), c.error) << c.what;
  }
}

TEST_F(HidrawTest, NodeThePermissionsRefuseIsAccessDenied) {
  if (geteuid() == 0) {
    GTEST_SKIP() << "root opens any node whatever its mode";
  }
  AddNode(kUsbPad);
  ASSERT_EQ(chmod((root / "dev/hidraw10").c_str(), 0), 0);
  const standin::Path path = PathOf(DevPath("hidraw10#0003:045E:028E.0007").c_str());
  EXPECT_EQ(OpenAsTheLibraryDoes(path), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
}

// ---- Reading ------------------------------------------------------------------

// One completed read on the worker.
struct Completion {
  DWORD error = 0xFFFFFFFF;
  DWORD bytes = 0;
  Bytes data;
  bool done = false;
};

struct ReadContext {
  OVERLAPPED overlapped{};
  Completion* completion;
};

VOID CALLBACK Completed(DWORD error, DWORD bytes, LPOVERLAPPED overlapped) {
  // The OVERLAPPED is the context's first member.
  auto* context = reinterpret_cast<ReadContext*>(overlapped);
  context->completion->error = error;
  context->completion->bytes = bytes;
  context->completion->done = true;
}

struct Framed {
  const char* what;
  FakeNode node;
  std::string interface;
  DWORD bufferSize;
  std::vector<Bytes> foreign;  // given first: none may complete the read
  Bytes report;                // then this one
  Bytes delivered;             // and the read gives exactly this
};

std::ostream& operator<<(std::ostream& out, const Framed& c) { return out << c.what; }

class FramedRead : public HidrawTest, public testing::WithParamInterface<Framed> {};

TEST_P(FramedRead, DeliversTheReportAsWindowsFramesIt) {
  const Framed& c = GetParam();
  AddNode(c.node);
  const standin::Path path = PathOf(DevPath(c.interface).c_str());
  HANDLE handle = OpenAsTheLibraryDoes(path);
  ASSERT_NE(handle, INVALID_HANDLE_VALUE);

  Completion completion;
  ReadContext context{{}, &completion};
  Bytes buffer(c.bufferSize + 8, 0xEE);  // past the buffer stays as it was
  ASSERT_TRUE(worker.Run([&] {
    return ReadFileEx(handle, buffer.data(), c.bufferSize, &context.overlapped, &Completed) != 0;
  }));
  for (const Bytes& report : c.foreign) {
    Send(c.node.number, report);
    // The wait takes it off the node and finds it is not this interface's.
    EXPECT_EQ(worker.AlertableWait(100), 0U);
    EXPECT_FALSE(completion.done);
  }
  Send(c.node.number, c.report);
  EXPECT_EQ(worker.AlertableWait(scriptedtest::kPatienceMilliseconds), WAIT_IO_COMPLETION);
  ASSERT_TRUE(completion.done);
  EXPECT_EQ(completion.error, ERROR_SUCCESS);
  ASSERT_EQ(completion.bytes, c.delivered.size());
  EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + completion.bytes), c.delivered);
  EXPECT_EQ(Bytes(buffer.begin() + c.bufferSize, buffer.end()), Bytes(8, 0xEE));
  EXPECT_TRUE(CloseHandle(handle));
}

const std::string kPadPath = "hidraw10#0003:045E:028E.0007";
const std::string kKeysPath = "hidraw2#0005:05AC:0256.0002";
const std::string kConsumerPath = "hidraw2#0005:05AC:0256.0002&col02";

const Framed kFramed[] = {
    {"WithoutIdsAZeroIdByteGoesInFront",
     kUsbPad,
     kPadPath,
     5,
     {},
     {0x01, 0x00, 0x80, 0x7F},
     {0x00, 0x01, 0x00, 0x80, 0x7F}},
    {"ShortReportIsZeroPadded", kUsbPad, kPadPath, 5, {}, {0x01}, {0x00, 0x01, 0x00, 0x00, 0x00}},
    {"LongReportIsCutToTheReportLength",
     kUsbPad,
     kPadPath,
     64,
     {},
     {1, 2, 3, 4, 5, 6},
     {0x00, 1, 2, 3, 4}},
    {"SmallBufferCutsTheReport", kUsbPad, kPadPath, 3, {}, {1, 2, 3, 4}, {0x00, 1, 2}},
    {"NumberedReportKeepsItsId",
     kKeyboard,
     kKeysPath,
     9,
     {},
     {0x01, 0x02, 0, 0x04, 0, 0, 0, 0, 0},
     {0x01, 0x02, 0, 0x04, 0, 0, 0, 0, 0}},
    {"NumberedShortReportIsPaddedToItsCollectionsLength",
     kKeyboard,
     kConsumerPath,
     3,
     {},
     {0x02, 0xE9},
     {0x02, 0xE9, 0x00}},
    {"AnotherCollectionsReportIsNotDelivered",
     kKeyboard,
     kConsumerPath,
     3,
     {{0x01, 0x02, 0, 0x04, 0, 0, 0, 0, 0}},
     {0x02, 0xE9, 0x00},
     {0x02, 0xE9, 0x00}},
    {"UndeclaredIdIsNotDelivered",
     kKeyboard,
     kKeysPath,
     9,
     {{0x07, 0x01}, {0x03, 1, 2, 3, 4}},
     {0x01, 0, 0, 0x05, 0, 0, 0, 0, 0},
     {0x01, 0, 0, 0x05, 0, 0, 0, 0, 0}},
};

INSTANTIATE_TEST_SUITE_P(Reports, FramedRead, testing::ValuesIn(kFramed),
                         testdevices::CaseName<Framed>);

TEST_F(HidrawTest, NodeThatEndsIsGoneAndRefusesFurtherReads) {
  AddNode(kUsbPad, NodeFile::kMissing);
  // A file of one report: the read after it finds the end, as a read of a
  // node whose device has gone finds an error.
  Write(root / "dev/hidraw10", std::string("\x01\x02\x03\x04", 4));
  const standin::Path path = PathOf(DevPath(kPadPath).c_str());
  HANDLE handle = OpenAsTheLibraryDoes(path);
  ASSERT_NE(handle, INVALID_HANDLE_VALUE);
  Bytes buffer(5);
  for (const DWORD expectedError : {ERROR_SUCCESS, ERROR_DEVICE_NOT_CONNECTED}) {
    Completion completion;
    ReadContext context{{}, &completion};
    ASSERT_TRUE(worker.Run([&] {
      return ReadFileEx(handle, buffer.data(), 5, &context.overlapped, &Completed) != 0;
    }));
    EXPECT_EQ(worker.AlertableWait(scriptedtest::kPatienceMilliseconds), WAIT_IO_COMPLETION);
    ASSERT_TRUE(completion.done);
    EXPECT_EQ(completion.error, expectedError);
    EXPECT_EQ(completion.bytes, expectedError == ERROR_SUCCESS ? 5U : 0U);
  }
  Completion never;
  ReadContext context{{}, &never};
  EXPECT_FALSE(worker.Run(
      [&] { return ReadFileEx(handle, buffer.data(), 5, &context.overlapped, &Completed) != 0; }));
  EXPECT_EQ(worker.Run([] { return GetLastError(); }), ERROR_DEVICE_NOT_CONNECTED);
  EXPECT_TRUE(CloseHandle(handle));
}

// ---- The device manager over the source ----------------------------------------

TEST_F(HidrawTest, RefreshRegistersEachCollectionWithInputReportsAndDeactivatesTheUnplugged) {
  AddNode(kUsbPad);
  AddNode(kKeyboard);
  AddNode(kUndescribed);
  scriptedtest::RecordingSink sink;
  MaruvelHID::DeviceManager manager;
  manager.sink = &sink;
  manager.Refresh();

  std::map<std::string, USHORT> registered;  // path -> InputReportByteLength
  for (const auto& entry : manager.devices) {
    registered[std::string(entry.first.begin(), entry.first.end())] =
        entry.second->caps.InputReportByteLength;
    EXPECT_TRUE(entry.second->active);
  }
  EXPECT_EQ(registered,
            (std::map<std::string, USHORT>{
                {DevPath(kKeysPath), 9}, {DevPath(kConsumerPath), 3}, {DevPath(kPadPath), 5}}));

  RemoveNode(10);
  // The kernel gives the number to the next device plugged in.
  FakeNode replugged = kUsbPad;
  replugged.hidDevice = "0003:045E:028E.0008";
  AddNode(replugged);
  manager.Refresh();
  const standin::Path oldPad = PathOf(DevPath(kPadPath).c_str());
  const standin::Path newPad = PathOf(DevPath("hidraw10#0003:045E:028E.0008").c_str());
  ASSERT_EQ(manager.devices.count(oldPad), 1U);
  EXPECT_FALSE(manager.devices[oldPad]->active);
  ASSERT_EQ(manager.devices.count(newPad), 1U);
  EXPECT_TRUE(manager.devices[newPad]->active);
  EXPECT_TRUE(manager.devices[PathOf(DevPath(kKeysPath).c_str())]->active);

  for (const auto& entry : manager.devices) {
    delete entry.second;  // the manager keeps its devices for the process's life
  }
  manager.devices.clear();
}

}  // namespace
