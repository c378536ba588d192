// The binding of hid.dll's 14 entry points, in a process of its own that has
// not loaded hid.dll before: Bind loads it and finds every name in it.
#include <gtest/gtest.h>

#include <ostream>

#include "hid/HidEntryPoints.h"
#include "tests/TestDevices.h"

namespace {

using Function = void (*)();

// Through the generic function type, which any function pointer converts
// to and from without a warning.
template <class Pointer>
Function Generic(Pointer pointer) {
  return reinterpret_cast<Function>(pointer);
}

struct EntryCase {
  const char* what;  // the export's name
  Function (*bound)();
};

std::ostream& operator<<(std::ostream& out, const EntryCase& c) { return out << c.what; }

// The entry of each name, as a case named after it.
// clang-format off
#define BT_ENTRY(name) {#name, [] { return Generic(HidEntryPoints::name); }}
// clang-format on

const EntryCase kEntries[] = {
    BT_ENTRY(HidD_GetHidGuid),
    BT_ENTRY(HidD_GetAttributes),
    BT_ENTRY(HidD_GetProductString),
    BT_ENTRY(HidD_GetManufacturerString),
    BT_ENTRY(HidD_GetSerialNumberString),
    BT_ENTRY(HidD_GetPreparsedData),
    BT_ENTRY(HidD_FreePreparsedData),
    BT_ENTRY(HidP_GetCaps),
    BT_ENTRY(HidP_GetSpecificButtonCaps),
    BT_ENTRY(HidP_GetSpecificValueCaps),
    BT_ENTRY(HidP_SetData),
    BT_ENTRY(HidP_InitializeReportForID),
    BT_ENTRY(HidP_GetData),
    BT_ENTRY(HidD_GetInputReport),
};

#undef BT_ENTRY

// Binds once, before every test, as the tool binds once at start; records
// whether hid.dll was loaded before.
class BindAtStart : public testing::Environment {
 public:
  void SetUp() override {
    loadedBeforeBind = GetModuleHandleW(L"hid.dll") != nullptr;
    HidEntryPoints::Bind();
  }

  static bool loadedBeforeBind;
};

bool BindAtStart::loadedBeforeBind = false;

// NOLINTNEXTLINE(cert-err58-cpp)
testing::Environment* const kBindAtStart = testing::AddGlobalTestEnvironment(new BindAtStart);

class HidBinding : public testing::TestWithParam<EntryCase> {};

TEST_P(HidBinding, EntryIsTheExportOfItsOwnName) {
  ASSERT_FALSE(BindAtStart::loadedBeforeBind) << "the process loaded hid.dll before Bind";
  HMODULE hid = GetModuleHandleW(L"hid.dll");
  ASSERT_NE(hid, nullptr) << "Bind did not load hid.dll";
  const Function exported = Generic(GetProcAddress(hid, GetParam().what));
  ASSERT_NE(exported, nullptr) << GetParam().what << " is not exported";
  EXPECT_EQ(GetParam().bound(), exported);
}

INSTANTIATE_TEST_SUITE_P(HidDll, HidBinding, testing::ValuesIn(kEntries),
                         testdevices::CaseName<EntryCase>);

TEST(HidBindingUse, EveryEntryTheDeviceLayerCallsIsBound) {
  ASSERT_TRUE(HidEntryPoints::UsableForDevices());
  // Bound entries are callable: the class GUID is the HID one.
  GUID hidClass{};
  HidEntryPoints::HidD_GetHidGuid(&hidClass);
  EXPECT_EQ(hidClass.Data1, 0x4D1E55B2U);
  EXPECT_EQ(hidClass.Data2, 0xF16F);
  EXPECT_EQ(hidClass.Data3, 0x11CF);
}

}  // namespace
