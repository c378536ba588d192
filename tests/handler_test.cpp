#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "tests/TestDevices.h"
#include "trainer/Handler.h"

namespace {

using testdevices::Bytes;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

void Deliver(Handler& handler, MaruvelHID::Device& device, const Bytes& bytes) {
  const MaruvelHID::InputReport report = testdevices::ReportOver(bytes);
  handler.OnRead(&device, &report);
}

class HandlerTest : public testing::Test {
 protected:
  std::unique_ptr<MaruvelHID::Device> pad =
      testdevices::MakeDevice({0x045E, 0x028E, 0x0114, 1, 5, 3, WIDE_TEXT("Pad")});
  std::unique_ptr<MaruvelHID::Device> stick =
      testdevices::MakeDevice({0x044F, 0xB10A, 0x0100, 1, 4, 3, WIDE_TEXT("Stick")});
  std::unique_ptr<MaruvelHID::Device> wheel =
      testdevices::MakeDevice({0x046D, 0xC24F, 0x0001, 1, 4, 2, WIDE_TEXT("Wheel")});
};

TEST_F(HandlerTest, FirstReportCreatesTheTrainerAndIsConsidered) {
  CaptureStdout();
  {
    Handler handler;
    Deliver(handler, *pad, {0, 0, 0});
    DeviceTrainer* trainer = handler.GetTrainer(pad.get());
    Deliver(handler, *pad, {0, 0x01, 0});
    EXPECT_EQ(handler.GetTrainer(pad.get()), trainer);
  }
  EXPECT_EQ(GetCapturedStdout(),
            "045E-028E v114 (1,5,3)(Pad): Button 1 at bit 8\n"
            "~DeviceTrainer()\n");
}

TEST_F(HandlerTest, EmptyReportCreatesNoTrainer) {
  CaptureStdout();
  {
    Handler handler;
    Deliver(handler, *pad, {});
  }
  EXPECT_EQ(GetCapturedStdout(), "");
}

TEST_F(HandlerTest, DevicesLearnIndependently) {
  CaptureStdout();
  {
    Handler handler;
    Deliver(handler, *pad, {0, 0, 0});
    Deliver(handler, *stick, {0, 0, 0});
    Deliver(handler, *pad, {0, 0x01, 0});
    Deliver(handler, *stick, {0, 0x01, 0});
    Deliver(handler, *stick, {0, 0x01, 0x01});
    Deliver(handler, *pad, {0, 0, 0});
  }
  EXPECT_EQ(GetCapturedStdout(),
            "045E-028E v114 (1,5,3)(Pad): Button 1 at bit 8\n"
            "044F-B10A v100 (1,4,3)(Stick): Button 1 at bit 8\n"
            "044F-B10A v100 (1,4,3)(Stick): Button 2 at bit 16\n"
            "~DeviceTrainer()\n"
            "~DeviceTrainer()\n");
}

TEST_F(HandlerTest, OneFarewellPerDeviceThatReported) {
  CaptureStdout();
  {
    Handler handler;
    Deliver(handler, *pad, {0, 0, 0});
    Deliver(handler, *stick, {});
    Deliver(handler, *wheel, {0, 0});
    Deliver(handler, *wheel, {0, 0});
  }
  EXPECT_EQ(GetCapturedStdout(), "~DeviceTrainer()\n~DeviceTrainer()\n");
}

}  // namespace
