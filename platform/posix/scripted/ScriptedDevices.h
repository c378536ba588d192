// A device source of scripted devices, for tests and the demonstration: a
// test describes the devices, and delivers their reports when it chooses.
#pragma once

#include <chrono>
#include <memory>
#include <vector>

#include "platform/posix/DeviceSource.h"

namespace standin {

// How one scripted device looks and behaves.
struct ScriptedDevice {
  Path path;
  HIDD_ATTRIBUTES attributes{};  // VendorID, ProductID, VersionNumber
  Path product;
  HIDP_CAPS caps{};
  bool opens = true;             // false: CreateFileW is refused
  bool hasAttributes = true;     // false: HidD_GetAttributes fails
  bool hasProductString = true;  // false: HidD_GetProductString fails
  bool hasPreparsedData = true;  // false: HidD_GetPreparsedData fails
};

// Every operation may be called from any thread. Reports go to the handles
// open at the time, each of which queues them until read, as the system's
// HID drivers do; a device nobody has open drops them.
class ScriptedDevices final : public DeviceSource {
 public:
  ScriptedDevices();
  ~ScriptedDevices() override;
  ScriptedDevices(const ScriptedDevices&) = delete;
  ScriptedDevices& operator=(const ScriptedDevices&) = delete;
  ScriptedDevices(ScriptedDevices&&) = delete;
  ScriptedDevices& operator=(ScriptedDevices&&) = delete;

  // Makes the device present under its path, replacing the description the
  // path had. Handles opened before it was unplugged stay gone.
  void Plug(const ScriptedDevice& device);
  // Takes the device away: it is no longer listed nor opened, and each open
  // handle on it goes: the reports already queued on it are still read, then
  // one read completes with an error and no bytes, and later reads fail at
  // once.
  void Unplug(const Path& path);

  // Queues a report on every open handle of the path. False when none is open.
  bool Deliver(const Path& path, const std::vector<BYTE>& report);
  // Completes the next read of every open handle with no error and no bytes.
  bool DeliverNothing(const Path& path);
  // Completes the next read of every open handle with 'error' and no bytes;
  // the device stays.
  bool DeliverError(const Path& path, DWORD error);
  // Whether ReadFileEx is accepted on the path's handles (at first it is).
  void SetReadsStart(const Path& path, bool start);

  // Handles CreateFileW opened on the path, all told.
  int Opens(const Path& path) const;
  // Handles on the path that are open and not gone with an unplug.
  int OpenHandles(const Path& path) const;
  // Reads ReadFileEx started on the path, all told.
  int ReadsStarted(const Path& path) const;
  // Blocks until ReadsStarted(path) reaches 'count' (true) or the time is up.
  bool WaitForReads(const Path& path, int count, std::chrono::milliseconds timeout) const;

  std::vector<Path> PresentPaths() override;
  std::unique_ptr<OpenInterface> Open(const Path& path, DWORD& error) override;

  struct State;

 private:
  std::shared_ptr<State> state;
};

}  // namespace standin
