// The HID handle over scripted interfaces: opening, the preparsed data and
// the product string.
#include <gtest/gtest.h>

#include <cstddef>
#include <memory>
#include <ostream>

#include "hid/HID.h"
#include "hid/HidEntryPoints.h"
#include "tests/ScriptedFixture.h"
#include "tests/TestDevices.h"

namespace {

using MaruvelHID::WideString;
using scriptedtest::Pad;
using scriptedtest::PathOf;

const standin::Path kPath = PathOf("\\\\?\\hid#vid_045e&pid_028e#pad");

// 'count' UTF-16 units of varying letters, so that a cut or shifted copy
// shows.
WideString Units(std::size_t count) {
  WideString text;
  for (std::size_t i = 0; i < count; ++i) {
    text += static_cast<WCHAR>(u'a' + static_cast<WCHAR>(i % 26));
  }
  return text;
}

class HidHandle : public scriptedtest::ScriptedTest {};

TEST_F(HidHandle, OpenTwiceHoldsOneHandle) {
  devices.Plug(Pad(kPath));
  HID hid(kPath.c_str());
  ASSERT_TRUE(hid.Open());
  HANDLE first = hid.handle;
  ASSERT_TRUE(hid.Open());
  EXPECT_EQ(hid.handle, first);
  EXPECT_EQ(devices.Opens(kPath), 1);
  EXPECT_EQ(devices.OpenHandles(kPath), 1);
}

TEST_F(HidHandle, GetCapsGivesTheDeviceCaps) {
  standin::ScriptedDevice pad = Pad(kPath, 27);
  pad.caps.NumberInputButtonCaps = 3;
  devices.Plug(pad);
  HID hid(kPath.c_str());
  ASSERT_TRUE(hid.Open());
  HIDP_CAPS caps{};
  ASSERT_TRUE(hid.GetCaps(caps));
  EXPECT_EQ(caps.UsagePage, 1);
  EXPECT_EQ(caps.Usage, 5);
  EXPECT_EQ(caps.InputReportByteLength, 27);
  EXPECT_EQ(caps.NumberInputButtonCaps, 3);
}

TEST_F(HidHandle, WithoutPreparsedDataOpensButHasNoCaps) {
  standin::ScriptedDevice pad = Pad(kPath);
  pad.hasPreparsedData = false;
  devices.Plug(pad);
  HID hid(kPath.c_str());
  ASSERT_TRUE(hid.Open());
  EXPECT_NE(hid.handle, nullptr);
  EXPECT_EQ(hid.preparsed, nullptr);
  HIDP_CAPS caps{};
  caps.InputReportByteLength = 99;
  EXPECT_FALSE(hid.GetCaps(caps));
}

TEST_F(HidHandle, DestructorClosesHandleAndFreesPreparsedData) {
  devices.Plug(Pad(kPath));
  auto hid = std::make_unique<HID>(kPath.c_str());
  ASSERT_TRUE(hid->Open());
  ASSERT_EQ(devices.OpenHandles(kPath), 1);
  // Only compared by the stand-in, never followed, once freed.
  PHIDP_PREPARSED_DATA preparsed = hid->preparsed;
  HIDP_CAPS caps{};
  ASSERT_EQ(HidEntryPoints::HidP_GetCaps(preparsed, &caps), HIDP_STATUS_SUCCESS);

  hid.reset();
  EXPECT_EQ(devices.OpenHandles(kPath), 0);
  EXPECT_EQ(HidEntryPoints::HidP_GetCaps(preparsed, &caps), HIDP_STATUS_INVALID_PREPARSED_DATA);
}

// ---- Opening fails ----------------------------------------------------------

struct OpenFailureCase {
  const char* what;
  bool plug;
  bool opens;
  bool unplug;
};

std::ostream& operator<<(std::ostream& out, const OpenFailureCase& c) { return out << c.what; }

class HidOpenFailure : public scriptedtest::ScriptedTest,
                       public testing::WithParamInterface<OpenFailureCase> {};

TEST_P(HidOpenFailure, LeavesNoHandleAndDescribesNothing) {
  standin::ScriptedDevice pad = Pad(kPath);
  pad.opens = GetParam().opens;
  if (GetParam().plug) {
    devices.Plug(pad);
  }
  if (GetParam().unplug) {
    devices.Unplug(kPath);
  }
  HID hid(kPath.c_str());
  EXPECT_FALSE(hid.Open());
  EXPECT_EQ(hid.handle, nullptr);  // never INVALID_HANDLE_VALUE
  EXPECT_EQ(hid.preparsed, nullptr);
  HIDP_CAPS caps{};
  EXPECT_FALSE(hid.GetCaps(caps));
  WideString name = WIDE_TEXT("kept");
  EXPECT_FALSE(hid.ReadProductString(name));
  EXPECT_EQ(name, WideString(WIDE_TEXT("kept")));
  EXPECT_EQ(devices.Opens(kPath), 0);
}

const OpenFailureCase kOpenFailures[] = {
    {"UnknownPath", false, true, false},
    {"Refused", true, false, false},
    {"Unplugged", true, true, true},
};

INSTANTIATE_TEST_SUITE_P(Devices, HidOpenFailure, testing::ValuesIn(kOpenFailures),
                         testdevices::CaseName<OpenFailureCase>);

// ---- Product string ---------------------------------------------------------

struct ProductCase {
  const char* what;
  WideString product;
  WideString expected;  // what 'out' holds afterwards; it starts as "kept"
  bool reads;
  bool hasProductString;
  bool unplugAfterOpen;
};

std::ostream& operator<<(std::ostream& out, const ProductCase& c) { return out << c.what; }

class HidProductString : public scriptedtest::ScriptedTest,
                         public testing::WithParamInterface<ProductCase> {};

TEST_P(HidProductString, ReadsWithinTheBuffer) {
  standin::ScriptedDevice pad = Pad(kPath);
  pad.hasProductString = GetParam().hasProductString;
  pad.product = GetParam().product;
  devices.Plug(pad);
  HID hid(kPath.c_str());
  ASSERT_TRUE(hid.Open());
  if (GetParam().unplugAfterOpen) {
    devices.Unplug(kPath);
  }
  WideString out = WIDE_TEXT("kept");
  EXPECT_EQ(hid.ReadProductString(out), GetParam().reads);
  EXPECT_EQ(out, GetParam().expected);
}

// The handle asks for the product string in a buffer of 1024 bytes: 512
// units, with no room for a NUL when the string fills it.
const ProductCase kProducts[] = {
    {"Short", WIDE_TEXT("Pad"), WIDE_TEXT("Pad"), true, true, false},
    {"EmptySucceeds", WIDE_TEXT(""), WIDE_TEXT(""), true, true, false},
    {"OneUnitShortOfTheBuffer", Units(511), Units(511), true, true, false},
    {"FillsTheBufferWithoutNul", Units(512), Units(512), true, true, false},
    {"LongerThanTheBufferIsCut", Units(700), Units(512), true, true, false},
    {"DeviceHasNone", WIDE_TEXT("Pad"), WIDE_TEXT("kept"), false, false, false},
    {"DeviceGone", WIDE_TEXT("Pad"), WIDE_TEXT("kept"), false, true, true},
};

INSTANTIATE_TEST_SUITE_P(Devices, HidProductString, testing::ValuesIn(kProducts),
                         testdevices::CaseName<ProductCase>);

}  // namespace
