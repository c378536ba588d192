// Learns the buttons of one device from its input reports alone.
#pragma once

#include <cstdint>
#include <set>

#include "hid/Device.h"

// A report that differs from the device's previous report in exactly one bit
// shows a button; that bit's position (byte index * 8 + bit, bit 0 the least
// significant, byte 0 the first byte as read) is the button's identity. The
// first time a position is seen, one line names the device and the bit.
class DeviceTrainer {
 public:
  // The device is not owned and must outlive the trainer.
  explicit DeviceTrainer(MaruvelHID::Device* watched);
  ~DeviceTrainer();

  DeviceTrainer(const DeviceTrainer&) = delete;
  DeviceTrainer& operator=(const DeviceTrainer&) = delete;
  DeviceTrainer(DeviceTrainer&&) = delete;
  DeviceTrainer& operator=(DeviceTrainer&&) = delete;

  // Considers one report: compares it with the last accepted one and learns
  // the bit if exactly one changed. A report of another length is reported
  // and ignored.
  void OnReport(const MaruvelHID::InputReport* report);

  // Learns one bit position; prints its line the first time.
  void RecordButton(std::uint32_t position);

  // The number (0 to 7) of the only set bit of a byte with one bit set.
  static int SingleBitIndex(BYTE bits);

 private:
  std::uint32_t length;
  MaruvelHID::Device* device;
  BYTE* previous;
  bool hasPrevious = false;
  std::set<std::uint32_t> buttons;
};
