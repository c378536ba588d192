// The device layer over scripted devices: a scripted source per test, a sink
// that records what reaches it, and a worker thread on which a test issues
// and completes reads.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <type_traits>
#include <vector>

#include "hid/Device.h"
#include "hid/DeviceManager.h"
#include "platform/posix/scripted/ScriptedDevices.h"

namespace scriptedtest {

using Bytes = std::vector<BYTE>;

// Long enough for any report, event or thread start a test waits for.
constexpr std::chrono::milliseconds kPatience{5000};
// Alertable waits that must complete something are given this long.
constexpr DWORD kPatienceMilliseconds = 5000;

// A path of ASCII text as the stand-in spells interface paths.
standin::Path PathOf(const char* ascii);

// A plugged-in game pad: vendor 0x045E, product 0x028E, version 0x0114,
// usage page 1, usage 5, named "Pad", with input reports of 'inputLength'
// bytes.
standin::ScriptedDevice Pad(const standin::Path& path, USHORT inputLength = 4);

// Copies every report that reaches it, with its device and the thread it was
// delivered on. Safe to read from any thread while reports arrive. Never
// destroyed through the interface, whose destructor is protected.
// NOLINTNEXTLINE(cppcoreguidelines-virtual-class-destructor)
class RecordingSink final : public MaruvelHID::IReadNotification {
 public:
  struct Record {
    MaruvelHID::Device* device;
    Bytes bytes;  // 'length' bytes copied from the report's data
    DWORD length;
    DWORD tickCount;
    std::thread::id thread;
  };

  void OnRead(MaruvelHID::Device* device, const MaruvelHID::InputReport* report) override;

  std::vector<Record> Records() const;
  std::size_t Count() const;
  // Blocks until 'count' reports have arrived (true) or the time is up.
  bool WaitForCount(std::size_t count, std::chrono::milliseconds timeout = kPatience) const;
  // Blocks until a report of 'device' with exactly 'bytes' has arrived.
  bool WaitForReport(const MaruvelHID::Device* device, const Bytes& bytes,
                     std::chrono::milliseconds timeout = kPatience) const;

 private:
  mutable std::mutex mutex;
  mutable std::condition_variable arrived;
  std::vector<Record> records;
};

// A thread that runs the tasks given to Run, one at a time. Reads a task
// issues belong to this thread: their routines run only in the alertable
// waits of later tasks, and are dropped when the thread ends.
class Worker {
 public:
  Worker();
  ~Worker();
  Worker(const Worker&) = delete;
  Worker& operator=(const Worker&) = delete;
  Worker(Worker&&) = delete;
  Worker& operator=(Worker&&) = delete;

  // Runs 'task' on the worker and returns what it returned, once it has.
  template <class Task>
  auto Run(Task task) -> decltype(task()) {
    using Result = decltype(task());
    if constexpr (std::is_void_v<Result>) {
      RunHere(std::function<void()>(task));
    } else {
      Result result{};
      RunHere([&result, &task] { result = task(); });
      return result;
    }
  }
  // An alertable SleepEx on the worker: WAIT_IO_COMPLETION when a completion
  // routine ran, 0 when none did within 'milliseconds'.
  DWORD AlertableWait(DWORD milliseconds);
  // Ends the thread; the reads it started and that are still in flight are
  // dropped. Run must not be called afterwards.
  void Stop();

 private:
  void RunHere(const std::function<void()>& task);
  void Loop();

  std::mutex mutex;
  std::condition_variable changed;
  const std::function<void()>* pending = nullptr;
  bool stopping = false;
  std::thread thread;
};

// Installs a fresh scripted source for each test and binds hid.dll. Devices
// made with OpenDevice and those the manager registered are destroyed at the
// end of the test, after the worker and the reader thread have ended.
class ScriptedTest : public testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Plugs 'description' in and builds a device over a handle opened on it,
  // with the description's caps; inactive. Owned by the fixture.
  MaruvelHID::Device* OpenDevice(const standin::ScriptedDevice& description);
  // The test's manager, made on first use with the recording sink; it is
  // the process-wide instance from then on.
  MaruvelHID::DeviceManager& Manager();
  // The device the manager registered under 'path', else null.
  MaruvelHID::Device* Registered(const standin::Path& path);
  // The device's readPending, read under its lock.
  static bool ReadPending(MaruvelHID::Device& device);

  standin::ScriptedDevices devices;
  RecordingSink sink;
  Worker worker;

 private:
  std::unique_ptr<MaruvelHID::DeviceManager> manager;
  std::vector<std::unique_ptr<MaruvelHID::Device>> owned;
};

}  // namespace scriptedtest
