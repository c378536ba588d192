// The seam between the Windows stand-in and the devices it presents.
//
// The stand-in's SetupAPI lists a source's interface paths, CreateFileW opens
// them, the hid.dll exports describe them and ReadFileEx/SleepEx read them.
// A source is the system's own devices or a script of a test's.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/WinApi.h"

namespace standin {

using Path = std::basic_string<WCHAR>;

// What one attempt to take a report from an open interface gave.
struct ReadResult {
  enum Status {
    kNotReady,  // nothing yet: the read stays in flight
    kDone,      // a read completed: 'bytes' bytes (possibly 0), 'error' its code
    kGone,      // the device has gone away; every later read fails
  };
  Status status = kNotReady;
  DWORD bytes = 0;
  DWORD error = ERROR_SUCCESS;
};

// One interface opened by CreateFileW. Owned by the stand-in's handle and
// destroyed when the handle is closed and no read is in flight on it. Its
// operations may be called from any thread, at the same time.
class OpenInterface {
 public:
  OpenInterface() = default;
  virtual ~OpenInterface() = default;
  OpenInterface(const OpenInterface&) = delete;
  OpenInterface& operator=(const OpenInterface&) = delete;
  OpenInterface(OpenInterface&&) = delete;
  OpenInterface& operator=(OpenInterface&&) = delete;

  // Vendor, product and version: true, or false when the device cannot tell.
  virtual bool Attributes(HIDD_ATTRIBUTES& out) = 0;
  // The product string (possibly empty): true, or false when there is none.
  virtual bool ProductString(Path& out) = 0;
  // The capabilities its preparsed data holds: true, or false when the
  // device has no preparsed data.
  virtual bool Capabilities(HIDP_CAPS& out) = 0;
  // Whether a read may start now; false leaves its reason in 'error'.
  virtual bool StartRead(DWORD& error) = 0;
  // A file descriptor that poll() finds readable whenever TakeReport has
  // something to give (a report, an error, the device gone). Whenever poll()
  // reports it readable, hung up or in error, TakeReport gives something or
  // takes away what made it so (a report meant for another interface), so
  // that the alertable wait never spins. Owned by the interface; valid for
  // its whole life.
  virtual int ReadyDescriptor() const = 0;
  // Takes the next report into the caller's buffer, cut to 'size' bytes.
  // Never blocks.
  virtual ReadResult TakeReport(BYTE* buffer, DWORD size) = 0;
};

// The devices the stand-in presents.
class DeviceSource {
 public:
  DeviceSource() = default;
  virtual ~DeviceSource() = default;
  DeviceSource(const DeviceSource&) = delete;
  DeviceSource& operator=(const DeviceSource&) = delete;
  DeviceSource(DeviceSource&&) = delete;
  DeviceSource& operator=(DeviceSource&&) = delete;

  // The interface paths present now, in the order SetupAPI lists them.
  virtual std::vector<Path> PresentPaths() = 0;
  // Opens one for reading: the interface, owned by the caller, or null with
  // the reason in 'error'.
  virtual std::unique_ptr<OpenInterface> Open(const Path& path, DWORD& error) = 0;
};

// The source the stand-in reads: the one last given to UseDeviceSource, else
// the system's own devices. The source is not owned and must outlive its use.
DeviceSource& CurrentDeviceSource();
// Makes 'source' the current one (null: the system's own again) and returns
// the one it replaces (null when that was the system's own).
DeviceSource* UseDeviceSource(DeviceSource* source);

}  // namespace standin
