#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/TestDevices.h"
#include "trainer/DeviceTrainer.h"

namespace {

using testdevices::Bytes;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

const testdevices::Description kPad{0x045E, 0x028E, 0x0114, 1, 5, 3, WIDE_TEXT("Pad")};

struct TrainerCase {
  const char* what;
  std::vector<Bytes> reports;
  std::string expected;
};

std::ostream& operator<<(std::ostream& out, const TrainerCase& c) { return out << c.what; }

// Feeds the reports one after the other through one buffer, as a device's
// read buffer is reused, so a trainer that kept the caller's bytes instead of
// copying them would compare a report with itself.
std::string Feed(DeviceTrainer& trainer, const std::vector<Bytes>& reports) {
  Bytes buffer;
  buffer.reserve(64);
  CaptureStdout();
  for (const Bytes& bytes : reports) {
    buffer.assign(bytes.begin(), bytes.end());
    const MaruvelHID::InputReport report = testdevices::ReportOver(buffer);
    trainer.OnReport(&report);
  }
  return GetCapturedStdout();
}

class TrainerSequence : public testing::TestWithParam<TrainerCase> {};

TEST_P(TrainerSequence, PrintsExactly) {
  auto device = testdevices::MakeDevice(kPad);
  DeviceTrainer trainer(device.get());
  EXPECT_EQ(Feed(trainer, GetParam().reports), GetParam().expected);
}

const TrainerCase kSequences[] = {
    {"FirstReportTeachesNothing", {{0, 0x01, 0}}, ""},
    {"PressAndReleasePrintOneLine",
     {{0, 0, 0}, {0, 0x04, 0}, {0, 0, 0}},
     "045E-028E v114 (1,5,3)(Pad): Button 1 at bit 10\n"},
    {"HeldButtonLearntOnRelease",
     {{0, 0x10, 0}, {0, 0, 0}},
     "045E-028E v114 (1,5,3)(Pad): Button 1 at bit 12\n"},
    {"TwoBitsOfOneByteAtOnceTeachNothing", {{0, 0, 0}, {0, 0x03, 0}}, ""},
    {"TwoBytesAtOnceTeachNothing", {{0, 0, 0}, {0, 0x01, 0x01}}, ""},
    {"OneAfterTheOtherAreButtons1And2",
     {{0, 0, 0}, {0, 0x01, 0}, {0, 0x01, 0x80}},
     "045E-028E v114 (1,5,3)(Pad): Button 1 at bit 8\n"
     "045E-028E v114 (1,5,3)(Pad): Button 2 at bit 23\n"},
    {"BitMovingToItsNeighbourTeachesNothing", {{0, 0x01, 0}, {0, 0x02, 0}}, ""},
    {"AxisMovingInItsLowestBitIsAButton",
     {{0, 0, 0x40}, {0, 0, 0x41}},
     "045E-028E v114 (1,5,3)(Pad): Button 1 at bit 16\n"},
    {"KnownBitKeepsItsNumber",
     {{0, 0, 0}, {0, 0x01, 0}, {0, 0, 0}, {0, 0x02, 0}, {0, 0, 0}, {0, 0x01, 0}},
     "045E-028E v114 (1,5,3)(Pad): Button 1 at bit 8\n"
     "045E-028E v114 (1,5,3)(Pad): Button 2 at bit 9\n"},
    {"ShortReportSkippedNextComparedWithLastFull",
     {{0, 0, 0}, {0, 0x01}, {0, 0x01, 0}},
     "Pad: 2 bytes read != 3\n"
     "045E-028E v114 (1,5,3)(Pad): Button 1 at bit 8\n"},
    {"LongReportSkipped", {{0, 0, 0}, {0, 0, 0, 0x01}, {0, 0, 0}}, "Pad: 4 bytes read != 3\n"},
    {"ShortFirstReportLeavesNothingToCompare",
     {{0, 0x01}, {0, 0, 0}, {0, 0x01, 0}},
     "Pad: 2 bytes read != 3\n"
     "045E-028E v114 (1,5,3)(Pad): Button 1 at bit 8\n"},
    {"ReportIdByteIsByteZero",
     {{0x01, 0, 0}, {0x01, 0x01, 0}, {0x03, 0x01, 0}},
     "045E-028E v114 (1,5,3)(Pad): Button 1 at bit 8\n"
     "045E-028E v114 (1,5,3)(Pad): Button 2 at bit 1\n"},
};

INSTANTIATE_TEST_SUITE_P(Reports, TrainerSequence, testing::ValuesIn(kSequences),
                         testdevices::CaseName<TrainerCase>);

TEST(DeviceTrainerLine, HexFieldsUpperCaseVersionUnpadded) {
  auto device = testdevices::MakeDevice({0x000A, 0xBEEF, 0x02A0, 0xFF00, 1, 2, WIDE_TEXT("Dial")});
  DeviceTrainer trainer(device.get());
  EXPECT_EQ(Feed(trainer, {{0, 0}, {0, 0x80}}),
            "000A-BEEF v2A0 (65280,1,2)(Dial): Button 1 at bit 15\n");
}

TEST(DeviceTrainerLine, SingleBitIndexOfEveryBit) {
  for (int bit = 0; bit < 8; ++bit) {
    EXPECT_EQ(DeviceTrainer::SingleBitIndex(static_cast<BYTE>(1U << bit)), bit);
  }
}

}  // namespace
