// DeviceManager::Refresh over the HID devices Wine itself presents once a
// prefix has started: a mouse and a keyboard, found through the real SetupAPI
// and described through the real hid.dll. On Windows these are absent, and
// the tests are skipped.
#include <gtest/gtest.h>

#include <map>
#include <ostream>

#include "hid/DeviceManager.h"
#include "hid/HID.h"
#include "hid/HidEntryPoints.h"
#include "tests/TestDevices.h"
#include "tests/windows/PipeDevice.h"

namespace {

using MaruvelHID::Device;
using MaruvelHID::WideString;

struct WineDeviceCase {
  const char* what;
  const wchar_t* pathStart;  // in lower case, as Wine spells it
  USHORT vendor;
  USHORT product;
  USHORT version;
  USAGE usagePage;
  USAGE usage;
  USHORT inputReportByteLength;
  const wchar_t* name;
};

std::ostream& operator<<(std::ostream& out, const WineDeviceCase& c) { return out << c.what; }

const WineDeviceCase kWineDevices[] = {
    {"Mouse", L"\\\\?\\hid#vid_845e&pid_0001#", 0x845E, 0x0001, 0, 1, 2, 2, L"Wine HID mouse"},
    {"Keyboard", L"\\\\?\\hid#vid_845e&pid_0002#", 0x845E, 0x0002, 0, 1, 6, 14,
     L"Wine HID keyboard"},
};

// The registry's device whose path starts as given, or null.
Device* Registered(const MaruvelHID::DeviceManager& manager, const WideString& pathStart) {
  for (const auto& entry : manager.devices) {
    if (entry.first.compare(0, pathStart.size(), pathStart) == 0) {
      return entry.second;
    }
  }
  return nullptr;
}

class WineDevices : public testing::TestWithParam<WineDeviceCase> {
 protected:
  void SetUp() override {
    if (!windowstest::UnderWine()) {
      GTEST_SKIP() << "Wine's own HID devices exist only under Wine";
    }
    HidEntryPoints::Bind();
    manager.Refresh();
  }

  // The devices stay registered, handles open, until the process ends.
  MaruvelHID::DeviceManager manager;
};

TEST_P(WineDevices, RegisteredActiveAndDescribed) {
  const WineDeviceCase& expected = GetParam();
  Device* device = Registered(manager, expected.pathStart);
  ASSERT_NE(device, nullptr) << "not among the " << manager.devices.size() << " registered";
  EXPECT_TRUE(device->active);
  ASSERT_NE(device->hid, nullptr);
  EXPECT_NE(device->hid->handle, nullptr);
  EXPECT_NE(device->hid->preparsed, nullptr);
  EXPECT_NE(device->buffer, nullptr);
  EXPECT_EQ(device->caps.UsagePage, expected.usagePage);
  EXPECT_EQ(device->caps.Usage, expected.usage);
  EXPECT_EQ(device->caps.InputReportByteLength, expected.inputReportByteLength);
  EXPECT_EQ(device->attributes.Size, sizeof(HIDD_ATTRIBUTES));
  EXPECT_EQ(device->attributes.VendorID, expected.vendor);
  EXPECT_EQ(device->attributes.ProductID, expected.product);
  EXPECT_EQ(device->attributes.VersionNumber, expected.version);
  EXPECT_EQ(device->name, WideString(expected.name));
}

TEST_P(WineDevices, SecondRefreshKeepsTheDeviceActive) {
  Device* first = Registered(manager, GetParam().pathStart);
  ASSERT_NE(first, nullptr);
  const size_t count = manager.devices.size();
  manager.Refresh();
  EXPECT_EQ(Registered(manager, GetParam().pathStart), first);
  EXPECT_EQ(manager.devices.size(), count);
  EXPECT_TRUE(first->active);
}

TEST_P(WineDevices, ReadIsAcceptedAndStaysPending) {
  Device* device = Registered(manager, GetParam().pathStart);
  ASSERT_NE(device, nullptr);
  manager.Poll();
  EXPECT_TRUE(device->readPending) << "ReadFileEx failed: " << GetLastError();
  // Nobody types or moves the mouse: the read waits.
  EXPECT_EQ(SleepEx(50, TRUE), 0U);
  EXPECT_TRUE(device->readPending);
}

INSTANTIATE_TEST_SUITE_P(Wine, WineDevices, testing::ValuesIn(kWineDevices),
                         testdevices::CaseName<WineDeviceCase>);

}  // namespace
