// The report-descriptor parser of the hidraw source: real devices' descriptors
// against the collections Windows gives them (tests/data), then small
// descriptors made by hand for the lengths, the report IDs and bad input.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <fstream>
#include <initializer_list>
#include <ostream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "platform/posix/hidraw/ReportDescriptor.h"

namespace {

using Bytes = std::vector<BYTE>;
using standin::DescriptorStatus;
using standin::ParseReportDescriptorStatus;
using standin::ReportDescriptor;

Bytes FromHex(const std::string& hex) {
  Bytes bytes;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
    bytes.push_back(static_cast<BYTE>(std::stoul(hex.substr(i, 2), nullptr, 16)));
  }
  return bytes;
}

// Every input ID a collection owns maps back to it, and no other ID maps to
// any collection.
void ExpectInputOwnersConsistent(const ReportDescriptor& parsed) {
  for (int id = 0; id < 256; ++id) {
    int owner = -1;
    for (std::size_t i = 0; i < parsed.collections.size(); ++i) {
      for (const BYTE owned : parsed.collections[i].inputReportIds) {
        if (owned == id && owner < 0) {
          owner = static_cast<int>(i);
        }
      }
    }
    EXPECT_EQ(parsed.InputCollectionOf(static_cast<BYTE>(id)), owner) << "report ID " << id;
  }
}

TEST(ReportDescriptorRealDevices, CollectionsAsWindowsGivesThem) {
  std::ifstream file(BT_TEST_DATA_DIR "/hid-descriptors.json");
  ASSERT_TRUE(file.is_open()) << BT_TEST_DATA_DIR "/hid-descriptors.json";
  const nlohmann::json data = nlohmann::json::parse(file);
  const nlohmann::json& devices = data.at("devices");
  ASSERT_FALSE(devices.empty());
  for (const nlohmann::json& device : devices) {
    SCOPED_TRACE(device.at("id").get<std::string>());
    const Bytes bytes = FromHex(device.at("descriptor").get<std::string>());
    ReportDescriptor parsed;
    const DescriptorStatus status = ParseReportDescriptorStatus(bytes.data(), bytes.size(), parsed);
    ASSERT_EQ(status, DescriptorStatus::kOk) << standin::DescriptorStatusName(status);
    EXPECT_EQ(parsed.usesReportIds, device.at("uses_report_ids").get<bool>());
    const nlohmann::json& collections = device.at("collections");
    ASSERT_EQ(parsed.collections.size(), collections.size());
    for (std::size_t i = 0; i < collections.size(); ++i) {
      SCOPED_TRACE("collection " + std::to_string(i));
      const nlohmann::json& expected = collections[i];
      const standin::TopCollection& got = parsed.collections[i];
      EXPECT_EQ(got.usagePage, expected.at("usage_page").get<USHORT>());
      EXPECT_EQ(got.usage, expected.at("usage").get<USHORT>());
      EXPECT_EQ(got.inputReportIds, expected.at("input_report_ids").get<std::vector<BYTE>>());
      EXPECT_EQ(got.inputReportByteLength, expected.at("input_report_byte_length").get<USHORT>());
    }
    ExpectInputOwnersConsistent(parsed);
  }
}

// ---- Descriptors made by hand ----------------------------------------------

struct Collection {
  USHORT usagePage;
  USHORT usage;
  Bytes inputReportIds;
  USHORT input;
  USHORT output;
  USHORT feature;
};

struct Case {
  const char* name;
  Bytes bytes;
  DescriptorStatus status;
  bool usesReportIds;
  std::vector<Collection> collections;
};

std::ostream& operator<<(std::ostream& stream, const Case& testCase) {
  return stream << testCase.name;
}

// Items, as their bytes. A value takes the fewest data bytes it fits in,
// unless a size is given.
Bytes Item(BYTE prefix, std::uint32_t value, std::size_t size) {
  Bytes bytes{static_cast<BYTE>(prefix | (size == 4 ? 3U : size))};
  for (std::size_t i = 0; i < size; ++i) {
    bytes.push_back(static_cast<BYTE>(value >> (8 * i)));
  }
  return bytes;
}
std::size_t Fit(std::uint32_t value) { return value < 0x100 ? 1 : value < 0x10000 ? 2 : 4; }
Bytes UsagePage(std::uint32_t page) { return Item(0x04, page, Fit(page)); }
Bytes Usage(std::uint32_t usage, std::size_t size = 1) { return Item(0x08, usage, size); }
Bytes Size(std::uint32_t bits) { return Item(0x74, bits, Fit(bits)); }
Bytes Count(std::uint32_t count) { return Item(0x94, count, Fit(count)); }
Bytes Id(std::uint32_t id) { return Item(0x84, id, Fit(id)); }
Bytes Gamepad() { return {0x05, 0x01, 0x09, 0x05}; }  // Generic Desktop, Gamepad
Bytes Application() { return {0xA1, 0x01}; }
Bytes Physical() { return {0xA1, 0x00}; }
Bytes End() { return {0xC0}; }
Bytes Input() { return {0x81, 0x02}; }    // Data, Variable, Absolute
Bytes Padding() { return {0x81, 0x03}; }  // Constant, Variable, Absolute
Bytes Output() { return {0x91, 0x02}; }
Bytes Feature() { return {0xB1, 0x02}; }
Bytes Push() { return {0xA4}; }
Bytes Pop() { return {0xB4}; }
Bytes Repeat(const Bytes& item, std::size_t times) {
  Bytes bytes;
  for (std::size_t i = 0; i < times; ++i) {
    bytes.insert(bytes.end(), item.begin(), item.end());
  }
  return bytes;
}
Bytes Join(std::initializer_list<Bytes> items) {
  Bytes bytes;
  for (const Bytes& item : items) {
    bytes.insert(bytes.end(), item.begin(), item.end());
  }
  return bytes;
}

// A device with one gamepad collection holding 'body'.
Bytes InGamepad(const Bytes& body) { return Join({Gamepad(), Application(), body, End()}); }

std::vector<Case> Cases() {
  constexpr auto kOk = DescriptorStatus::kOk;
  return {
      // Lengths.
      {"BitsRoundUpToBytes",
       InGamepad(Join({Size(1), Count(9), Input()})),
       kOk,
       false,
       {{1, 5, {0}, 3, 0, 0}}},
      {"ReportIdByteCountedWithoutReportIds",
       InGamepad(Join({Size(8), Count(3), Input()})),
       kOk,
       false,
       {{1, 5, {0}, 4, 0, 0}}},
      {"FieldsOfOneReportAddUpPaddingIncluded",
       InGamepad(Join(
           {Size(8), Count(2), Input(), Size(1), Count(4), Input(), Size(4), Count(1), Padding()})),
       kOk,
       false,
       {{1, 5, {0}, 4, 0, 0}}},
      {"LargestReportOfEachIdNotTheirSum",
       InGamepad(Join({Id(1), Size(8), Count(2), Input(), Id(2), Count(5), Input(), Id(3), Count(1),
                       Input()})),
       kOk,
       true,
       {{1, 5, {1, 2, 3}, 6, 0, 0}}},
      {"OutputAndFeatureLengthsApart",
       InGamepad(
           Join({Size(8), Count(1), Input(), Count(3), Output(), Size(16), Count(2), Feature()})),
       kOk,
       false,
       {{1, 5, {0}, 2, 4, 5}}},
      {"OutputAndFeaturePerReportId",
       InGamepad(Join({Id(1), Size(8), Count(2), Output(), Feature(), Id(2), Count(7), Output(),
                       Count(1), Feature()})),
       kOk,
       true,
       {{1, 5, {}, 0, 8, 3}}},
      {"FieldOfNoBitsDeclaresNoReport",
       InGamepad(Join({Size(8), Count(0), Input()})),
       kOk,
       false,
       {{1, 5, {}, 0, 0, 0}}},
      {"NestedCollectionsCountTowardTheirTop",
       InGamepad(
           Join({Usage(1), Physical(), Size(8), Count(4), Input(), End(), Count(1), Input()})),
       kOk,
       false,
       {{1, 5, {0}, 6, 0, 0}}},
      {"LargestLengthThatFits",
       InGamepad(Join({Size(8), Count(65534), Input()})),
       kOk,
       false,
       {{1, 5, {0}, 65535, 0, 0}}},

      // Usages of the top-level collections.
      {"LastUsageBeforeTheCollection",
       Join({UsagePage(1), Usage(4), Usage(5), Application(), End()}),
       kOk,
       false,
       {{1, 5, {}, 0, 0, 0}}},
      {"FourByteUsageCarriesItsPage",
       Join({UsagePage(1), Usage(0x000C0001, 4), Application(), End()}),
       kOk,
       false,
       {{0x0C, 1, {}, 0, 0, 0}}},
      {"TwoByteUsageTakesTheUsagePage",
       Join({UsagePage(0xFF00), Usage(0xFF01, 2), Application(), End()}),
       kOk,
       false,
       {{0xFF00, 0xFF01, {}, 0, 0, 0}}},
      {"TopLevelCollectionsInOrder",
       Join({InGamepad(Join({Id(1), Size(8), Count(1), Input()})), UsagePage(0x0C), Usage(1),
             Application(), Id(2), Count(3), Input(), End(), Application(), End()}),
       kOk,
       true,
       // The third has no Usage of its own: the local state ended at the
       // main item before it.
       {{1, 5, {1}, 2, 0, 0}, {0x0C, 1, {2}, 4, 0, 0}, {0x0C, 0, {}, 0, 0, 0}}},
      {"ReportIdInTwoCollectionsBelongsToTheFirst",
       Join({InGamepad(Join({Id(4), Size(8), Count(1), Input()})),
             InGamepad(Join({Id(4), Count(2), Input()}))}),
       kOk,
       true,
       {{1, 5, {4}, 4, 0, 0}, {1, 5, {}, 0, 0, 0}}},
      {"InputOfDeviceWithoutIdsBelongsToTheFirst",
       Join({InGamepad(Join({Size(8), Count(1), Input()})), InGamepad(Input())}),
       kOk,
       false,
       {{1, 5, {0}, 3, 0, 0}, {1, 5, {}, 0, 0, 0}}},

      // Push and Pop.
      {"PopRestoresReportSizeAndCount",
       InGamepad(Join({Size(8), Count(1), Push(), Size(16), Count(4), Input(), Pop(), Input()})),
       kOk,
       false,
       {{1, 5, {0}, 10, 0, 0}}},
      {"PopRestoresReportId",
       InGamepad(
           Join({Id(1), Size(8), Count(1), Push(), Id(2), Count(4), Input(), Pop(), Input()})),
       kOk,
       true,
       {{1, 5, {1, 2}, 5, 0, 0}}},
      {"PopRestoresUsagePage",
       Join({UsagePage(0x0C), Push(), UsagePage(1), Pop(), Usage(1), Application(), End()}),
       kOk,
       false,
       {{0x0C, 1, {}, 0, 0, 0}}},
      {"PushAsDeepAsTheStackHolds",
       InGamepad(Join({Size(8), Count(1), Repeat(Push(), 32), Input(), Repeat(Pop(), 32)})),
       kOk,
       false,
       {{1, 5, {0}, 2, 0, 0}}},
      {"PushDeeperThanTheStackHolds",
       InGamepad(Repeat(Push(), 33)),
       DescriptorStatus::kPushTooDeep,
       false,
       {}},
      {"PopWithoutPush",
       InGamepad(Join({Size(8), Count(1), Pop(), Input()})),
       DescriptorStatus::kPopWithoutPush,
       false,
       {}},

      // Items of no consequence, and structure gone wrong.
      {"LongItemSkippedWithItsData",
       // Its data, read as short items, would be Report Count (16).
       InGamepad(Join({Size(8), Count(1), {0xFE, 0x02, 0xF0, 0x95, 0x10}, Input()})),
       kOk,
       false,
       {{1, 5, {0}, 2, 0, 0}}},
      {"ReservedItemTypeSkipped",
       // Type 3 with a byte of data that would read as Report Count.
       InGamepad(Join({Size(8), Count(1), {0x0D, 0x95, 0x10}, Input()})),
       kOk,
       false,
       {{1, 5, {0}, 2, 0, 0}}},
      {"TrailingZeroBytesAndStrayEndCollection",
       Join({InGamepad(Join({Size(8), Count(1), Input()})), {0x00, 0xC0, 0x00, 0x00}}),
       kOk,
       false,
       {{1, 5, {0}, 2, 0, 0}}},
      {"MainItemsOutsideAnyCollectionIgnored",
       Join({Size(8), Count(4), Id(1), Input(), InGamepad(Join({Id(2), Count(1), Input()})),
             Count(9), Input(), Feature()}),
       kOk,
       true,
       {{1, 5, {2}, 2, 0, 0}}},
      {"CollectionNeverClosedKeepsWhatItDeclared",
       Join({Gamepad(), Application(), Size(8), Count(2), Input(), Physical(), Input()}),
       kOk,
       false,
       {{1, 5, {0}, 5, 0, 0}}},
      {"TruncatedShortItemEndsTheDescriptor",
       Join({Gamepad(), Application(), Size(8), Count(1), Input(), {0x96, 0x10}}),
       kOk,
       false,
       {{1, 5, {0}, 2, 0, 0}}},
      {"TruncatedLongItemEndsTheDescriptor",
       Join({Gamepad(), Application(), Size(8), Count(1), Input(), {0xFE, 0x10, 0x00, 0x95}}),
       kOk,
       false,
       {{1, 5, {0}, 2, 0, 0}}},
      {"LongItemHeaderCutShort",
       Join({InGamepad({}), {0xFE, 0x01}}),
       kOk,
       false,
       {{1, 5, {}, 0, 0, 0}}},

      // Failures.
      {"Empty", {}, DescriptorStatus::kNoCollection, false, {}},
      {"NoCollection",
       Join({Gamepad(), Size(8), Count(1), Input(), End(), {0x00}}),
       DescriptorStatus::kNoCollection,
       false,
       {}},
      {"ReportIdZero",
       InGamepad(Join({Id(0), Size(8), Count(1), Input()})),
       DescriptorStatus::kBadReportId,
       false,
       {}},
      {"ReportIdAbove255",
       InGamepad(Join({Id(256), Size(8), Count(1), Input()})),
       DescriptorStatus::kBadReportId,
       false,
       {}},
      {"ReportDeclaredBeforeAnyReportId",
       InGamepad(Join({Size(8), Count(1), Input(), Id(1), Input()})),
       DescriptorStatus::kBadReportId,
       false,
       {}},
      {"InputOneBitTooLong",
       InGamepad(Join({Size(8), Count(65534), Input(), Size(1), Count(1), Input()})),
       DescriptorStatus::kReportTooLong,
       false,
       {}},
      {"FeatureTooLong",
       InGamepad(Join({Size(16), Count(40000), Feature()})),
       DescriptorStatus::kReportTooLong,
       false,
       {}},
      {"OutputTooLongInTheSecondCollection",
       Join({InGamepad(Join({Size(8), Count(1), Input()})),
             InGamepad(Join({Size(255), Count(255), Repeat(Output(), 9)}))}),
       DescriptorStatus::kReportTooLong,
       false,
       {}},
      {"SizeTimesCountPast32Bits",
       // 0x10001 x 0x10000 bits: in 32 bits the product would wrap to 65536.
       InGamepad(Join({Size(0x10001), Count(0x10000), Input()})),
       DescriptorStatus::kReportTooLong,
       false,
       {}},
      {"SumPast64Bits",
       // (2^32 - 1)^2 + 2^33 bits: in 64 bits the sum would wrap to 1.
       InGamepad(Join(
           {Size(0xFFFFFFFF), Count(0xFFFFFFFF), Input(), Size(0x80000000), Count(4), Input()})),
       DescriptorStatus::kReportTooLong,
       false,
       {}},
  };
}

class ReportDescriptorCase : public ::testing::TestWithParam<Case> {};

TEST_P(ReportDescriptorCase, Parses) {
  const Case& testCase = GetParam();
  // Left over from an earlier parse: a failure must clear it.
  ReportDescriptor parsed;
  parsed.usesReportIds = true;
  parsed.collections.resize(2);
  const DescriptorStatus status =
      ParseReportDescriptorStatus(testCase.bytes.data(), testCase.bytes.size(), parsed);
  ASSERT_EQ(status, testCase.status) << standin::DescriptorStatusName(status);
  EXPECT_EQ(parsed.usesReportIds, testCase.usesReportIds);
  ASSERT_EQ(parsed.collections.size(), testCase.collections.size());
  for (std::size_t i = 0; i < testCase.collections.size(); ++i) {
    SCOPED_TRACE("collection " + std::to_string(i));
    const Collection& expected = testCase.collections[i];
    const standin::TopCollection& got = parsed.collections[i];
    EXPECT_EQ(got.usagePage, expected.usagePage);
    EXPECT_EQ(got.usage, expected.usage);
    EXPECT_EQ(got.inputReportIds, expected.inputReportIds);
    EXPECT_EQ(got.inputReportByteLength, expected.input);
    EXPECT_EQ(got.outputReportByteLength, expected.output);
    EXPECT_EQ(got.featureReportByteLength, expected.feature);
  }
  ExpectInputOwnersConsistent(parsed);

  // The plain entry point agrees, and so does a parse of the same bytes in a
  // buffer of exactly their size (so that a read past them is caught).
  ReportDescriptor again;
  const Bytes exact(testCase.bytes);
  EXPECT_EQ(standin::ParseReportDescriptor(exact.data(), exact.size(), again),
            testCase.status == DescriptorStatus::kOk);
  EXPECT_EQ(again.collections.size(), testCase.collections.size());
}

INSTANTIATE_TEST_SUITE_P(Handmade, ReportDescriptorCase, ::testing::ValuesIn(Cases()),
                         [](const ::testing::TestParamInfo<Case>& param) {
                           return std::string(param.param.name);
                         });

TEST(ReportDescriptor, NullDataOfNoBytesHasNoCollection) {
  ReportDescriptor parsed;
  EXPECT_EQ(ParseReportDescriptorStatus(nullptr, 0, parsed), DescriptorStatus::kNoCollection);
  EXPECT_TRUE(parsed.collections.empty());
}

TEST(ReportDescriptor, InputCollectionOfUnknownIdIsNone) {
  const Bytes bytes = InGamepad(Join({Id(7), Size(8), Count(1), Input(), Output()}));
  ReportDescriptor parsed;
  ASSERT_TRUE(standin::ParseReportDescriptor(bytes.data(), bytes.size(), parsed));
  EXPECT_EQ(parsed.InputCollectionOf(7), 0);
  EXPECT_EQ(parsed.InputCollectionOf(0), -1);
  EXPECT_EQ(parsed.InputCollectionOf(8), -1);
}

}  // namespace
