#include <gtest/gtest.h>

#include "tests/TestDevices.h"

namespace {

using MaruvelHID::WideString;

TEST(DeviceDescription, EmptyProductStringBecomesUnnamedDevice) {
  auto device = testdevices::MakeDevice({1, 2, 3, 1, 5, 8, WIDE_TEXT("")});
  EXPECT_EQ(device->name, WideString(WIDE_TEXT("Unnamed Device")));
  EXPECT_EQ(device->name.size(), 14U);
}

}  // namespace
