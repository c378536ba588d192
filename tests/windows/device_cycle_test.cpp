// The device layer's read cycle over the real ReadFileEx and SleepEx, with a
// named pipe in place of a HID interface: HID::Open opens it as it opens a
// device, and MaruvelHID::Device keeps one read outstanding on it, re-armed
// from inside each completion.
#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <vector>

#include "hid/Device.h"
#include "hid/DeviceManager.h"
#include "hid/HID.h"
#include "hid/HidEntryPoints.h"
#include "tests/windows/PipeDevice.h"

namespace {

using MaruvelHID::Device;
using windowstest::Bytes;
using windowstest::kPatienceMilliseconds;

constexpr DWORD kQuietMilliseconds = 50;
constexpr USHORT kReportBytes = 4;

// Copies every report that reaches it, with the thread it arrived on.
// Never destroyed through the interface, whose destructor is protected.
// NOLINTNEXTLINE(cppcoreguidelines-virtual-class-destructor)
class Recorder final : public MaruvelHID::IReadNotification {
 public:
  struct Record {
    Device* device;
    Bytes bytes;
    DWORD thread;
  };

  void OnRead(Device* device, const MaruvelHID::InputReport* report) override {
    const std::lock_guard<std::mutex> hold(mutex);
    records.push_back(
        {device, Bytes(report->data, report->data + report->length), GetCurrentThreadId()});
  }

  std::vector<Record> Records() const {
    const std::lock_guard<std::mutex> hold(mutex);
    return records;
  }

 private:
  mutable std::mutex mutex;
  std::vector<Record> records;
};

std::vector<Bytes> BytesOf(const std::vector<Recorder::Record>& records) {
  std::vector<Bytes> bytes;
  for (const Recorder::Record& record : records) {
    bytes.push_back(record.bytes);
  }
  return bytes;
}

class DeviceOverPipe : public testing::Test {
 protected:
  void SetUp() override {
    HidEntryPoints::Bind();
    manager.sink = &recorder;
    auto* hid = new HID(pipe.Path().c_str());
    if (!hid->Open() || !windowstest::ReadMessages(hid->handle)) {
      delete hid;
      FAIL() << "the pipe does not open as a device: " << GetLastError();
    }
    HIDP_CAPS caps{};
    caps.UsagePage = 1;
    caps.Usage = 5;
    caps.InputReportByteLength = kReportBytes;
    device = std::make_unique<Device>(hid, caps);
  }

  void TearDown() override {
    if (device == nullptr) {
      return;
    }
    // The device must not go while this thread has a read of it in flight.
    device->Deactivate();
    (void)CancelIo(device->hid->handle);
    (void)SleepEx(kQuietMilliseconds, TRUE);
  }

  // Runs this thread's completions until 'count' reports have arrived.
  bool AlertableWaitFor(size_t count) {
    const ULONGLONG deadline = GetTickCount64() + kPatienceMilliseconds;
    while (recorder.Records().size() < count && GetTickCount64() < deadline) {
      (void)SleepEx(kQuietMilliseconds, TRUE);
    }
    return recorder.Records().size() >= count;
  }

  windowstest::PipeDevice pipe;
  Recorder recorder;
  MaruvelHID::DeviceManager manager;
  std::unique_ptr<Device> device;
};

TEST_F(DeviceOverPipe, OpensAsAnUnnamedDeviceWithItsBuffer) {
  // A pipe answers none of hid.dll's questions.
  EXPECT_NE(device->hid->handle, nullptr);
  EXPECT_EQ(device->hid->preparsed, nullptr);
  EXPECT_EQ(device->name, MaruvelHID::WideString(L"Unnamed Device"));
  EXPECT_EQ(device->attributes.VendorID, 0);
  EXPECT_NE(device->buffer, nullptr);
  EXPECT_FALSE(device->readPending);
}

TEST_F(DeviceOverPipe, EachCompletionDeliversAndReArms) {
  device->Activate();
  device->IssueRead();  // the only read the test starts
  ASSERT_TRUE(device->readPending) << GetLastError();
  const std::vector<Bytes> reports = {{1, 2, 3, 4}, {5, 6}, {7, 8, 9, 10}, {0, 0, 0, 0}};
  for (const Bytes& report : reports) {
    ASSERT_TRUE(pipe.Write(report));
  }

  ASSERT_TRUE(AlertableWaitFor(reports.size()));
  const std::vector<Recorder::Record> records = recorder.Records();
  EXPECT_EQ(BytesOf(records), reports);
  for (const Recorder::Record& record : records) {
    EXPECT_EQ(record.device, device.get());
    EXPECT_EQ(record.thread, GetCurrentThreadId());
  }
  // The last completion armed the next read.
  EXPECT_TRUE(device->readPending);
  ASSERT_TRUE(pipe.Write({0x11, 0x22, 0x33, 0x44}));
  ASSERT_TRUE(AlertableWaitFor(reports.size() + 1));
  EXPECT_EQ(recorder.Records().back().bytes, (Bytes{0x11, 0x22, 0x33, 0x44}));
}

TEST_F(DeviceOverPipe, DeactivatedDeviceDeliversTheReadInFlightAndStops) {
  device->Activate();
  device->IssueRead();
  ASSERT_TRUE(device->readPending);
  device->Deactivate();
  ASSERT_TRUE(pipe.Write({1, 1, 1, 1}));
  ASSERT_TRUE(pipe.Write({2, 2, 2, 2}));
  ASSERT_TRUE(AlertableWaitFor(1));
  EXPECT_EQ(SleepEx(kQuietMilliseconds, TRUE), 0U);
  EXPECT_EQ(BytesOf(recorder.Records()), (std::vector<Bytes>{{1, 1, 1, 1}}));
  EXPECT_FALSE(device->readPending);
}

TEST_F(DeviceOverPipe, DeviceGoneEndsTheCycleWithoutAReport) {
  device->Activate();
  device->IssueRead();
  ASSERT_TRUE(device->readPending);
  pipe.Close();
  EXPECT_EQ(SleepEx(kPatienceMilliseconds, TRUE), WAIT_IO_COMPLETION);
  EXPECT_TRUE(recorder.Records().empty());
  // The re-arm failed at once, so nothing is in flight and nothing is queued.
  EXPECT_FALSE(device->readPending);
  EXPECT_EQ(SleepEx(kQuietMilliseconds, TRUE), 0U);
  // A later Poll tries again and fails again, quietly.
  device->IssueRead();
  EXPECT_FALSE(device->readPending);
}

TEST_F(DeviceOverPipe, ReaderThreadIssuesAndCompletesTheReads) {
  device->Activate();
  manager.devices.emplace(pipe.Path(), device.get());
  manager.Start();
  const std::vector<Bytes> reports = {{1, 0, 0, 0}, {2, 0, 0, 0}, {3, 0, 0, 0}};
  for (const Bytes& report : reports) {
    ASSERT_TRUE(pipe.Write(report));
  }
  const ULONGLONG deadline = GetTickCount64() + kPatienceMilliseconds;
  while (recorder.Records().size() < reports.size() && GetTickCount64() < deadline) {
    Sleep(10);
  }
  manager.Stop();

  const std::vector<Recorder::Record> records = recorder.Records();
  EXPECT_EQ(BytesOf(records), reports);
  ASSERT_FALSE(records.empty());
  EXPECT_NE(records.front().thread, GetCurrentThreadId());
  for (const Recorder::Record& record : records) {
    EXPECT_EQ(record.thread, records.front().thread);
  }
}

}  // namespace
