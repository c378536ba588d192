// The registry, the reader thread and the run-time binding of hid.dll, over
// scripted devices. Polls without the reader thread run on the fixture's
// worker, where their reads then complete.
#include <gtest/gtest.h>

#include <cstddef>
#include <map>
#include <memory>
#include <ostream>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "hid/Device.h"
#include "hid/DeviceManager.h"
#include "hid/HidEntryPoints.h"
#include "platform/posix/StandInControl.h"
#include "tests/ScriptedFixture.h"
#include "tests/TestDevices.h"

namespace {

using MaruvelHID::Device;
using MaruvelHID::DeviceManager;
using scriptedtest::Bytes;
using scriptedtest::kPatience;
using scriptedtest::kPatienceMilliseconds;
using scriptedtest::Pad;
using scriptedtest::PathOf;

const standin::Path kPadPath = PathOf("\\\\?\\hid#vid_045e&pid_028e#pad");
const standin::Path kStickPath = PathOf("\\\\?\\hid#vid_046d&pid_c215#stick");

// How long a test gives a reader thread that should not act any more to show
// that it still does: several of its 50 ms polls.
constexpr DWORD kSeveralPollsMilliseconds = 200;

class DeviceManagerTest : public scriptedtest::ScriptedTest {
 protected:
  void Poll() {
    worker.Run([this] { Manager().Poll(); });
  }
};

// ---- Refresh ----------------------------------------------------------------

TEST_F(DeviceManagerTest, NoDevicesLeaveTheRegistryEmpty) {
  Manager().Refresh();
  EXPECT_TRUE(Manager().devices.empty());
  Poll();
  EXPECT_TRUE(Manager().devices.empty());
}

TEST_F(DeviceManagerTest, RefreshActivatesNewDevicesAndPollReadsThem) {
  devices.Plug(Pad(kPadPath));
  devices.Plug(Pad(kStickPath, 8));
  Manager().Refresh();
  ASSERT_EQ(Manager().devices.size(), 2U);
  for (const standin::Path& path : {kPadPath, kStickPath}) {
    Device* device = Registered(path);
    ASSERT_NE(device, nullptr);
    EXPECT_TRUE(device->active);
    EXPECT_FALSE(device->readPending);
    EXPECT_EQ(devices.OpenHandles(path), 1);
    // Activated, but its first read waits for a poll.
    EXPECT_EQ(devices.ReadsStarted(path), 0);
  }
  EXPECT_EQ(Registered(kStickPath)->caps.InputReportByteLength, 8);

  Poll();
  Poll();
  Poll();
  for (const standin::Path& path : {kPadPath, kStickPath}) {
    EXPECT_EQ(devices.ReadsStarted(path), 1);
    EXPECT_TRUE(ReadPending(*Registered(path)));
  }
}

TEST_F(DeviceManagerTest, RefreshAgainRegistersAndDeactivatesNothing) {
  devices.Plug(Pad(kPadPath));
  devices.Plug(Pad(kStickPath));
  Manager().Refresh();
  const std::map<MaruvelHID::WideString, Device*> first = Manager().devices;
  Manager().Refresh();
  EXPECT_EQ(Manager().devices, first);
  for (const auto& entry : first) {
    EXPECT_TRUE(entry.second->active);
    EXPECT_EQ(devices.Opens(entry.first), 1);
  }
}

TEST_F(DeviceManagerTest, UnpluggedStaysRegisteredAndInactiveNewPathIsNewDevice) {
  devices.Plug(Pad(kPadPath));
  Manager().Refresh();
  Device* pad = Registered(kPadPath);
  ASSERT_NE(pad, nullptr);
  Poll();
  ASSERT_EQ(devices.ReadsStarted(kPadPath), 1);

  devices.Unplug(kPadPath);
  Manager().Refresh();
  EXPECT_EQ(Registered(kPadPath), pad);
  EXPECT_FALSE(pad->active);
  // The read in flight ends with the device; nothing follows it.
  ASSERT_EQ(worker.AlertableWait(kPatienceMilliseconds), WAIT_IO_COMPLETION);
  Poll();
  EXPECT_EQ(devices.ReadsStarted(kPadPath), 1);
  EXPECT_FALSE(ReadPending(*pad));

  // Back under the same path: the old entry, still inactive, not reopened.
  devices.Plug(Pad(kPadPath));
  Manager().Refresh();
  EXPECT_EQ(Registered(kPadPath), pad);
  EXPECT_FALSE(pad->active);
  EXPECT_EQ(devices.Opens(kPadPath), 1);
  Poll();
  EXPECT_EQ(devices.ReadsStarted(kPadPath), 1);

  devices.Plug(Pad(kStickPath));
  Manager().Refresh();
  Device* stick = Registered(kStickPath);
  ASSERT_NE(stick, nullptr);
  EXPECT_NE(stick, pad);
  EXPECT_TRUE(stick->active);
  EXPECT_FALSE(pad->active);
  EXPECT_EQ(Manager().devices.size(), 2U);
}

struct SpoiledCase {
  const char* what;
  void (*spoil)(standin::ScriptedDevice& device);
};

std::ostream& operator<<(std::ostream& out, const SpoiledCase& c) { return out << c.what; }

class DeviceManagerSkips : public DeviceManagerTest,
                           public testing::WithParamInterface<SpoiledCase> {};

TEST_P(DeviceManagerSkips, UnusableDeviceUntilALaterRefreshFindsItFine) {
  standin::ScriptedDevice pad = Pad(kPadPath);
  GetParam().spoil(pad);
  devices.Plug(pad);
  devices.Plug(Pad(kStickPath));
  Manager().Refresh();
  EXPECT_EQ(Registered(kPadPath), nullptr);
  EXPECT_EQ(devices.OpenHandles(kPadPath), 0);
  ASSERT_NE(Registered(kStickPath), nullptr);  // the scan goes on past it
  Poll();
  EXPECT_EQ(devices.ReadsStarted(kPadPath), 0);

  // Still unusable: tried again, still skipped.
  Manager().Refresh();
  EXPECT_EQ(Registered(kPadPath), nullptr);
  EXPECT_EQ(devices.OpenHandles(kPadPath), 0);

  devices.Plug(Pad(kPadPath));
  Manager().Refresh();
  Device* device = Registered(kPadPath);
  ASSERT_NE(device, nullptr);
  EXPECT_TRUE(device->active);
  EXPECT_EQ(devices.OpenHandles(kPadPath), 1);
  Poll();
  EXPECT_EQ(devices.ReadsStarted(kPadPath), 1);
}

const SpoiledCase kSpoiled[] = {
    {"RefusesToOpen", [](standin::ScriptedDevice& d) { d.opens = false; }},
    {"NoPreparsedData", [](standin::ScriptedDevice& d) { d.hasPreparsedData = false; }},
    {"NoInputReports", [](standin::ScriptedDevice& d) { d.caps.InputReportByteLength = 0; }},
};

INSTANTIATE_TEST_SUITE_P(Devices, DeviceManagerSkips, testing::ValuesIn(kSpoiled),
                         testdevices::CaseName<SpoiledCase>);

class DeviceManagerRegistersIncomplete : public DeviceManagerTest,
                                         public testing::WithParamInterface<SpoiledCase> {};

TEST_P(DeviceManagerRegistersIncomplete, DescriptionGapsDoNotKeepADeviceOut) {
  standin::ScriptedDevice pad = Pad(kPadPath);
  GetParam().spoil(pad);
  devices.Plug(pad);
  Manager().Refresh();
  Device* device = Registered(kPadPath);
  ASSERT_NE(device, nullptr);
  EXPECT_TRUE(device->active);
}

const SpoiledCase kIncomplete[] = {
    {"NoAttributes", [](standin::ScriptedDevice& d) { d.hasAttributes = false; }},
    {"NoProductString", [](standin::ScriptedDevice& d) { d.hasProductString = false; }},
};

INSTANTIATE_TEST_SUITE_P(Devices, DeviceManagerRegistersIncomplete, testing::ValuesIn(kIncomplete),
                         testdevices::CaseName<SpoiledCase>);

// Refresh takes each interface's path into a detail record of 1280 bytes.
constexpr std::size_t kDetailBytes = 1280;
constexpr std::size_t kLongestPath =
    (kDetailBytes - offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath)) / sizeof(WCHAR) - 1;

struct PathLengthCase {
  const char* what;
  std::size_t length;
  bool registered;
};

std::ostream& operator<<(std::ostream& out, const PathLengthCase& c) { return out << c.what; }

class DeviceManagerPathLength : public DeviceManagerTest,
                                public testing::WithParamInterface<PathLengthCase> {};

TEST_P(DeviceManagerPathLength, TooLongForTheDetailRecordIsSkippedSilently) {
  standin::Path longPath = PathOf("\\\\?\\hid#");
  while (longPath.size() < GetParam().length) {
    longPath += static_cast<WCHAR>(u'a' + static_cast<WCHAR>(longPath.size() % 26));
  }
  devices.Plug(Pad(longPath));
  devices.Plug(Pad(kPadPath));
  Manager().Refresh();
  EXPECT_NE(Registered(kPadPath), nullptr);
  EXPECT_EQ(Registered(longPath) != nullptr, GetParam().registered);
  EXPECT_EQ(Manager().devices.size(), GetParam().registered ? 2U : 1U);
  EXPECT_EQ(devices.Opens(longPath), GetParam().registered ? 1 : 0);
}

const PathLengthCase kPathLengths[] = {
    {"LongestThatFits", kLongestPath, true},
    {"OneUnitTooLong", kLongestPath + 1, false},
    {"FarTooLong", 4 * kDetailBytes, false},
};

INSTANTIATE_TEST_SUITE_P(Paths, DeviceManagerPathLength, testing::ValuesIn(kPathLengths),
                         testdevices::CaseName<PathLengthCase>);

// ---- Poll -------------------------------------------------------------------

struct RefusalCase {
  const char* what;
  bool refuseFirstRead;  // else the read the completion starts
};

std::ostream& operator<<(std::ostream& out, const RefusalCase& c) { return out << c.what; }

class DeviceManagerRefusedRead : public DeviceManagerTest,
                                 public testing::WithParamInterface<RefusalCase> {};

TEST_P(DeviceManagerRefusedRead, LeavesTheDeviceIdleForTheNextPoll) {
  devices.Plug(Pad(kPadPath));
  Manager().Refresh();
  Device* device = Registered(kPadPath);
  ASSERT_NE(device, nullptr);
  int started = 0;
  if (GetParam().refuseFirstRead) {
    devices.SetReadsStart(kPadPath, false);
    Poll();
  } else {
    Poll();
    started = 1;
    devices.SetReadsStart(kPadPath, false);
    ASSERT_TRUE(devices.Deliver(kPadPath, {1, 1, 1, 1}));
    ASSERT_EQ(worker.AlertableWait(kPatienceMilliseconds), WAIT_IO_COMPLETION);
    ASSERT_EQ(sink.Count(), 1U);
  }
  EXPECT_EQ(devices.ReadsStarted(kPadPath), started);
  EXPECT_FALSE(ReadPending(*device));

  devices.SetReadsStart(kPadPath, true);
  Poll();
  EXPECT_EQ(devices.ReadsStarted(kPadPath), started + 1);
  EXPECT_TRUE(ReadPending(*device));
  const Bytes next = {2, 2, 2, 2};
  ASSERT_TRUE(devices.Deliver(kPadPath, next));
  ASSERT_EQ(worker.AlertableWait(kPatienceMilliseconds), WAIT_IO_COMPLETION);
  EXPECT_EQ(sink.Records().back().bytes, next);
}

const RefusalCase kRefusals[] = {
    {"FirstRead", true},
    {"ReadAfterACompletion", false},
};

INSTANTIATE_TEST_SUITE_P(Reads, DeviceManagerRefusedRead, testing::ValuesIn(kRefusals),
                         testdevices::CaseName<RefusalCase>);

// Only one poll ever runs: the reports after the first reach the sink because
// each completion starts the next read itself.
TEST_F(DeviceManagerTest, OnePollKeepsAStreamingDeviceReading) {
  devices.Plug(Pad(kPadPath));
  Manager().Refresh();
  Poll();
  for (int i = 1; i <= 3; ++i) {
    SCOPED_TRACE(testing::Message() << "report " << i);
    ASSERT_TRUE(devices.Deliver(kPadPath, {static_cast<BYTE>(i), 0, 0, 0}));
    ASSERT_EQ(worker.AlertableWait(kPatienceMilliseconds), WAIT_IO_COMPLETION);
    EXPECT_EQ(sink.Count(), static_cast<std::size_t>(i));
    EXPECT_EQ(devices.ReadsStarted(kPadPath), i + 1);
  }
}

// ---- Reader thread ----------------------------------------------------------

TEST_F(DeviceManagerTest, ReportBetweenPollsReachesTheSinkOnTheReaderThread) {
  devices.Plug(Pad(kPadPath));
  Manager().Refresh();
  Manager().Start();
  ASSERT_TRUE(devices.WaitForReads(kPadPath, 1, kPatience));
  const Bytes report = {0x10, 0x20, 0x30, 0x40};
  ASSERT_TRUE(devices.Deliver(kPadPath, report));
  ASSERT_TRUE(sink.WaitForReport(Registered(kPadPath), report));
  EXPECT_TRUE(devices.WaitForReads(kPadPath, 2, kPatience));
  EXPECT_NE(sink.Records()[0].thread, std::this_thread::get_id());
}

TEST_F(DeviceManagerTest, ReaderStartedWithoutDevicesPicksUpLaterOnes) {
  Manager().Refresh();
  Manager().Start();
  EXPECT_TRUE(Manager().devices.empty());
  devices.Plug(Pad(kPadPath));
  Manager().Refresh();
  ASSERT_TRUE(devices.WaitForReads(kPadPath, 1, kPatience));
  const Bytes report = {7, 7, 7, 7};
  ASSERT_TRUE(devices.Deliver(kPadPath, report));
  EXPECT_TRUE(sink.WaitForReport(Registered(kPadPath), report));
}

// Reads belong to the thread that issued them. Devices that arrive one after
// the other are first read by whichever reader polls next, so a second
// reader thread would soon show in the threads that reports arrive on.
TEST_F(DeviceManagerTest, StartTwiceRunsOneReaderThread) {
  Manager().Start();
  Manager().Start();
  for (int i = 0; i < 8; ++i) {
    const standin::Path path = PathOf(("\\\\?\\hid#pad" + std::to_string(i)).c_str());
    devices.Plug(Pad(path));
    Manager().Refresh();
    ASSERT_TRUE(devices.WaitForReads(path, 1, kPatience)) << "device " << i;
    const Bytes report = {static_cast<BYTE>(i), 0, 0, 0};
    ASSERT_TRUE(devices.Deliver(path, report));
    ASSERT_TRUE(sink.WaitForReport(Registered(path), report)) << "device " << i;
  }
  std::set<std::thread::id> threads;
  for (const auto& record : sink.Records()) {
    threads.insert(record.thread);
  }
  EXPECT_EQ(threads.size(), 1U);
  EXPECT_EQ(threads.count(std::this_thread::get_id()), 0U);
}

TEST_F(DeviceManagerTest, StopEndsTheReaderForGood) {
  devices.Plug(Pad(kPadPath));
  Manager().Refresh();
  Manager().Start();
  ASSERT_TRUE(devices.WaitForReads(kPadPath, 1, kPatience));
  Manager().Stop();
  Manager().Stop();
  Manager().Start();
  // The stopped reader's read went with it: this report is never taken, and
  // no reader polls a device registered now.
  ASSERT_TRUE(devices.Deliver(kPadPath, {9, 9, 9, 9}));
  devices.Plug(Pad(kStickPath));
  Manager().Refresh();
  ASSERT_NE(Registered(kStickPath), nullptr);
  Sleep(kSeveralPollsMilliseconds);
  EXPECT_EQ(sink.Count(), 0U);
  EXPECT_EQ(devices.ReadsStarted(kPadPath), 1);
  EXPECT_EQ(devices.ReadsStarted(kStickPath), 0);
}

// Devices come and go while reports stream in; the client's Refresh and the
// reader thread share the registry and the devices.
TEST_F(DeviceManagerTest, RefreshWhileReportsStream) {
  Manager().Start();
  constexpr int kRounds = 24;
  std::vector<standin::Path> plugged;
  for (int round = 0; round < kRounds; ++round) {
    const standin::Path path = PathOf(("\\\\?\\hid#stream" + std::to_string(round)).c_str());
    devices.Plug(Pad(path));
    plugged.push_back(path);
    Manager().Refresh();
    for (const standin::Path& present : plugged) {
      EXPECT_TRUE(devices.Deliver(present, {static_cast<BYTE>(round), 1, 2, 3}));
    }
    if (plugged.size() > 2) {
      devices.Unplug(plugged.front());
      plugged.erase(plugged.begin());
      Manager().Refresh();
    }
  }

  EXPECT_EQ(Manager().devices.size(), static_cast<std::size_t>(kRounds));
  for (const auto& entry : Manager().devices) {
    const bool present = entry.first == plugged[0] || entry.first == plugged[1];
    EXPECT_EQ(entry.second->active, present);
  }
  for (const standin::Path& present : plugged) {
    const Bytes last = {0xFF, 0xFE, 0xFD, 0xFC};
    ASSERT_TRUE(devices.Deliver(present, last));
    EXPECT_TRUE(sink.WaitForReport(Registered(present), last));
  }

  Manager().Stop();
  std::set<const Device*> registered;
  for (const auto& entry : Manager().devices) {
    registered.insert(entry.second);
  }
  for (const auto& record : sink.Records()) {
    EXPECT_EQ(registered.count(record.device), 1U);
    EXPECT_EQ(record.length, 4U);
  }
}

// ---- Lifetime ---------------------------------------------------------------

TEST_F(DeviceManagerTest, DestructorStopsTheReaderButLeavesTheDevices) {
  devices.Plug(Pad(kPadPath));
  std::vector<Device*> leftOver;
  {
    DeviceManager own;
    own.sink = &sink;
    own.Refresh();
    for (const auto& entry : own.devices) {
      leftOver.push_back(entry.second);
    }
    own.Start();
    ASSERT_TRUE(devices.WaitForReads(kPadPath, 1, kPatience));
    ASSERT_TRUE(devices.Deliver(kPadPath, {1, 2, 3, 4}));
    ASSERT_TRUE(sink.WaitForCount(1));
    ASSERT_TRUE(devices.WaitForReads(kPadPath, 2, kPatience));
  }
  EXPECT_EQ(DeviceManager::instance, nullptr);
  ASSERT_EQ(leftOver.size(), 1U);
  // Still open: the device has not been destroyed.
  ASSERT_EQ(devices.OpenHandles(kPadPath), 1);
  ASSERT_TRUE(devices.Deliver(kPadPath, {5, 6, 7, 8}));
  Sleep(kSeveralPollsMilliseconds);
  EXPECT_EQ(sink.Count(), 1U);
  EXPECT_EQ(devices.ReadsStarted(kPadPath), 2);

  for (Device* device : leftOver) {
    delete device;
  }
  EXPECT_EQ(devices.OpenHandles(kPadPath), 0);
}

TEST(DeviceManagerInstance, IsTheNewestManagerUntilItGoes) {
  auto older = std::make_unique<DeviceManager>();
  auto newer = std::make_unique<DeviceManager>();
  EXPECT_EQ(DeviceManager::instance, newer.get());
  older.reset();
  EXPECT_EQ(DeviceManager::instance, newer.get());
  newer.reset();
  EXPECT_EQ(DeviceManager::instance, nullptr);
}

// ---- Binding hid.dll --------------------------------------------------------

struct ExportCase {
  const char* what;  // the export's name
  bool (*bound)();
  bool calledByDevices;
};

std::ostream& operator<<(std::ostream& out, const ExportCase& c) { return out << c.what; }

namespace entries = HidEntryPoints;

// In the order Bind looks them up.
const ExportCase kExports[] = {
    {"HidD_GetHidGuid", [] { return entries::HidD_GetHidGuid != nullptr; }, true},
    {"HidD_GetAttributes", [] { return entries::HidD_GetAttributes != nullptr; }, true},
    {"HidD_GetProductString", [] { return entries::HidD_GetProductString != nullptr; }, true},
    {"HidD_GetManufacturerString", [] { return entries::HidD_GetManufacturerString != nullptr; },
     false},
    {"HidD_GetSerialNumberString", [] { return entries::HidD_GetSerialNumberString != nullptr; },
     false},
    {"HidD_GetPreparsedData", [] { return entries::HidD_GetPreparsedData != nullptr; }, true},
    {"HidD_FreePreparsedData", [] { return entries::HidD_FreePreparsedData != nullptr; }, true},
    {"HidP_GetCaps", [] { return entries::HidP_GetCaps != nullptr; }, true},
    {"HidP_GetSpecificButtonCaps", [] { return entries::HidP_GetSpecificButtonCaps != nullptr; },
     false},
    {"HidP_GetSpecificValueCaps", [] { return entries::HidP_GetSpecificValueCaps != nullptr; },
     false},
    {"HidP_SetData", [] { return entries::HidP_SetData != nullptr; }, false},
    {"HidP_InitializeReportForID", [] { return entries::HidP_InitializeReportForID != nullptr; },
     false},
    {"HidP_GetData", [] { return entries::HidP_GetData != nullptr; }, false},
    {"HidD_GetInputReport", [] { return entries::HidD_GetInputReport != nullptr; }, false},
};

// Leaves hid.dll whole and every entry bound for the tests that follow.
class HidBinding : public DeviceManagerTest {
 protected:
  void TearDown() override {
    standin::SetMissingHidExport(nullptr);
    standin::SetHidLibraryPresent(true);
    HidEntryPoints::Bind();
    (void)standin::TakeHidExportLookups();
    DeviceManagerTest::TearDown();
  }
};

TEST_F(HidBinding, LoadsTheLibraryThenLooksUpEveryNameInOrder) {
  standin::SetHidLibraryPresent(true);  // present, and not loaded yet
  ASSERT_EQ(GetModuleHandleW(WIDE_TEXT("hid.dll")), nullptr);
  (void)standin::TakeHidExportLookups();
  HidEntryPoints::Bind();
  std::vector<std::string> expected;
  for (const ExportCase& entry : kExports) {
    expected.emplace_back(entry.what);
    EXPECT_TRUE(entry.bound()) << entry.what;
  }
  EXPECT_EQ(standin::TakeHidExportLookups(), expected);
  EXPECT_TRUE(HidEntryPoints::UsableForDevices());
}

TEST_F(HidBinding, WithoutTheLibraryNothingIsBoundAndNoDeviceIsFound) {
  devices.Plug(Pad(kPadPath));
  standin::SetHidLibraryPresent(false);
  HidEntryPoints::Bind();
  for (const ExportCase& entry : kExports) {
    EXPECT_FALSE(entry.bound()) << entry.what;
  }
  EXPECT_FALSE(HidEntryPoints::UsableForDevices());
  Manager().Refresh();
  EXPECT_TRUE(Manager().devices.empty());
  EXPECT_EQ(devices.Opens(kPadPath), 0);
}

class HidBindingMissing : public HidBinding, public testing::WithParamInterface<ExportCase> {};

TEST_P(HidBindingMissing, LeavesThatEntryNullAndDevicesOnlyIfUnused) {
  devices.Plug(Pad(kPadPath));
  standin::SetMissingHidExport(GetParam().what);
  HidEntryPoints::Bind();
  EXPECT_FALSE(GetParam().bound());
  for (const ExportCase& other : kExports) {
    if (std::string_view(other.what) != GetParam().what) {
      EXPECT_TRUE(other.bound()) << other.what;
    }
  }
  EXPECT_EQ(HidEntryPoints::UsableForDevices(), !GetParam().calledByDevices);

  Manager().Refresh();
  const bool found = !GetParam().calledByDevices;
  EXPECT_EQ(Manager().devices.size(), found ? 1U : 0U);
  EXPECT_EQ(devices.Opens(kPadPath), found ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(Exports, HidBindingMissing, testing::ValuesIn(kExports),
                         testdevices::CaseName<ExportCase>);

}  // namespace
