// The uhid player's scenarios: what a good one parses to, the clear refusal
// of a bad one, and every committed scenario parsing.
#include <dirent.h>
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/vm/Scenario.h"

namespace {

using uhidplay::Scenario;
using uhidplay::Step;

bool Parse(const std::string& text, Scenario& scenario, std::string& error) {
  std::istringstream in(text);
  return uhidplay::ParseScenario(in, scenario, error);
}

const char kPad[] = "descriptor pad 05 01 09 05 a1 01 c0\ncreate pad usb 1 2 3\n";

TEST(Scenario, ParsesEveryStep) {
  const std::string text =
      "# a comment\r\n"
      "descriptor pad 05 01 0905\n"
      "\n"
      "descriptor pad a1 01 C0\n"
      "create pad usb 0x045E 0x028E 0x0114   Virtual  Pad é  \n"
      "descriptor pad 00\n"
      "mode pad 0640\n"
      "start uid=1000 gid=100 LANG=C.UTF-8 X=a=b\n"
      "wait-output   Waiting for input...  \n"
      "wait-open pad\n"
      "input pad 00 01\n"
      "sleep 250\n"
      "cpu 2000 12.5\n"
      "destroy pad\n"
      "create pad 0x18 1 2 3\n";
  Scenario scenario;
  std::string error;
  ASSERT_TRUE(Parse(text, scenario, error)) << error;
  ASSERT_EQ(scenario.steps.size(), 10U);

  const Step& create = scenario.steps[0];
  EXPECT_EQ(create.kind, Step::kCreate);
  EXPECT_EQ(create.line, 5);
  EXPECT_EQ(create.device, "pad");
  EXPECT_EQ(create.bytes, (std::vector<uint8_t>{0x05, 0x01, 0x09, 0x05, 0xA1, 0x01, 0xC0}));
  EXPECT_EQ(create.bus, 3);
  EXPECT_EQ(create.vendor, 0x045EU);
  EXPECT_EQ(create.product, 0x028EU);
  EXPECT_EQ(create.version, 0x0114U);
  EXPECT_EQ(create.text, "Virtual  Pad é");

  EXPECT_EQ(scenario.steps[1].kind, Step::kMode);
  EXPECT_EQ(scenario.steps[1].number, 0640);

  const Step& start = scenario.steps[2];
  EXPECT_EQ(start.kind, Step::kStart);
  EXPECT_EQ(start.uid, 1000);
  EXPECT_EQ(start.gid, 100);
  EXPECT_EQ(start.environment, (std::vector<std::string>{"LANG=C.UTF-8", "X=a=b"}));

  EXPECT_EQ(scenario.steps[3].kind, Step::kWaitOutput);
  EXPECT_EQ(scenario.steps[3].text, "Waiting for input...");
  EXPECT_EQ(scenario.steps[4].kind, Step::kWaitOpen);
  EXPECT_EQ(scenario.steps[5].kind, Step::kInput);
  EXPECT_EQ(scenario.steps[5].bytes, (std::vector<uint8_t>{0x00, 0x01}));
  EXPECT_EQ(scenario.steps[6].kind, Step::kSleep);
  EXPECT_EQ(scenario.steps[6].number, 250);
  EXPECT_EQ(scenario.steps[7].kind, Step::kCpu);
  EXPECT_EQ(scenario.steps[7].number, 2000);
  EXPECT_DOUBLE_EQ(scenario.steps[7].percent, 12.5);
  EXPECT_EQ(scenario.steps[8].kind, Step::kDestroy);

  // Created again, with the descriptor lines given since.
  const Step& again = scenario.steps[9];
  EXPECT_EQ(again.kind, Step::kCreate);
  EXPECT_EQ(again.bus, 0x18);
  EXPECT_EQ(again.bytes.size(), 8U);
  EXPECT_EQ(again.text, "");
}

TEST(Scenario, StartsWithTheCallersUserWhenNoneIsGiven) {
  Scenario scenario;
  std::string error;
  ASSERT_TRUE(Parse("start\n", scenario, error)) << error;
  ASSERT_EQ(scenario.steps.size(), 1U);
  EXPECT_EQ(scenario.steps[0].uid, -1);
  EXPECT_EQ(scenario.steps[0].gid, -1);
  EXPECT_TRUE(scenario.steps[0].environment.empty());
}

struct BadCase {
  const char* what;
  std::string text;
  const char* error;  // the whole message must hold this
};

std::ostream& operator<<(std::ostream& out, const BadCase& c) { return out << c.what; }

class BadScenario : public testing::TestWithParam<BadCase> {};

TEST_P(BadScenario, IsRefusedWithItsLine) {
  Scenario scenario;
  scenario.steps.resize(1);
  std::string error;
  EXPECT_FALSE(Parse(GetParam().text, scenario, error));
  EXPECT_NE(error.find(GetParam().error), std::string::npos) << error;
  EXPECT_TRUE(scenario.steps.empty());
}

// 4097 bytes, one over the limit, as hex digits.
const std::string kLongDescriptor = "descriptor pad " + std::string(size_t{8194}, 'a') + "\n";
const std::string kLongReport =
    std::string(kPad) + "input pad " + std::string(size_t{8194}, '0') + "\n";
const std::string kLongName =
    "descriptor pad 00\ncreate pad usb 1 2 3 " + std::string(128, 'n') + "\n";

const BadCase kBadCases[] = {
    {"UnknownStep", "start\njump pad\n", "line 2: unknown step 'jump'"},
    {"NoStart", kPad, "no start step"},
    {"StartTwice", "start\nstart\n", "line 2: the tool is started once"},
    {"StartWord", "start root\n", "line 1: start takes uid=N"},
    {"StartUid", "start uid=me\n", "line 1: uid needs a number"},
    {"StartNegativeGid", "start gid=-1\n", "line 1: gid needs a number"},
    {"CreateWithoutDescriptor", "create pad usb 1 2 3\n", "line 1: no descriptor lines for pad"},
    {"CreateTwice", std::string(kPad) + "create pad usb 1 2 3\n", "line 3: pad exists already"},
    {"CreateBadName", "create p/d usb 1 2 3\n", "line 1: create needs a device name"},
    {"CreateBadBus", "descriptor pad 00\ncreate pad serial 1 2 3\n",
     "line 2: create needs: DEVICE"},
    {"CreateVendorTooBig", "descriptor pad 00\ncreate pad usb 0x10000 2 3\n",
     "line 2: create needs"},
    {"CreateMissingVersion", "descriptor pad 00\ncreate pad usb 1 2\n", "line 2: create needs"},
    {"CreateLongName", kLongName, "line 2: a name is at most 127 bytes"},
    {"DescriptorOddDigits", "descriptor pad 050\n", "line 1: descriptor bytes must be pairs"},
    {"DescriptorNotHex", "descriptor pad 0g\n", "line 1: descriptor bytes must be pairs"},
    {"DescriptorTooLong", kLongDescriptor, "line 1: the descriptor of pad is longer than 4096"},
    {"InputUnknownDevice", "start\ninput pad 00\n", "line 2: no device pad has been created"},
    {"InputAfterDestroy", std::string(kPad) + "destroy pad\ninput pad 00\n",
     "line 4: no device pad has been created"},
    {"InputEmpty", std::string(kPad) + "input pad\n", "line 3: input needs a device and report"},
    {"InputTooLong", kLongReport, "line 3: a report is at most 4096 bytes"},
    {"DestroyTrailingWord", std::string(kPad) + "destroy pad now\n", "line 3: unexpected 'now'"},
    {"ModeNotOctal", std::string(kPad) + "mode pad 0999\n",
     "line 3: mode needs a device and an octal"},
    {"WaitOutputBeforeStart", "wait-output Waiting\n", "line 1: wait-output comes after start"},
    {"WaitOutputEmpty", "start\nwait-output   \n", "line 2: wait-output needs the text"},
    {"WaitOpenBeforeStart", std::string(kPad) + "wait-open pad\n", "line 3: wait-open comes after"},
    {"SleepNegative", "sleep -1\n", "line 1: sleep needs milliseconds"},
    {"SleepTooLong", "sleep 60001\n", "line 1: sleep needs milliseconds"},
    {"SleepNotANumber", "sleep 1s\n", "line 1: sleep needs milliseconds"},
    {"CpuTooShort", "start\ncpu 99 10\n", "line 2: cpu needs milliseconds"},
    {"CpuNoBound", "start\ncpu 1000\n", "line 2: cpu needs the most percent"},
    {"CpuBoundZero", "start\ncpu 1000 0\n", "line 2: cpu needs the most percent"},
    {"CpuBoundAbove100", "start\ncpu 1000 100.5\n", "line 2: cpu needs the most percent"},
    {"CpuBeforeStart", "cpu 1000 10\n", "line 1: cpu comes after start"},
};

INSTANTIATE_TEST_SUITE_P(Scenario, BadScenario, testing::ValuesIn(kBadCases),
                         [](const testing::TestParamInfo<BadCase>& param) {
                           return std::string(param.param.what);
                         });

// The scenarios that scripts/vm-test.sh plays, checked without a kernel.
TEST(Scenario, EveryCommittedScenarioParses) {
  DIR* dir = opendir(BT_VM_SCENARIOS);
  ASSERT_NE(dir, nullptr) << BT_VM_SCENARIOS;
  std::vector<std::string> names;
  while (const dirent* entry = readdir(dir)) {
    const std::string name = entry->d_name;
    const std::string suffix = ".scenario";
    if (name.size() > suffix.size() &&
        name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0) {
      names.push_back(name);
    }
  }
  (void)closedir(dir);
  ASSERT_FALSE(names.empty());
  for (const std::string& name : names) {
    SCOPED_TRACE(name);
    std::ifstream in(std::string(BT_VM_SCENARIOS) + "/" + name);
    Scenario scenario;
    std::string error;
    EXPECT_TRUE(uhidplay::ParseScenario(in, scenario, error)) << error;
    std::ifstream expected(std::string(BT_VM_SCENARIOS) + "/" + name.substr(0, name.size() - 9) +
                           ".expected");
    EXPECT_TRUE(expected.good()) << "no .expected file beside it";
  }
}

}  // namespace
