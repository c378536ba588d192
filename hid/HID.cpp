#include "hid/HID.h"

#include "hid/HidEntryPoints.h"

HID::HID(LPCWSTR devicePath) : path(devicePath) {}

HID::~HID() {
  if (handle != nullptr) {
    if (preparsed != nullptr) {
      (void)HidEntryPoints::HidD_FreePreparsedData(preparsed);
      preparsed = nullptr;
    }
    (void)CloseHandle(handle);
    handle = nullptr;
  }
}

bool HID::Open() {
  if (handle != nullptr) {
    return true;
  }
  HANDLE opened =
      CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                  nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
  handle = opened == INVALID_HANDLE_VALUE ? nullptr : opened;
  if (handle != nullptr) {
    (void)HidEntryPoints::HidD_GetPreparsedData(handle, &preparsed);
  }
  return handle != nullptr;
}

bool HID::GetCaps(HIDP_CAPS& caps) {
  if (handle == nullptr) {
    return false;
  }
  return HidEntryPoints::HidP_GetCaps(preparsed, &caps) == HIDP_STATUS_SUCCESS;
}

bool HID::ReadProductString(MaruvelHID::WideString& out) {
  if (handle == nullptr) {
    return false;
  }
  constexpr ULONG kBufferBytes = 1024;
  WCHAR buffer[kBufferBytes / sizeof(WCHAR)];
  buffer[0] = 0;
  if (HidEntryPoints::HidD_GetProductString(handle, buffer, kBufferBytes) == FALSE) {
    return false;
  }
  // A string that fills the buffer comes without its NUL: it ends at the end.
  const size_t capacity = sizeof buffer / sizeof buffer[0];
  size_t length = 0;
  while (length < capacity && buffer[length] != 0) {
    ++length;
  }
  out.assign(buffer, length);
  return true;
}
