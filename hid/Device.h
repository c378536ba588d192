// What the HID library hands to its client: the description of a device,
// the record of one completed read, and the interface reports arrive on.
#pragma once

#include <string>

#include "platform/WinApi.h"
#include "sync/CriticalSection.h"

class HID;

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

// One HID device as the library presents it: its description, the HID
// handle it owns, and the machinery that keeps exactly one overlapped read
// outstanding while it is active and hands every completed report to the
// DeviceManager's sink, under the device's lock.
//
// Reads are issued on the reader thread only (by Poll and by the completion
// handling), so their completions run there, in its alertable sleep.
// Activate and Deactivate run on the thread that calls Refresh.
class Device {
 public:
  // A device over an open HID handle, of which it takes ownership; reads its
  // attributes and product name and allocates its read buffer. Inactive.
  Device(HID* deviceHid, const HIDP_CAPS& deviceCaps);
  // A device known only by its description, with no handle and no reads.
  // An empty name becomes "Unnamed Device".
  Device(const HIDP_CAPS& deviceCaps, const HIDD_ATTRIBUTES& deviceAttributes,
         WideString productName);
  // Must not run while a read is in flight with the system: the device is
  // its completion's context. Devices of a DeviceManager live until the
  // process ends.
  virtual ~Device();

  Device(const Device&) = delete;
  Device& operator=(const Device&) = delete;
  Device(Device&&) = delete;
  Device& operator=(Device&&) = delete;

  // Wanted: reads are issued from the next Poll on. Issues none itself.
  void Activate();
  // No longer wanted: no further read is issued. A read in flight still
  // completes, and its report is still delivered.
  void Deactivate();
  // Starts the next read if the device is active, open and idle.
  void IssueRead();
  // Forgets the pending read; the read itself stays with the system.
  void CancelRead();

  // The completion routine given to ReadFileEx; the device travels in the
  // record's hEvent. The error code is not looked at: an error shows as zero
  // bytes.
  static VOID CALLBACK ReadCompletionRoutine(DWORD errorCode, DWORD bytesTransferred,
                                             LPOVERLAPPED completed);
  // Delivers a non-empty report to the sink, then issues the next read at
  // once, all under the lock.
  void OnReadComplete(DWORD bytesTransferred);

  // A read has been started and its completion not handled yet.
  bool readPending = false;
  // Reads are issued only while set.
  bool active = false;
  // The open interface, owned; null for a device known by description only.
  HID* hid = nullptr;
  // Capabilities of the device's top-level collection.
  HIDP_CAPS caps;
  // Vendor, product and version; all 0 when they could not be read.
  HIDD_ATTRIBUTES attributes{};
  // The product string, or "Unnamed Device".
  WideString name;
  // The outstanding read's record; hEvent carries this device.
  OVERLAPPED overlapped{};
  // caps.InputReportByteLength bytes from malloc, reused for every read;
  // null when there is no handle or the allocation failed.
  BYTE* buffer = nullptr;
  // Guards readPending, active, overlapped and buffer.
  Kettrin::OrmCriticalSection lock;
};

}  // namespace MaruvelHID
