// The tool's sink for every report of every device.
#pragma once

#include <map>

#include "hid/Device.h"
#include "trainer/DeviceTrainer.h"

// Keeps one DeviceTrainer per device that has reported and passes each
// non-empty report to it. Runs on the reader thread only, so it takes no
// lock.
// Final, and never deleted through its interface, whose destructor is protected.
// NOLINTNEXTLINE(cppcoreguidelines-virtual-class-destructor)
class Handler final : public MaruvelHID::IReadNotification {
 public:
  Handler() = default;
  // Destroys every trainer, in order of their devices' addresses.
  ~Handler();

  Handler(const Handler&) = delete;
  Handler& operator=(const Handler&) = delete;
  Handler(Handler&&) = delete;
  Handler& operator=(Handler&&) = delete;

  void OnRead(MaruvelHID::Device* device, const MaruvelHID::InputReport* report) override;

  // The device's trainer, created on first use; owned by the handler.
  DeviceTrainer* GetTrainer(MaruvelHID::Device* device);

 private:
  std::map<MaruvelHID::Device*, DeviceTrainer*> trainers;
};
