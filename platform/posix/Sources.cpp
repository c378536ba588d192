// Which device source the stand-in reads.
#include <atomic>

#include "platform/posix/DeviceSource.h"

namespace standin {

namespace {

// The system's own devices. None can be listed yet: this source presents an
// empty machine.
class SystemDevices final : public DeviceSource {
 public:
  std::vector<Path> PresentPaths() override { return {}; }
  std::unique_ptr<OpenInterface> Open(const Path& /*path*/, DWORD& error) override {
    error = ERROR_FILE_NOT_FOUND;
    return nullptr;
  }
};

std::atomic<DeviceSource*> chosen{nullptr};

}  // namespace

DeviceSource& CurrentDeviceSource() {
  if (DeviceSource* source = chosen.load()) {
    return *source;
  }
  static auto* system = new SystemDevices;
  return *system;
}

DeviceSource* UseDeviceSource(DeviceSource* source) { return chosen.exchange(source); }

}  // namespace standin
