// A named pipe standing in for a HID device: the test writes reports into
// one end, and the code under test reads them, overlapped, from the other,
// one message per read.
#pragma once

#include <string>
#include <vector>

#include "platform/WinApi.h"

namespace windowstest {

using Bytes = std::vector<BYTE>;

// Long enough for any completion or thread start a test waits for.
constexpr DWORD kPatienceMilliseconds = 5000;

// The pipe's writing end, created with a name of its own. It is duplex so
// that the reading end may be opened for reading and writing, as HID::Open
// opens an interface; the reading end is opened by name (Open, or anything
// that calls CreateFileW on the path).
class PipeDevice {
 public:
  PipeDevice();
  // Closes the writing end if still open.
  ~PipeDevice();

  PipeDevice(const PipeDevice&) = delete;
  PipeDevice& operator=(const PipeDevice&) = delete;
  PipeDevice(PipeDevice&&) = delete;
  PipeDevice& operator=(PipeDevice&&) = delete;

  const std::wstring& Path() const { return path; }
  // The reading end, opened for overlapped reads as a HID interface is;
  // owned by the caller. INVALID_HANDLE_VALUE on failure.
  HANDLE Open() const;
  // Sends one report: one message, read whole by one read.
  bool Write(const Bytes& report) const;
  // The device goes away: reads in flight and later ones fail.
  void Close();

 private:
  std::wstring path;
  HANDLE writer = INVALID_HANDLE_VALUE;
};

// Makes a reading end deliver one message per read, as a HID device
// delivers one report per read.
bool ReadMessages(HANDLE reader);

// Whether the process runs under Wine rather than Windows.
bool UnderWine();

}  // namespace windowstest
