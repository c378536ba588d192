// The stand-in's SetupAPI: the device source's present interfaces as a
// device information set.
#include <cstddef>
#include <cstring>
#include <mutex>
#include <set>
#include <vector>

#include "platform/posix/DeviceSource.h"

namespace {

// A snapshot of the interface paths, taken when the set was made.
struct DeviceInfoSet {
  std::vector<standin::Path> paths;
};

struct SetRegistry {
  std::mutex mutex;
  std::set<const DeviceInfoSet*> live;
};

SetRegistry& Sets() {
  static auto* registry = new SetRegistry;
  return *registry;
}

// The set behind a handle, else null with ERROR_INVALID_HANDLE set; the
// caller holds the registry's mutex.
DeviceInfoSet* FindSet(SetRegistry& registry, HDEVINFO handle) {
  auto* set = static_cast<DeviceInfoSet*>(handle);
  if (registry.live.count(set) == 0) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  return set;
}

bool IsHidClass(const GUID* guid) {
  GUID hid{};
  HidD_GetHidGuid(&hid);
  return guid != nullptr && std::memcmp(guid, &hid, sizeof hid) == 0;
}

}  // namespace

HDEVINFO SetupDiGetClassDevsW(const GUID* ClassGuid, PCWSTR /*Enumerator*/, HWND /*hwndParent*/,
                              DWORD Flags) {
  if (ClassGuid == nullptr || (Flags & DIGCF_DEVICEINTERFACE) == 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  auto* set = new DeviceInfoSet;
  if (IsHidClass(ClassGuid)) {
    set->paths = standin::CurrentDeviceSource().PresentPaths();
  }
  SetRegistry& registry = Sets();
  const std::lock_guard<std::mutex> hold(registry.mutex);
  registry.live.insert(set);
  return set;
}

BOOL SetupDiEnumDeviceInterfaces(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
                                 const GUID* InterfaceClassGuid, DWORD MemberIndex,
                                 PSP_DEVICE_INTERFACE_DATA DeviceInterfaceData) {
  SetRegistry& registry = Sets();
  const std::lock_guard<std::mutex> hold(registry.mutex);
  const ::DeviceInfoSet* set = FindSet(registry, DeviceInfoSet);
  if (set == nullptr) {
    return FALSE;
  }
  if (DeviceInfoData != nullptr || InterfaceClassGuid == nullptr ||
      DeviceInterfaceData == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  // SetupAPI tells the record's layout by its size, as the caller's build has it.
  if (DeviceInterfaceData->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA)) {
    SetLastError(ERROR_INVALID_USER_BUFFER);
    return FALSE;
  }
  if (!IsHidClass(InterfaceClassGuid) || MemberIndex >= set->paths.size()) {
    SetLastError(ERROR_NO_MORE_ITEMS);
    return FALSE;
  }
  DeviceInterfaceData->InterfaceClassGuid = *InterfaceClassGuid;
  DeviceInterfaceData->Flags = SPINT_ACTIVE;
  DeviceInterfaceData->Reserved = static_cast<ULONG_PTR>(MemberIndex) + 1;
  return TRUE;
}

BOOL SetupDiGetDeviceInterfaceDetailW(HDEVINFO DeviceInfoSet,
                                      PSP_DEVICE_INTERFACE_DATA DeviceInterfaceData,
                                      PSP_DEVICE_INTERFACE_DETAIL_DATA_W DeviceInterfaceDetailData,
                                      DWORD DeviceInterfaceDetailDataSize, PDWORD RequiredSize,
                                      PSP_DEVINFO_DATA /*DeviceInfoData*/) {
  SetRegistry& registry = Sets();
  const std::lock_guard<std::mutex> hold(registry.mutex);
  const ::DeviceInfoSet* set = FindSet(registry, DeviceInfoSet);
  if (set == nullptr) {
    return FALSE;
  }
  if (DeviceInterfaceData == nullptr ||
      DeviceInterfaceData->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA) ||
      DeviceInterfaceData->Reserved == 0 || DeviceInterfaceData->Reserved > set->paths.size()) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const standin::Path& path = set->paths[DeviceInterfaceData->Reserved - 1];
  constexpr size_t kPathOffset = offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath);
  const size_t required = kPathOffset + (path.size() + 1) * sizeof(WCHAR);
  if (RequiredSize != nullptr) {
    *RequiredSize = static_cast<DWORD>(required);
  }
  if (DeviceInterfaceDetailData == nullptr) {
    SetLastError(DeviceInterfaceDetailDataSize == 0 ? ERROR_INSUFFICIENT_BUFFER
                                                    : ERROR_INVALID_USER_BUFFER);
    return FALSE;
  }
  // Only the fixed part counts in cbSize: 6 bytes in a 32-bit process, 8 in 64.
  if (DeviceInterfaceDetailDataSize < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W) ||
      DeviceInterfaceDetailData->cbSize != sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W)) {
    SetLastError(ERROR_INVALID_USER_BUFFER);
    return FALSE;
  }
  if (DeviceInterfaceDetailDataSize < required) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  auto* bytes = reinterpret_cast<BYTE*>(DeviceInterfaceDetailData);
  std::memcpy(bytes + kPathOffset, path.c_str(), (path.size() + 1) * sizeof(WCHAR));
  return TRUE;
}

BOOL SetupDiDestroyDeviceInfoList(HDEVINFO DeviceInfoSet) {
  SetRegistry& registry = Sets();
  const std::lock_guard<std::mutex> hold(registry.mutex);
  ::DeviceInfoSet* set = FindSet(registry, DeviceInfoSet);
  if (set == nullptr) {
    return FALSE;
  }
  registry.live.erase(set);
  delete set;
  return TRUE;
}
