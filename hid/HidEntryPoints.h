// The HID user-mode library, bound at run time: the program does not link
// against hid.dll and reaches it only through these pointers.
#pragma once

#include "platform/WinApi.h"

namespace HidEntryPoints {

// Each null until Bind, and null after it when hid.dll lacks the name.
extern decltype(&::HidD_GetHidGuid) HidD_GetHidGuid;
extern decltype(&::HidD_GetAttributes) HidD_GetAttributes;
extern decltype(&::HidD_GetProductString) HidD_GetProductString;
extern decltype(&::HidD_GetManufacturerString) HidD_GetManufacturerString;
extern decltype(&::HidD_GetSerialNumberString) HidD_GetSerialNumberString;
extern decltype(&::HidD_GetPreparsedData) HidD_GetPreparsedData;
extern decltype(&::HidD_FreePreparsedData) HidD_FreePreparsedData;
extern decltype(&::HidP_GetCaps) HidP_GetCaps;
extern decltype(&::HidP_GetSpecificButtonCaps) HidP_GetSpecificButtonCaps;
extern decltype(&::HidP_GetSpecificValueCaps) HidP_GetSpecificValueCaps;
extern decltype(&::HidP_SetData) HidP_SetData;
extern decltype(&::HidP_InitializeReportForID) HidP_InitializeReportForID;
extern decltype(&::HidP_GetData) HidP_GetData;
extern decltype(&::HidD_GetInputReport) HidD_GetInputReport;

// Loads hid.dll and binds all 14 names in their fixed order: the first
// through the module LoadLibraryW returns, the rest through the one
// GetModuleHandleW finds. The library is never unloaded. A name not found
// stays null, silently.
void Bind();

// Whether every entry the device layer calls is bound. The layer calls
// none of them otherwise.
bool UsableForDevices();

}  // namespace HidEntryPoints
