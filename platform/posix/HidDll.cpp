// The stand-in's module loader and its one module, "hid.dll": the HID
// user-mode library's exports over the device source.
#include <algorithm>
#include <cstring>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "platform/posix/Kernel.h"
#include "platform/posix/StandInControl.h"

struct StandInModule {
  std::mutex mutex;
  bool present = true;
  bool loaded = false;
  std::string missingExport;
  std::vector<std::string> lookups;
};

namespace {

// Never destroyed: its exports may be called while the process ends.
StandInModule& HidModule() {
  static auto* module = new StandInModule;
  return *module;
}

// Module names compare without case, and ".dll" may be left out.
bool NamesHidDll(LPCWSTR name) {
  if (name == nullptr) {
    return false;
  }
  std::string narrow;
  for (; *name != 0; ++name) {
    const WCHAR unit = *name;
    if (unit >= 0x80) {
      return false;
    }
    narrow += static_cast<char>(unit >= 'A' && unit <= 'Z' ? unit - 'A' + 'a' : unit);
  }
  return narrow == "hid.dll" || narrow == "hid";
}

// Preparsed data handed out by HidD_GetPreparsedData and not freed yet.
struct PreparsedRegistry {
  std::mutex mutex;
  std::set<const HIDP_PREPARSED_DATA*> live;
};

PreparsedRegistry& Preparsed() {
  static auto* registry = new PreparsedRegistry;
  return *registry;
}

template <class Function>
FARPROC Export(Function* function) {
  // A function pointer passes through FARPROC as on Windows; the generic
  // function type keeps the compiler from warning about the cast.
  return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(function));
}

struct NamedExport {
  const char* name;
  FARPROC address;
};

const std::vector<NamedExport>& HidExports() {
  static const auto* exports = new std::vector<NamedExport>{
      {"HidD_GetHidGuid", Export(&HidD_GetHidGuid)},
      {"HidD_GetAttributes", Export(&HidD_GetAttributes)},
      {"HidD_GetProductString", Export(&HidD_GetProductString)},
      {"HidD_GetManufacturerString", Export(&HidD_GetManufacturerString)},
      {"HidD_GetSerialNumberString", Export(&HidD_GetSerialNumberString)},
      {"HidD_GetPreparsedData", Export(&HidD_GetPreparsedData)},
      {"HidD_FreePreparsedData", Export(&HidD_FreePreparsedData)},
      {"HidP_GetCaps", Export(&HidP_GetCaps)},
      {"HidP_GetSpecificButtonCaps", Export(&HidP_GetSpecificButtonCaps)},
      {"HidP_GetSpecificValueCaps", Export(&HidP_GetSpecificValueCaps)},
      {"HidP_SetData", Export(&HidP_SetData)},
      {"HidP_InitializeReportForID", Export(&HidP_InitializeReportForID)},
      {"HidP_GetData", Export(&HidP_GetData)},
      {"HidD_GetInputReport", Export(&HidD_GetInputReport)},
  };
  return *exports;
}

}  // namespace

// The capability record that a stand-in preparsed-data block carries.
struct HIDP_PREPARSED_DATA {
  HIDP_CAPS caps;
};

namespace standin {

void SetHidLibraryPresent(bool present) {
  StandInModule& module = HidModule();
  const std::lock_guard<std::mutex> hold(module.mutex);
  module.present = present;
  module.loaded = false;
}

void SetMissingHidExport(const char* name) {
  StandInModule& module = HidModule();
  const std::lock_guard<std::mutex> hold(module.mutex);
  module.missingExport = name == nullptr ? "" : name;
}

std::vector<std::string> TakeHidExportLookups() {
  StandInModule& module = HidModule();
  const std::lock_guard<std::mutex> hold(module.mutex);
  std::vector<std::string> lookups;
  lookups.swap(module.lookups);
  return lookups;
}

}  // namespace standin

// ---- Modules ----------------------------------------------------------------

HMODULE LoadLibraryW(LPCWSTR lpLibFileName) {
  StandInModule& module = HidModule();
  const std::lock_guard<std::mutex> hold(module.mutex);
  if (!NamesHidDll(lpLibFileName) || !module.present) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  module.loaded = true;
  return &module;
}

HMODULE GetModuleHandleW(LPCWSTR lpModuleName) {
  StandInModule& module = HidModule();
  const std::lock_guard<std::mutex> hold(module.mutex);
  if (!NamesHidDll(lpModuleName) || !module.loaded) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  return &module;
}

FARPROC GetProcAddress(HMODULE hModule, LPCSTR lpProcName) {
  StandInModule& module = HidModule();
  if (hModule != &module || lpProcName == nullptr) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  const std::lock_guard<std::mutex> hold(module.mutex);
  module.lookups.emplace_back(lpProcName);
  const auto& exports = HidExports();
  auto found = std::find_if(exports.begin(), exports.end(), [&](const NamedExport& entry) {
    return std::strcmp(entry.name, lpProcName) == 0;
  });
  if (found == exports.end() || module.missingExport == lpProcName) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  return found->address;
}

// ---- hid.dll ----------------------------------------------------------------

void WINAPI HidD_GetHidGuid(LPGUID HidGuid) {
  *HidGuid = GUID{0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};
}

BOOLEAN WINAPI HidD_GetAttributes(HANDLE HidDeviceObject, PHIDD_ATTRIBUTES Attributes) {
  auto file = standin::FindFile(HidDeviceObject);
  if (!file || Attributes == nullptr) {
    return FALSE;
  }
  HIDD_ATTRIBUTES answer{};
  if (!file->device->Attributes(answer)) {
    SetLastError(ERROR_GEN_FAILURE);
    return FALSE;
  }
  answer.Size = sizeof answer;
  *Attributes = answer;
  return TRUE;
}

BOOLEAN WINAPI HidD_GetProductString(HANDLE HidDeviceObject, PVOID Buffer, ULONG BufferLength) {
  auto file = standin::FindFile(HidDeviceObject);
  if (!file || Buffer == nullptr) {
    return FALSE;
  }
  standin::Path product;
  if (!file->device->ProductString(product)) {
    SetLastError(ERROR_GEN_FAILURE);
    return FALSE;
  }
  const size_t room = BufferLength / sizeof(WCHAR);
  const size_t copied = std::min(product.size(), room);
  std::memcpy(Buffer, product.data(), copied * sizeof(WCHAR));
  if (copied < room) {
    static_cast<WCHAR*>(Buffer)[copied] = 0;
  }
  return TRUE;
}

BOOLEAN WINAPI HidD_GetManufacturerString(HANDLE /*HidDeviceObject*/, PVOID /*Buffer*/,
                                          ULONG /*BufferLength*/) {
  SetLastError(ERROR_GEN_FAILURE);
  return FALSE;
}

BOOLEAN WINAPI HidD_GetSerialNumberString(HANDLE /*HidDeviceObject*/, PVOID /*Buffer*/,
                                          ULONG /*BufferLength*/) {
  SetLastError(ERROR_GEN_FAILURE);
  return FALSE;
}

BOOLEAN WINAPI HidD_GetPreparsedData(HANDLE HidDeviceObject, PHIDP_PREPARSED_DATA* PreparsedData) {
  auto file = standin::FindFile(HidDeviceObject);
  if (!file || PreparsedData == nullptr) {
    return FALSE;
  }
  HIDP_CAPS caps{};
  if (!file->device->Capabilities(caps)) {
    SetLastError(ERROR_GEN_FAILURE);
    return FALSE;
  }
  auto* data = new HIDP_PREPARSED_DATA{caps};
  {
    PreparsedRegistry& registry = Preparsed();
    const std::lock_guard<std::mutex> hold(registry.mutex);
    registry.live.insert(data);
  }
  *PreparsedData = data;
  return TRUE;
}

BOOLEAN WINAPI HidD_FreePreparsedData(PHIDP_PREPARSED_DATA PreparsedData) {
  PreparsedRegistry& registry = Preparsed();
  const std::lock_guard<std::mutex> hold(registry.mutex);
  if (registry.live.erase(PreparsedData) == 0) {
    return FALSE;
  }
  delete PreparsedData;
  return TRUE;
}

NTSTATUS WINAPI HidP_GetCaps(PHIDP_PREPARSED_DATA PreparsedData, PHIDP_CAPS Capabilities) {
  PreparsedRegistry& registry = Preparsed();
  const std::lock_guard<std::mutex> hold(registry.mutex);
  if (registry.live.count(PreparsedData) == 0 || Capabilities == nullptr) {
    return HIDP_STATUS_INVALID_PREPARSED_DATA;
  }
  *Capabilities = PreparsedData->caps;
  return HIDP_STATUS_SUCCESS;
}

NTSTATUS WINAPI HidP_GetSpecificButtonCaps(HIDP_REPORT_TYPE /*ReportType*/, USAGE /*UsagePage*/,
                                           USHORT /*LinkCollection*/, USAGE /*Usage*/,
                                           PHIDP_BUTTON_CAPS /*ButtonCaps*/,
                                           PUSHORT /*ButtonCapsLength*/,
                                           PHIDP_PREPARSED_DATA /*PreparsedData*/) {
  return HIDP_STATUS_NOT_IMPLEMENTED;
}

NTSTATUS WINAPI HidP_GetSpecificValueCaps(HIDP_REPORT_TYPE /*ReportType*/, USAGE /*UsagePage*/,
                                          USHORT /*LinkCollection*/, USAGE /*Usage*/,
                                          PHIDP_VALUE_CAPS /*ValueCaps*/,
                                          PUSHORT /*ValueCapsLength*/,
                                          PHIDP_PREPARSED_DATA /*PreparsedData*/) {
  return HIDP_STATUS_NOT_IMPLEMENTED;
}

NTSTATUS WINAPI HidP_SetData(HIDP_REPORT_TYPE /*ReportType*/, PHIDP_DATA /*DataList*/,
                             PULONG /*DataLength*/, PHIDP_PREPARSED_DATA /*PreparsedData*/,
                             PCHAR /*Report*/, ULONG /*ReportLength*/) {
  return HIDP_STATUS_NOT_IMPLEMENTED;
}

NTSTATUS WINAPI HidP_InitializeReportForID(HIDP_REPORT_TYPE /*ReportType*/, UCHAR /*ReportID*/,
                                           PHIDP_PREPARSED_DATA /*PreparsedData*/, PCHAR /*Report*/,
                                           ULONG /*ReportLength*/) {
  return HIDP_STATUS_NOT_IMPLEMENTED;
}

NTSTATUS WINAPI HidP_GetData(HIDP_REPORT_TYPE /*ReportType*/, PHIDP_DATA /*DataList*/,
                             PULONG /*DataLength*/, PHIDP_PREPARSED_DATA /*PreparsedData*/,
                             PCHAR /*Report*/, ULONG /*ReportLength*/) {
  return HIDP_STATUS_NOT_IMPLEMENTED;
}

BOOLEAN WINAPI HidD_GetInputReport(HANDLE /*HidDeviceObject*/, PVOID /*ReportBuffer*/,
                                   ULONG /*ReportBufferLength*/) {
  SetLastError(ERROR_GEN_FAILURE);
  return FALSE;
}
