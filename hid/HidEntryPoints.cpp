#include "hid/HidEntryPoints.h"

namespace HidEntryPoints {

decltype(&::HidD_GetHidGuid) HidD_GetHidGuid = nullptr;
decltype(&::HidD_GetAttributes) HidD_GetAttributes = nullptr;
decltype(&::HidD_GetProductString) HidD_GetProductString = nullptr;
decltype(&::HidD_GetManufacturerString) HidD_GetManufacturerString = nullptr;
decltype(&::HidD_GetSerialNumberString) HidD_GetSerialNumberString = nullptr;
decltype(&::HidD_GetPreparsedData) HidD_GetPreparsedData = nullptr;
decltype(&::HidD_FreePreparsedData) HidD_FreePreparsedData = nullptr;
decltype(&::HidP_GetCaps) HidP_GetCaps = nullptr;
decltype(&::HidP_GetSpecificButtonCaps) HidP_GetSpecificButtonCaps = nullptr;
decltype(&::HidP_GetSpecificValueCaps) HidP_GetSpecificValueCaps = nullptr;
decltype(&::HidP_SetData) HidP_SetData = nullptr;
decltype(&::HidP_InitializeReportForID) HidP_InitializeReportForID = nullptr;
decltype(&::HidP_GetData) HidP_GetData = nullptr;
decltype(&::HidD_GetInputReport) HidD_GetInputReport = nullptr;

namespace {

template <class Pointer>
void BindEntry(Pointer& entry, HMODULE module, const char* name) {
  // Through the generic function type: GetProcAddress's FARPROC stands for
  // any function, and the compiler does not warn about this cast.
  entry =
      module == nullptr
          ? nullptr
          : reinterpret_cast<Pointer>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

HMODULE LoadedHid() { return GetModuleHandleW(WIDE_TEXT("hid.dll")); }

}  // namespace

void Bind() {
  BindEntry(HidD_GetHidGuid, LoadLibraryW(WIDE_TEXT("hid.dll")), "HidD_GetHidGuid");
  BindEntry(HidD_GetAttributes, LoadedHid(), "HidD_GetAttributes");
  BindEntry(HidD_GetProductString, LoadedHid(), "HidD_GetProductString");
  BindEntry(HidD_GetManufacturerString, LoadedHid(), "HidD_GetManufacturerString");
  BindEntry(HidD_GetSerialNumberString, LoadedHid(), "HidD_GetSerialNumberString");
  BindEntry(HidD_GetPreparsedData, LoadedHid(), "HidD_GetPreparsedData");
  BindEntry(HidD_FreePreparsedData, LoadedHid(), "HidD_FreePreparsedData");
  BindEntry(HidP_GetCaps, LoadedHid(), "HidP_GetCaps");
  BindEntry(HidP_GetSpecificButtonCaps, LoadedHid(), "HidP_GetSpecificButtonCaps");
  BindEntry(HidP_GetSpecificValueCaps, LoadedHid(), "HidP_GetSpecificValueCaps");
  BindEntry(HidP_SetData, LoadedHid(), "HidP_SetData");
  BindEntry(HidP_InitializeReportForID, LoadedHid(), "HidP_InitializeReportForID");
  BindEntry(HidP_GetData, LoadedHid(), "HidP_GetData");
  BindEntry(HidD_GetInputReport, LoadedHid(), "HidD_GetInputReport");
}

bool UsableForDevices() {
  return HidD_GetHidGuid != nullptr && HidD_GetAttributes != nullptr &&
         HidD_GetProductString != nullptr && HidD_GetPreparsedData != nullptr &&
         HidD_FreePreparsedData != nullptr && HidP_GetCaps != nullptr;
}

}  // namespace HidEntryPoints
