// Figures for the read cycle over scripted devices: reports per second
// through the reader thread, reads started per report, heap allocations per
// report on the reader thread, and the reader thread's CPU time while the
// devices are idle. Prints figures; asserts nothing about them.
//
//   read_cycle_bench [REPORTS]    (default 200000)
#include <pthread.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "hid/DeviceManager.h"
#include "hid/HidEntryPoints.h"
#include "platform/posix/scripted/ScriptedDevices.h"

namespace {

// Heap allocations made by operator new on the calling thread.
thread_local std::size_t threadAllocations = 0;

}  // namespace

void* operator new(std::size_t size) {
  ++threadAllocations;
  if (void* block = std::malloc(size == 0 ? 1 : size)) {
    return block;
  }
  throw std::bad_alloc();
}
void operator delete(void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t /*size*/) noexcept { std::free(block); }

namespace {

using standin::Path;

// Counts the reports and notes, on the reader thread, what it has allocated
// and its CPU clock.
// NOLINTNEXTLINE(cppcoreguidelines-virtual-class-destructor)
class CountingSink final : public MaruvelHID::IReadNotification {
 public:
  void OnRead(MaruvelHID::Device* /*device*/, const MaruvelHID::InputReport* /*report*/) override {
    if (count.load() == 0) {
      (void)pthread_getcpuclockid(pthread_self(), &readerClock);
    }
    lastAllocations = threadAllocations;
    if (count.load() == 0) {
      firstAllocations = threadAllocations;
    }
    ++count;
  }

  std::atomic<std::size_t> count{0};
  std::atomic<std::size_t> firstAllocations{0};
  std::atomic<std::size_t> lastAllocations{0};
  clockid_t readerClock{};
};

Path PathOf(const std::string& ascii) { return Path(ascii.begin(), ascii.end()); }

double Seconds(std::chrono::steady_clock::duration elapsed) {
  return std::chrono::duration<double>(elapsed).count();
}

double CpuMilliseconds(clockid_t clock) {
  timespec now{};
  (void)clock_gettime(clock, &now);
  return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

void Measure(std::size_t deviceCount, std::size_t reports) {
  standin::ScriptedDevices devices;
  (void)standin::UseDeviceSource(&devices);
  std::vector<Path> paths;
  for (std::size_t i = 0; i < deviceCount; ++i) {
    standin::ScriptedDevice device;
    device.path = PathOf("/bench/" + std::to_string(i));
    device.attributes.VendorID = 0x1000;
    device.product = WIDE_TEXT("Bench");
    device.caps.UsagePage = 1;
    device.caps.Usage = 5;
    device.caps.InputReportByteLength = 20;
    devices.Plug(device);
    paths.push_back(device.path);
  }

  CountingSink sink;
  auto* manager = new MaruvelHID::DeviceManager;
  manager->sink = &sink;
  manager->Refresh();
  manager->Start();
  for (const Path& path : paths) {
    (void)devices.WaitForReads(path, 1, std::chrono::seconds(10));
  }

  const std::vector<BYTE> report(20, 0x5A);
  const auto start = std::chrono::steady_clock::now();
  for (std::size_t i = 0; i < reports; ++i) {
    (void)devices.Deliver(paths[i % deviceCount], report);
  }
  while (sink.count.load() < reports) {
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  const double seconds = Seconds(std::chrono::steady_clock::now() - start);

  std::size_t readsStarted = 0;
  for (const Path& path : paths) {
    readsStarted += static_cast<std::size_t>(devices.ReadsStarted(path));
  }
  const double allocationsPerReport =
      static_cast<double>(sink.lastAllocations - sink.firstAllocations) /
      static_cast<double>(reports - 1);

  const double cpuBefore = CpuMilliseconds(sink.readerClock);
  std::this_thread::sleep_for(std::chrono::seconds(1));
  const double idleCpu = CpuMilliseconds(sink.readerClock) - cpuBefore;

  std::printf("%2zu device(s), %zu reports: %.0f reports/s, %.3f reads started per report,\n",
              deviceCount, reports, static_cast<double>(reports) / seconds,
              static_cast<double>(readsStarted - deviceCount) / static_cast<double>(reports));
  std::printf(
      "    %.2f heap allocations per report on the reader thread (the stand-in's"
      " wait included),\n    %.1f ms of reader CPU in 1 s with every device idle\n",
      allocationsPerReport, idleCpu);

  manager->Stop();
  std::vector<MaruvelHID::Device*> registered;
  for (const auto& entry : manager->devices) {
    registered.push_back(entry.second);
  }
  delete manager;
  for (MaruvelHID::Device* device : registered) {
    delete device;
  }
  (void)standin::UseDeviceSource(nullptr);
}

}  // namespace

int main(int argc, char** argv) {
  const std::size_t reports = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 200000;
  if (reports < 2) {
    (void)std::fprintf(stderr, "read_cycle_bench: give at least 2 reports\n");
    return 2;
  }
  HidEntryPoints::Bind();
  Measure(1, reports);
  Measure(10, reports);
  return 0;
}
