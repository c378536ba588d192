// What the HID library hands to its client: the description of a device,
// the record of one completed read, and the interface reports arrive on.
#pragma once

#include <string>

#include "platform/WinApi.h"

namespace MaruvelHID {

// UTF-16 text as the library keeps it: interface paths and product names.
using WideString = std::basic_string<WCHAR>;

class Device;

// One completed read, built on the stack for a single delivery.
struct InputReport {
  // The device's read buffer. It belongs to the device and is valid only
  // during the OnRead call: a client that keeps the bytes copies them.
  const BYTE* data;
  // Bytes the read transferred; never 0 in a delivered report. Normally the
  // device's caps.InputReportByteLength, but not to be relied on.
  DWORD length;
  // GetTickCount() when the completion was handled.
  DWORD tickCount;
};

// The one sink of every completed read. OnRead runs on the reader thread,
// inside the device's completion handling and under the device's lock: it
// must not wait for the reader thread nor take the DeviceManager's lock.
// The library never owns or destroys a sink.
class IReadNotification {
 public:
  virtual void OnRead(Device* device, const InputReport* report) = 0;

 protected:
  IReadNotification() = default;
  IReadNotification(const IReadNotification&) = default;
  IReadNotification& operator=(const IReadNotification&) = default;
  IReadNotification(IReadNotification&&) = default;
  IReadNotification& operator=(IReadNotification&&) = default;
  ~IReadNotification() = default;
};

// One HID device as the library presents it. The description (caps,
// attributes, name) is filled once at construction and only read after.
class Device {
 public:
  // A device known only by its description, with no handle and no reads.
  // An empty name becomes "Unnamed Device".
  Device(const HIDP_CAPS& deviceCaps, const HIDD_ATTRIBUTES& deviceAttributes,
         WideString productName);
  virtual ~Device();

  Device(const Device&) = delete;
  Device& operator=(const Device&) = delete;
  Device(Device&&) = delete;
  Device& operator=(Device&&) = delete;

  // Capabilities of the device's top-level collection.
  HIDP_CAPS caps;
  // Vendor, product and version; all 0 when they could not be read.
  HIDD_ATTRIBUTES attributes;
  // The product string, or "Unnamed Device".
  WideString name;
};

}  // namespace MaruvelHID
