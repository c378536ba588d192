#include "tests/ScriptedFixture.h"

#include <algorithm>
#include <utility>

#include "hid/HID.h"
#include "hid/HidEntryPoints.h"

namespace scriptedtest {

standin::Path PathOf(const char* ascii) {
  standin::Path path;
  for (; *ascii != 0; ++ascii) {
    path += static_cast<WCHAR>(*ascii);
  }
  return path;
}

standin::ScriptedDevice Pad(const standin::Path& path, USHORT inputLength) {
  standin::ScriptedDevice pad;
  pad.path = path;
  pad.attributes.VendorID = 0x045E;
  pad.attributes.ProductID = 0x028E;
  pad.attributes.VersionNumber = 0x0114;
  pad.product = WIDE_TEXT("Pad");
  pad.caps.UsagePage = 1;
  pad.caps.Usage = 5;
  pad.caps.InputReportByteLength = inputLength;
  return pad;
}

// ---- RecordingSink ----------------------------------------------------------

void RecordingSink::OnRead(MaruvelHID::Device* device, const MaruvelHID::InputReport* report) {
  Record record{device, Bytes(report->data, report->data + report->length), report->length,
                report->tickCount, std::this_thread::get_id()};
  {
    const std::lock_guard<std::mutex> hold(mutex);
    records.push_back(std::move(record));
  }
  arrived.notify_all();
}

std::vector<RecordingSink::Record> RecordingSink::Records() const {
  const std::lock_guard<std::mutex> hold(mutex);
  return records;
}

std::size_t RecordingSink::Count() const {
  const std::lock_guard<std::mutex> hold(mutex);
  return records.size();
}

bool RecordingSink::WaitForCount(std::size_t count, std::chrono::milliseconds timeout) const {
  std::unique_lock<std::mutex> hold(mutex);
  return arrived.wait_for(hold, timeout, [&] { return records.size() >= count; });
}

bool RecordingSink::WaitForReport(const MaruvelHID::Device* device, const Bytes& bytes,
                                  std::chrono::milliseconds timeout) const {
  std::unique_lock<std::mutex> hold(mutex);
  return arrived.wait_for(hold, timeout, [&] {
    return std::any_of(records.begin(), records.end(), [&](const Record& record) {
      return record.device == device && record.bytes == bytes;
    });
  });
}

// ---- Worker -----------------------------------------------------------------

Worker::Worker() : thread([this] { Loop(); }) {}

Worker::~Worker() { Stop(); }

DWORD Worker::AlertableWait(DWORD milliseconds) {
  return Run([milliseconds] { return SleepEx(milliseconds, TRUE); });
}

void Worker::Stop() {
  {
    const std::lock_guard<std::mutex> hold(mutex);
    stopping = true;
  }
  changed.notify_all();
  if (thread.joinable()) {
    thread.join();
  }
}

void Worker::RunHere(const std::function<void()>& task) {
  std::unique_lock<std::mutex> hold(mutex);
  pending = &task;
  changed.notify_all();
  changed.wait(hold, [this] { return pending == nullptr; });
}

void Worker::Loop() {
  std::unique_lock<std::mutex> hold(mutex);
  for (;;) {
    changed.wait(hold, [this] { return pending != nullptr || stopping; });
    if (pending == nullptr) {
      return;  // stopping; the thread's reads in flight go with it
    }
    const std::function<void()>* task = pending;
    hold.unlock();
    (*task)();
    hold.lock();
    pending = nullptr;
    changed.notify_all();
  }
}

// ---- ScriptedTest -----------------------------------------------------------

void ScriptedTest::SetUp() {
  (void)standin::UseDeviceSource(&devices);
  HidEntryPoints::Bind();
}

void ScriptedTest::TearDown() {
  // No thread that may still complete a read outlives this point.
  worker.Stop();
  if (manager) {
    manager->Stop();
    for (const auto& entry : manager->devices) {
      owned.emplace_back(entry.second);
    }
    manager.reset();
  }
  owned.clear();
  (void)standin::UseDeviceSource(nullptr);
}

MaruvelHID::Device* ScriptedTest::OpenDevice(const standin::ScriptedDevice& description) {
  devices.Plug(description);
  auto* hid = new HID(description.path.c_str());
  EXPECT_TRUE(hid->Open());
  owned.push_back(std::make_unique<MaruvelHID::Device>(hid, description.caps));
  return owned.back().get();
}

MaruvelHID::DeviceManager& ScriptedTest::Manager() {
  if (!manager) {
    manager = std::make_unique<MaruvelHID::DeviceManager>();
    manager->sink = &sink;
  }
  return *manager;
}

MaruvelHID::Device* ScriptedTest::Registered(const standin::Path& path) {
  if (!manager) {
    return nullptr;
  }
  auto found = manager->devices.find(path);
  return found == manager->devices.end() ? nullptr : found->second;
}

bool ScriptedTest::ReadPending(MaruvelHID::Device& device) {
  const Kettrin::CriticalSectionLock hold(device.lock);
  return device.readPending;
}

}  // namespace scriptedtest
