// The operating-system side of one HID device interface.
#pragma once

#include "hid/Device.h"
#include "platform/WinApi.h"

// Owns an interface's path, the file handle opened on it and the HID
// parser's preparsed data. Every failure is silent: a false result.
class HID {
 public:
  // Copies the NUL-terminated path; opens nothing.
  explicit HID(LPCWSTR devicePath);
  // Frees the preparsed data and closes the handle, if open.
  virtual ~HID();

  HID(const HID&) = delete;
  HID& operator=(const HID&) = delete;
  HID(HID&&) = delete;
  HID& operator=(HID&&) = delete;

  // Opens the handle for overlapped reading and writing, shared, unless it
  // is open already, and takes the preparsed data. True when a handle is
  // held afterwards, with or without preparsed data.
  bool Open();
  // Fills 'caps' from the preparsed data; false without a handle or data.
  bool GetCaps(HIDP_CAPS& caps);
  // Reads the product string into 'out'; false (and 'out' unchanged) when it
  // cannot be read. An empty product string succeeds.
  bool ReadProductString(MaruvelHID::WideString& out);

  MaruvelHID::WideString path;
  // Null while closed; never INVALID_HANDLE_VALUE.
  HANDLE handle = nullptr;
  // Null when none was obtained.
  PHIDP_PREPARSED_DATA preparsed = nullptr;
};
