// One device's description and read cycle over a scripted interface. Reads
// are issued and completed on the fixture's worker, as the reader thread
// would: a completion runs only in the worker's alertable wait.
#include <gtest/gtest.h>

#include <ostream>
#include <thread>
#include <vector>

#include "hid/Device.h"
#include "hid/DeviceManager.h"
#include "tests/ScriptedFixture.h"
#include "tests/TestDevices.h"

namespace {

using MaruvelHID::Device;
using MaruvelHID::WideString;
using scriptedtest::Bytes;
using scriptedtest::kPatienceMilliseconds;
using scriptedtest::Pad;
using scriptedtest::PathOf;

const standin::Path kPath = PathOf("\\\\?\\hid#vid_045e&pid_028e#pad");

// A wait that nothing is expected to end: long enough for a completion that
// is already due to run.
constexpr DWORD kQuietMilliseconds = 20;

// ---- Description ------------------------------------------------------------

struct DescriptionCase {
  const char* what;
  WideString product;
  WideString name;
  HIDD_ATTRIBUTES attributes;
  bool hasAttributes;
  bool hasProductString;
};

std::ostream& operator<<(std::ostream& out, const DescriptionCase& c) { return out << c.what; }

class DeviceOverHandle : public scriptedtest::ScriptedTest,
                         public testing::WithParamInterface<DescriptionCase> {};

TEST_P(DeviceOverHandle, ReadsAttributesAndNameButNoReport) {
  standin::ScriptedDevice pad = Pad(kPath, 6);
  pad.hasAttributes = GetParam().hasAttributes;
  pad.hasProductString = GetParam().hasProductString;
  pad.product = GetParam().product;
  Device* device = OpenDevice(pad);

  EXPECT_EQ(device->name, GetParam().name);
  const HIDD_ATTRIBUTES& expected = GetParam().attributes;
  EXPECT_EQ(device->attributes.Size, expected.Size);
  EXPECT_EQ(device->attributes.VendorID, expected.VendorID);
  EXPECT_EQ(device->attributes.ProductID, expected.ProductID);
  EXPECT_EQ(device->attributes.VersionNumber, expected.VersionNumber);
  EXPECT_EQ(device->caps.InputReportByteLength, 6);
  EXPECT_NE(device->buffer, nullptr);
  EXPECT_FALSE(device->active);
  EXPECT_FALSE(device->readPending);
  EXPECT_EQ(devices.ReadsStarted(kPath), 0);
}

const HIDD_ATTRIBUTES kPadAttributes{sizeof(HIDD_ATTRIBUTES), 0x045E, 0x028E, 0x0114};
const HIDD_ATTRIBUTES kNoAttributes{0, 0, 0, 0};

// The product string the device holds, the name and attributes expected, and
// whether the device can tell its attributes and its product string.
const DescriptionCase kDescriptions[] = {
    {"Complete", WIDE_TEXT("Pad"), WIDE_TEXT("Pad"), kPadAttributes, true, true},
    {"EmptyProductString", WIDE_TEXT(""), WIDE_TEXT("Unnamed Device"), kPadAttributes, true, true},
    {"ProductStringFails", WIDE_TEXT("Pad"), WIDE_TEXT("Unnamed Device"), kPadAttributes, true,
     false},
    {"AttributesFail", WIDE_TEXT("Pad"), WIDE_TEXT("Pad"), kNoAttributes, false, true},
    {"BothFail", WIDE_TEXT("Pad"), WIDE_TEXT("Unnamed Device"), kNoAttributes, false, false},
};

INSTANTIATE_TEST_SUITE_P(Devices, DeviceOverHandle, testing::ValuesIn(kDescriptions),
                         testdevices::CaseName<DescriptionCase>);

// ---- Read cycle -------------------------------------------------------------

// A device of kPath whose sink is the recording one.
class DeviceRead : public scriptedtest::ScriptedTest {
 protected:
  // Opens and activates the device and starts its first read on the worker.
  Device* Streaming(USHORT inputLength = 4) {
    (void)Manager();
    Device* device = OpenDevice(Pad(kPath, inputLength));
    device->Activate();
    worker.Run([device] { device->IssueRead(); });
    EXPECT_EQ(devices.ReadsStarted(kPath), 1);
    EXPECT_TRUE(ReadPending(*device));
    return device;
  }
};

TEST_F(DeviceRead, ActivateStartsNoReadTheNextIssueDoes) {
  Device* device = OpenDevice(Pad(kPath));
  device->Activate();
  EXPECT_TRUE(device->active);
  EXPECT_FALSE(device->readPending);
  EXPECT_EQ(devices.ReadsStarted(kPath), 0);
  worker.Run([device] { device->IssueRead(); });
  EXPECT_EQ(devices.ReadsStarted(kPath), 1);
  EXPECT_TRUE(ReadPending(*device));
}

TEST_F(DeviceRead, IssueWhilePendingStartsNoSecondRead) {
  Device* device = Streaming();
  worker.Run([device] {
    device->IssueRead();
    device->IssueRead();
  });
  EXPECT_EQ(devices.ReadsStarted(kPath), 1);
}

struct InactiveCase {
  const char* what;
  bool activateThenDeactivate;
};

std::ostream& operator<<(std::ostream& out, const InactiveCase& c) { return out << c.what; }

class DeviceReadInactive : public scriptedtest::ScriptedTest,
                           public testing::WithParamInterface<InactiveCase> {};

TEST_P(DeviceReadInactive, IssueStartsNothing) {
  Device* device = OpenDevice(Pad(kPath));
  if (GetParam().activateThenDeactivate) {
    device->Activate();
    device->Deactivate();
  }
  worker.Run([device] { device->IssueRead(); });
  EXPECT_EQ(devices.ReadsStarted(kPath), 0);
  EXPECT_FALSE(ReadPending(*device));
}

const InactiveCase kInactive[] = {
    {"NeverActivated", false},
    {"Deactivated", true},
};

INSTANTIATE_TEST_SUITE_P(Devices, DeviceReadInactive, testing::ValuesIn(kInactive),
                         testdevices::CaseName<InactiveCase>);

// Nothing but the completion issues reads here: every report after the first
// arrives only if the completion started the next read itself.
TEST_F(DeviceRead, StreamingDeviceRearmsInsideItsCompletion) {
  Device* device = Streaming();
  const std::vector<Bytes> reports = {{1, 0, 0, 0}, {2, 0, 0, 0}, {3, 0, 0, 0}, {4, 0, 0, 0}};
  for (std::size_t i = 0; i < reports.size(); ++i) {
    SCOPED_TRACE(testing::Message() << "report " << i);
    ASSERT_TRUE(devices.Deliver(kPath, reports[i]));
    ASSERT_EQ(worker.AlertableWait(kPatienceMilliseconds), WAIT_IO_COMPLETION);
    EXPECT_EQ(sink.Count(), i + 1);
    EXPECT_EQ(devices.ReadsStarted(kPath), static_cast<int>(i) + 2);
    EXPECT_TRUE(ReadPending(*device));
  }
  const auto records = sink.Records();
  ASSERT_EQ(records.size(), reports.size());
  for (std::size_t i = 0; i < reports.size(); ++i) {
    EXPECT_EQ(records[i].bytes, reports[i]) << "report " << i;
  }
}

struct ReportCase {
  const char* what;
  USHORT inputLength;
  Bytes delivered;
  Bytes expected;
};

std::ostream& operator<<(std::ostream& out, const ReportCase& c) { return out << c.what; }

class DeviceReport : public DeviceRead, public testing::WithParamInterface<ReportCase> {};

TEST_P(DeviceReport, CarriesItsDeviceBytesLengthAndTime) {
  Device* device = Streaming(GetParam().inputLength);
  const std::thread::id workerThread = worker.Run([] { return std::this_thread::get_id(); });
  ASSERT_TRUE(devices.Deliver(kPath, GetParam().delivered));
  const DWORD before = GetTickCount();
  ASSERT_EQ(worker.AlertableWait(kPatienceMilliseconds), WAIT_IO_COMPLETION);
  const DWORD after = GetTickCount();

  const auto records = sink.Records();
  ASSERT_EQ(records.size(), 1U);
  EXPECT_EQ(records[0].device, device);
  EXPECT_EQ(records[0].bytes, GetParam().expected);
  EXPECT_EQ(records[0].length, GetParam().expected.size());
  EXPECT_GE(records[0].tickCount, before);
  EXPECT_LE(records[0].tickCount, after);
  EXPECT_EQ(records[0].thread, workerThread);
}

// The stand-in cuts a report to the size the read asked for.
const ReportCase kReports[] = {
    {"FullLength", 4, {0x01, 0x02, 0x03, 0x04}, {0x01, 0x02, 0x03, 0x04}},
    {"ShorterThanCaps", 4, {0x09, 0x08}, {0x09, 0x08}},
    {"LongerIsCutToCaps", 4, {1, 2, 3, 4, 5, 6, 7}, {1, 2, 3, 4}},
    {"SingleByte", 1, {0x7F}, {0x7F}},
};

INSTANTIATE_TEST_SUITE_P(Reports, DeviceReport, testing::ValuesIn(kReports),
                         testdevices::CaseName<ReportCase>);

struct CompletionCase {
  const char* what;
  // Ends the read in flight without a report; false when it could not.
  bool (*complete)(standin::ScriptedDevices& devices, const standin::Path& path);
  bool deviceStays;
};

std::ostream& operator<<(std::ostream& out, const CompletionCase& c) { return out << c.what; }

class DeviceEmptyCompletion : public DeviceRead,
                              public testing::WithParamInterface<CompletionCase> {};

TEST_P(DeviceEmptyCompletion, DeliversNothingAndRearmsWhileTheDeviceStays) {
  Device* device = Streaming();
  ASSERT_TRUE(GetParam().complete(devices, kPath));
  ASSERT_EQ(worker.AlertableWait(kPatienceMilliseconds), WAIT_IO_COMPLETION);
  EXPECT_EQ(sink.Count(), 0U);

  if (GetParam().deviceStays) {
    EXPECT_EQ(devices.ReadsStarted(kPath), 2);
    EXPECT_TRUE(ReadPending(*device));
    const Bytes next = {0x11, 0x22, 0x33, 0x44};
    ASSERT_TRUE(devices.Deliver(kPath, next));
    ASSERT_EQ(worker.AlertableWait(kPatienceMilliseconds), WAIT_IO_COMPLETION);
    ASSERT_EQ(sink.Count(), 1U);
    EXPECT_EQ(sink.Records()[0].bytes, next);
  } else {
    // The re-arm failed at once: idle, and the next issue fails at once too.
    EXPECT_EQ(devices.ReadsStarted(kPath), 1);
    EXPECT_FALSE(ReadPending(*device));
    worker.Run([device] { device->IssueRead(); });
    EXPECT_FALSE(ReadPending(*device));
    EXPECT_EQ(worker.AlertableWait(kQuietMilliseconds), 0U);
    EXPECT_EQ(sink.Count(), 0U);
  }
}

const CompletionCase kEmptyCompletions[] = {
    {"ZeroBytes",
     [](standin::ScriptedDevices& d, const standin::Path& p) { return d.DeliverNothing(p); }, true},
    {"ReadError",
     [](standin::ScriptedDevices& d, const standin::Path& p) {
       return d.DeliverError(p, ERROR_GEN_FAILURE);
     },
     true},
    {"ReadAborted",
     [](standin::ScriptedDevices& d, const standin::Path& p) {
       return d.DeliverError(p, ERROR_OPERATION_ABORTED);
     },
     true},
    {"DeviceUnplugged",
     [](standin::ScriptedDevices& d, const standin::Path& p) {
       d.Unplug(p);
       return true;
     },
     false},
};

INSTANTIATE_TEST_SUITE_P(Completions, DeviceEmptyCompletion, testing::ValuesIn(kEmptyCompletions),
                         testdevices::CaseName<CompletionCase>);

TEST_F(DeviceRead, DeactivatedDuringReadDeliversTheLateReportOnceThenStops) {
  Device* device = Streaming();
  device->Deactivate();
  EXPECT_FALSE(device->active);
  const Bytes late = {0x0A, 0x0B, 0x0C, 0x0D};
  ASSERT_TRUE(devices.Deliver(kPath, late));
  ASSERT_TRUE(devices.Deliver(kPath, {0x0E, 0x0E, 0x0E, 0x0E}));

  ASSERT_EQ(worker.AlertableWait(kPatienceMilliseconds), WAIT_IO_COMPLETION);
  auto records = sink.Records();
  ASSERT_EQ(records.size(), 1U);
  EXPECT_EQ(records[0].bytes, late);
  EXPECT_EQ(devices.ReadsStarted(kPath), 1);
  EXPECT_FALSE(ReadPending(*device));

  // What a later poll does: nothing starts, and the queued report stays unread.
  worker.Run([device] { device->IssueRead(); });
  EXPECT_EQ(devices.ReadsStarted(kPath), 1);
  EXPECT_EQ(worker.AlertableWait(kQuietMilliseconds), 0U);
  EXPECT_EQ(sink.Count(), 1U);
}

struct SinkCase {
  const char* what;
  bool managerWithoutSink;  // else no manager at all
};

std::ostream& operator<<(std::ostream& out, const SinkCase& c) { return out << c.what; }

class DeviceWithoutSink : public scriptedtest::ScriptedTest,
                          public testing::WithParamInterface<SinkCase> {};

TEST_P(DeviceWithoutSink, DropsReportsAndKeepsReading) {
  if (GetParam().managerWithoutSink) {
    Manager().sink = nullptr;
  } else {
    ASSERT_EQ(MaruvelHID::DeviceManager::instance, nullptr);
  }
  Device* device = OpenDevice(Pad(kPath));
  device->Activate();
  worker.Run([device] { device->IssueRead(); });
  ASSERT_TRUE(devices.Deliver(kPath, {0xDE, 0xAD, 0, 0}));
  ASSERT_EQ(worker.AlertableWait(kPatienceMilliseconds), WAIT_IO_COMPLETION);
  EXPECT_EQ(devices.ReadsStarted(kPath), 2);
  EXPECT_TRUE(ReadPending(*device));

  // Once a sink is there, the next report reaches it, and only that one.
  Manager().sink = &sink;
  const Bytes next = {0xBE, 0xEF, 0, 0};
  ASSERT_TRUE(devices.Deliver(kPath, next));
  ASSERT_EQ(worker.AlertableWait(kPatienceMilliseconds), WAIT_IO_COMPLETION);
  const auto records = sink.Records();
  ASSERT_EQ(records.size(), 1U);
  EXPECT_EQ(records[0].bytes, next);
}

const SinkCase kSinks[] = {
    {"NoManager", false},
    {"ManagerWithoutSink", true},
};

INSTANTIATE_TEST_SUITE_P(Sinks, DeviceWithoutSink, testing::ValuesIn(kSinks),
                         testdevices::CaseName<SinkCase>);

}  // namespace
