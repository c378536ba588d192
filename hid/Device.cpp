#include "hid/Device.h"

#include <cstdlib>
#include <utility>

#include "hid/DeviceManager.h"
#include "hid/HID.h"
#include "hid/HidEntryPoints.h"

namespace MaruvelHID {

namespace {

const WCHAR kUnnamed[] = WIDE_TEXT("Unnamed Device");

}  // namespace

Device::Device(HID* deviceHid, const HIDP_CAPS& deviceCaps) : hid(deviceHid), caps(deviceCaps) {
  if (hid->handle != nullptr) {
    (void)HidEntryPoints::HidD_GetAttributes(hid->handle, &attributes);
  }
  (void)hid->ReadProductString(name);
  if (name.empty()) {
    name = kUnnamed;
  }
  buffer = static_cast<BYTE*>(std::malloc(caps.InputReportByteLength));
}

Device::Device(const HIDP_CAPS& deviceCaps, const HIDD_ATTRIBUTES& deviceAttributes,
               WideString productName)
    : caps(deviceCaps), attributes(deviceAttributes), name(std::move(productName)) {
  if (name.empty()) {
    name = kUnnamed;
  }
}

Device::~Device() {
  CancelRead();
  delete hid;
  std::free(buffer);
}

void Device::Activate() {
  Kettrin::CriticalSectionLock hold(lock);
  active = true;
}

void Device::Deactivate() {
  Kettrin::CriticalSectionLock hold(lock);
  if (active) {
    active = false;
    CancelRead();
  }
}

void Device::CancelRead() {
  Kettrin::CriticalSectionLock hold(lock);
  if (readPending && hid != nullptr && hid->handle != nullptr) {
    readPending = false;
  }
}

void Device::IssueRead() {
  Kettrin::CriticalSectionLock hold(lock);
  if (!active) {
    CancelRead();
    return;
  }
  // Without a buffer there is nothing to read into; the read is not started.
  if (readPending || hid == nullptr || hid->handle == nullptr || buffer == nullptr) {
    return;
  }
  overlapped = OVERLAPPED{};
  overlapped.hEvent = this;
  readPending = ReadFileEx(hid->handle, buffer, caps.InputReportByteLength, &overlapped,
                           &Device::ReadCompletionRoutine) != FALSE;
}

VOID CALLBACK Device::ReadCompletionRoutine(DWORD /*errorCode*/, DWORD bytesTransferred,
                                            LPOVERLAPPED completed) {
  static_cast<Device*>(completed->hEvent)->OnReadComplete(bytesTransferred);
}

void Device::OnReadComplete(DWORD bytesTransferred) {
  Kettrin::CriticalSectionLock hold(lock);
  if (bytesTransferred != 0) {
    const InputReport report{buffer, bytesTransferred, GetTickCount()};
    DeviceManager* manager = DeviceManager::instance;
    if (manager != nullptr && manager->sink != nullptr) {
      manager->sink->OnRead(this, &report);
    }
  }
  readPending = false;
  IssueRead();
}

}  // namespace MaruvelHID
