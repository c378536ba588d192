// The HID library's one process-wide object: the registry of devices, the
// reader thread that keeps a read outstanding on each, and the sink they
// deliver to.
#pragma once

#include <atomic>
#include <map>

#include "hid/Device.h"
#include "platform/WinApi.h"
#include "sync/CriticalSection.h"

namespace MaruvelHID {

// Lock order: the manager's lock before any device's, never the other way
// round. Refresh and Start run on the client's thread; Poll and every
// completion on the reader thread.
class DeviceManager {
 public:
  // Empty registry, no sink, no thread; becomes the process-wide instance.
  DeviceManager();
  // Stops the reader thread if it runs, then frees the registry's entries
  // but not the devices: those live, handles open, until the process ends.
  ~DeviceManager();

  DeviceManager(const DeviceManager&) = delete;
  DeviceManager& operator=(const DeviceManager&) = delete;
  DeviceManager(DeviceManager&&) = delete;
  DeviceManager& operator=(DeviceManager&&) = delete;

  // Brings the registry up to date with the present HID interfaces: opens,
  // registers and activates the new ones that have input reports, and
  // deactivates the registered ones no longer present. Silent about every
  // failure. May be called at any time, more than once.
  void Refresh();
  // Launches the reader thread unless it was launched already.
  void Start();
  // One pass of the reader thread: issues a read on every device whose read
  // is not pending (an inactive device issues none).
  void Poll();
  // Asks the reader thread to end and waits until it has; it cannot be
  // started again. Must not be called on the reader thread.
  void Stop();

  // The reader thread: Poll, then an alertable 50 ms sleep in which the
  // completion routines of the finished reads run; until Stop.
  static DWORD WINAPI ReaderThreadProc(LPVOID manager);

  // The manager whose sink every device delivers to; set while one exists.
  static DeviceManager* instance;

  // The reader thread has been launched.
  bool threadStarted = false;
  // Interface path to device; entries are only ever added.
  std::map<WideString, Device*> devices;
  // Where reports go; set by the client before Refresh and Start. Not owned.
  IReadNotification* sink = nullptr;
  // Guards threadStarted and devices.
  Kettrin::OrmCriticalSection lock;

 private:
  HANDLE readerThread = nullptr;
  std::atomic<bool> stopRequested{false};
};

}  // namespace MaruvelHID
