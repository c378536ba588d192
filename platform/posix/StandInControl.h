// Controls of the stand-in's "hid.dll" module, for tests that need it
// missing or incomplete. The program never calls them.
#pragma once

#include <string>
#include <vector>

namespace standin {

// present false: LoadLibraryW refuses "hid.dll". Either way the module
// counts as not loaded yet, so GetModuleHandleW finds it only after the next
// LoadLibraryW.
void SetHidLibraryPresent(bool present);

// Makes one export of "hid.dll" unknown to GetProcAddress; null: none.
void SetMissingHidExport(const char* name);

// The names GetProcAddress was asked for in "hid.dll", in order, since the
// last call.
std::vector<std::string> TakeHidExportLookups();

}  // namespace standin
