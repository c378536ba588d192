#include "hid/DeviceManager.h"

#include <cstddef>
#include <new>
#include <set>

#include "hid/HID.h"
#include "hid/HidEntryPoints.h"

namespace MaruvelHID {

namespace {

constexpr DWORD kInterfaceFlags = DIGCF_PRESENT | DIGCF_DEVICEINTERFACE;  // 0x12
constexpr DWORD kDetailBytes = 1280;
constexpr DWORD kPollMilliseconds = 50;

// SetupAPI knows its records by cbSize, which must be their size in the
// calling process: 28 and 6 in a 32-bit one, 32 and 8 in a 64-bit one.
static_assert(sizeof(void*) != 4 || (sizeof(SP_DEVICE_INTERFACE_DATA) == 28 &&
                                     sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W) == 6),
              "SetupAPI records have their 32-bit sizes");
static_assert(sizeof(void*) != 8 || (sizeof(SP_DEVICE_INTERFACE_DATA) == 32 &&
                                     sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W) == 8),
              "SetupAPI records have their 64-bit sizes");

// The interface path in a detail buffer, never read past the buffer's end.
WideString DetailPath(const BYTE* detail) {
  constexpr size_t kOffset = offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath);
  const auto* path = reinterpret_cast<const WCHAR*>(detail + kOffset);
  constexpr size_t kCapacity = (kDetailBytes - kOffset) / sizeof(WCHAR);
  size_t length = 0;
  while (length < kCapacity && path[length] != 0) {
    ++length;
  }
  return WideString(path, length);
}

}  // namespace

DeviceManager* DeviceManager::instance = nullptr;

DeviceManager::DeviceManager() { instance = this; }

DeviceManager::~DeviceManager() {
  Stop();
  if (instance == this) {
    instance = nullptr;
  }
}

void DeviceManager::Refresh() {
  Kettrin::CriticalSectionLock hold(lock);
  // Without hid.dll's entries no device can be opened nor described.
  if (!HidEntryPoints::UsableForDevices()) {
    return;
  }
  GUID hidClass{};
  HidEntryPoints::HidD_GetHidGuid(&hidClass);
  HDEVINFO interfaces = SetupDiGetClassDevsW(&hidClass, nullptr, nullptr, kInterfaceFlags);
  if (interfaces == INVALID_HANDLE_VALUE) {
    return;
  }

  std::set<Device*> stale;
  for (const auto& entry : devices) {
    if (entry.second->active) {
      stale.insert(entry.second);
    }
  }

  alignas(SP_DEVICE_INTERFACE_DETAIL_DATA_W) BYTE detailBuffer[kDetailBytes];
  for (DWORD index = 0;; ++index) {
    SP_DEVICE_INTERFACE_DATA interfaceData{};
    interfaceData.cbSize = sizeof interfaceData;
    if (SetupDiEnumDeviceInterfaces(interfaces, nullptr, &hidClass, index, &interfaceData) ==
        FALSE) {
      break;  // the end of the list, or an error: the same here
    }
    auto* detail = new (detailBuffer) SP_DEVICE_INTERFACE_DETAIL_DATA_W{};
    detail->cbSize = sizeof *detail;
    if (SetupDiGetDeviceInterfaceDetailW(interfaces, &interfaceData, detail, kDetailBytes, nullptr,
                                         nullptr) == FALSE) {
      continue;
    }
    const WideString path = DetailPath(detailBuffer);

    auto known = devices.find(path);
    if (known != devices.end()) {
      stale.erase(known->second);
      continue;
    }
    auto* hid = new HID(path.c_str());
    if (!hid->Open()) {
      delete hid;
      continue;
    }
    HIDP_CAPS caps{};  // InputReportByteLength stays 0 unless GetCaps fills it
    if (!hid->GetCaps(caps) || caps.InputReportByteLength == 0) {
      delete hid;
      continue;
    }
    auto* device = new Device(hid, caps);
    devices.emplace(path, device);
    device->Activate();
  }

  for (Device* vanished : stale) {
    vanished->Deactivate();
  }
  (void)SetupDiDestroyDeviceInfoList(interfaces);
}

void DeviceManager::Start() {
  Kettrin::CriticalSectionLock hold(lock);
  if (threadStarted) {
    return;
  }
  threadStarted = true;
  readerThread = CreateThread(nullptr, 0, &DeviceManager::ReaderThreadProc, this, 0, nullptr);
}

void DeviceManager::Poll() {
  Kettrin::CriticalSectionLock hold(lock);
  for (const auto& entry : devices) {
    // Read without the device's lock; IssueRead looks again under it.
    if (!entry.second->readPending) {
      entry.second->IssueRead();
    }
  }
}

void DeviceManager::Stop() {
  HANDLE thread = nullptr;
  {
    Kettrin::CriticalSectionLock hold(lock);
    thread = readerThread;
    readerThread = nullptr;
  }
  if (thread == nullptr) {
    return;
  }
  stopRequested = true;
  (void)WaitForSingleObject(thread, INFINITE);
  (void)CloseHandle(thread);
}

DWORD WINAPI DeviceManager::ReaderThreadProc(LPVOID manager) {
  auto* self = static_cast<DeviceManager*>(manager);
  while (!self->stopRequested) {
    self->Poll();
    (void)SleepEx(kPollMilliseconds, TRUE);
  }
  return 0;
}

}  // namespace MaruvelHID
