// Which device source the stand-in reads.
#include <atomic>

#include "platform/posix/DeviceSource.h"
#include "platform/posix/hidraw/HidrawDevices.h"

namespace standin {

namespace {

std::atomic<DeviceSource*> chosen{nullptr};

}  // namespace

DeviceSource& CurrentDeviceSource() {
  if (DeviceSource* source = chosen.load()) {
    return *source;
  }
  // Never destroyed: the reader thread may still use it while the process ends.
  static auto* system = new HidrawDevices("/sys", "/dev");
  return *system;
}

DeviceSource* UseDeviceSource(DeviceSource* source) { return chosen.exchange(source); }

}  // namespace standin
