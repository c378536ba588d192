// The button trainer as a whole: the real program, built over scripted
// devices that play a scenario, run as a process and judged by its output.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct ProgramRun {
  std::string output;
  int exitCode = -1;
  std::string errors;
};

// A file that exists while the object does.
class TemporaryFile {
 public:
  explicit TemporaryFile(const std::string& contents) {
    std::string name = testing::TempDir() + "trainer-XXXXXX";
    const int descriptor = mkstemp(name.data());
    if (descriptor >= 0) {
      (void)close(descriptor);
      path = name;
      std::ofstream(path) << contents;
    }
  }
  ~TemporaryFile() {
    if (!path.empty()) {
      (void)std::remove(path.c_str());
    }
  }
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;
  TemporaryFile(TemporaryFile&&) = delete;
  TemporaryFile& operator=(TemporaryFile&&) = delete;

  std::string path;
};

std::string ReadAll(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// Runs the program over the scenario and collects what it printed.
ProgramRun RunProgram(const std::string& scenario) {
  TemporaryFile scenarioFile(scenario);
  TemporaryFile errorFile("");
  const std::string command =
      "BT_SCENARIO='" + scenarioFile.path +
      "' LSAN_OPTIONS='print_suppressions=0:suppressions=" + BT_LSAN_SUPPRESSIONS + "' '" +
      BT_SCRIPTED_TRAINER + "' 2>'" + errorFile.path + "'";
  ProgramRun run;
  FILE* program = popen(command.c_str(), "r");
  if (program == nullptr) {
    return run;
  }
  char chunk[4096];
  size_t got = 0;
  while ((got = std::fread(chunk, 1, sizeof chunk, program)) > 0) {
    run.output.append(chunk, got);
  }
  const int status = pclose(program);
  run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  run.errors = ReadAll(errorFile.path);
  return run;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    lines.push_back(line);
  }
  return lines;
}

struct SessionCase {
  const char* what;
  const char* scenario;
  const char* expected;
};

std::ostream& operator<<(std::ostream& out, const SessionCase& c) { return out << c.what; }

class Session : public testing::TestWithParam<SessionCase> {};

TEST_P(Session, PrintsExactlyAndExitsWithZero) {
  const ProgramRun run = RunProgram(GetParam().scenario);
  EXPECT_EQ(run.output, GetParam().expected);
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.errors, "");
}

// Each report is followed by a wait for the read that its completion issues,
// so that the reports of several devices are handled in the order played.
const SessionCase kSessions[] = {
    {"NoDevices", "", "Waiting for input...\n"},
    {"GamepadPressesAndReleases",
     "device /pad 0x045E 0x028E 0x0114 1 5 4 Controller\n"
     "wait-reads /pad 1\n"
     "report /pad 00 00 00 00\n"
     "wait-reads /pad 2\n"
     "report /pad 00 01 00 00\n"
     "wait-reads /pad 3\n"
     "report /pad 00 00 00 00\n"
     "wait-reads /pad 4\n"
     "report /pad 00 00 40 00\n"
     "wait-reads /pad 5\n"
     "report /pad 00 00 00 00\n"
     "wait-reads /pad 6\n"
     "report /pad 00 01 00 00\n"
     "wait-reads /pad 7\n",
     "Waiting for input...\n"
     "045E-028E v114 (1,5,4)(Controller): Button 1 at bit 8\n"
     "045E-028E v114 (1,5,4)(Controller): Button 2 at bit 22\n"
     "~DeviceTrainer()\n"},
    {"TwoDevicesLearnApartAndTheSkippedOnesStaySilent",
     "device /a 0x1234 0x0001 0x0100 1 4 2 Stick\n"
     "device /b 0x1234 0x0002 0x0200 1 5 3\n"
     "device /refuses 0x1234 0x0003 0x0001 1 6 2 Keyboard\n"
     "refuse-open /refuses\n"
     "device /undescribed 0x1234 0x0004 0x0001 1 2 2 Mouse\n"
     "no-preparsed-data /undescribed\n"
     "device /no-input 0x1234 0x0005 0x0001 12 1 0 Consumer\n"
     "wait-reads /a 1\n"
     "wait-reads /b 1\n"
     "report /a 00 00\n"
     "wait-reads /a 2\n"
     "report /b 00 00 00\n"
     "wait-reads /b 2\n"
     "report /a 00 02\n"
     "wait-reads /a 3\n"
     "report /b 00 00 80\n"
     "wait-reads /b 3\n"
     "report /a 00 03\n"
     "wait-reads /a 4\n",
     "Waiting for input...\n"
     "1234-0001 v100 (1,4,2)(Stick): Button 1 at bit 9\n"
     "1234-0002 v200 (1,5,3)(Unnamed Device): Button 1 at bit 23\n"
     "1234-0001 v100 (1,4,2)(Stick): Button 2 at bit 8\n"
     "~DeviceTrainer()\n"
     "~DeviceTrainer()\n"},
    {"UnplugWhileAReadIsPending",
     "device /pad 0x045E 0x028E 0x0114 1 5 2 Pad\n"
     "wait-reads /pad 1\n"
     "report /pad 00 00\n"
     "wait-reads /pad 2\n"
     "report /pad 00 10\n"
     "wait-reads /pad 3\n"
     "unplug /pad\n"
     "sleep 200\n",
     "Waiting for input...\n"
     "045E-028E v114 (1,5,2)(Pad): Button 1 at bit 12\n"
     "~DeviceTrainer()\n"},
};

INSTANTIATE_TEST_SUITE_P(Program, Session, testing::ValuesIn(kSessions),
                         [](const testing::TestParamInfo<SessionCase>& param) {
                           return std::string(param.param.what);
                         });

// The program ends while several devices stream reports as fast as they can:
// every run prints the prompt first, one line per device, then one farewell
// per device, with nothing lost, doubled or torn.
TEST(Program, EndsCleanlyWhileDevicesStream) {
  constexpr int kDevices = 6;
  constexpr int kRuns = 8;
  std::string scenario;
  std::vector<std::string> buttonLines;
  for (int i = 0; i < kDevices; ++i) {
    const std::string path = "/stream" + std::to_string(i);
    char ids[64];
    (void)std::snprintf(ids, sizeof ids, "0x1000 0x%04X 0x0001 1 5 3", i);
    scenario += "device " + path + " " + ids + " Streamer\n";
    char line[96];
    (void)std::snprintf(line, sizeof line, "1000-%04X v1 (1,5,3)(Streamer): Button 1 at bit %d", i,
                        8 + i);
    buttonLines.emplace_back(line);
  }
  for (int i = 0; i < kDevices; ++i) {
    const std::string path = "/stream" + std::to_string(i);
    char bytes[32];
    (void)std::snprintf(bytes, sizeof bytes, "00 %02X 00", 1 << i);
    scenario += "wait-reads " + path + " 1\n";
    scenario += "stream " + path + " 00 00 00 / " + bytes + "\n";
  }
  std::sort(buttonLines.begin(), buttonLines.end());

  for (int run = 0; run < kRuns; ++run) {
    SCOPED_TRACE("run " + std::to_string(run));
    const ProgramRun result = RunProgram(scenario);
    ASSERT_EQ(result.exitCode, 0) << result.errors;
    EXPECT_EQ(result.errors, "");
    std::vector<std::string> lines = Lines(result.output);
    ASSERT_EQ(lines.size(), static_cast<size_t>(1 + 2 * kDevices)) << result.output;
    EXPECT_EQ(lines.front(), "Waiting for input...");
    std::vector<std::string> learnt(lines.begin() + 1, lines.begin() + 1 + kDevices);
    std::sort(learnt.begin(), learnt.end());
    EXPECT_EQ(learnt, buttonLines);
    for (size_t i = 1 + kDevices; i < lines.size(); ++i) {
      EXPECT_EQ(lines[i], "~DeviceTrainer()");
    }
  }
}

}  // namespace
