#include "tests/vm/Scenario.h"

#include <cerrno>
#include <cstdlib>
#include <map>
#include <set>
#include <utility>

namespace uhidplay {

namespace {

constexpr long kMaxMilliseconds = 60000;

// Splits off the first word of 'rest', skipping the blanks before it.
std::string NextWord(std::string& rest) {
  const size_t begin = rest.find_first_not_of(" \t");
  if (begin == std::string::npos) {
    rest.clear();
    return {};
  }
  const size_t end = rest.find_first_of(" \t", begin);
  std::string word = rest.substr(begin, end == std::string::npos ? std::string::npos : end - begin);
  rest = end == std::string::npos ? std::string() : rest.substr(end);
  return word;
}

std::string Trimmed(const std::string& text) {
  const size_t begin = text.find_first_not_of(" \t");
  if (begin == std::string::npos) {
    return {};
  }
  return text.substr(begin, text.find_last_not_of(" \t") - begin + 1);
}

// A whole word as an unsigned number in C notation (0x hex, 0 octal) or in
// 'base', no larger than 'max'.
bool ParseNumber(const std::string& word, int base, unsigned long max, unsigned long& out) {
  if (word.empty() || word[0] == '-' || word[0] == '+') {
    return false;
  }
  errno = 0;
  char* end = nullptr;
  const unsigned long value = std::strtoul(word.c_str(), &end, base);
  if (errno != 0 || end == word.c_str() || *end != '\0' || value > max) {
    return false;
  }
  out = value;
  return true;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') {
    return c - '0';
  }
  if (c >= 'a' && c <= 'f') {
    return c - 'a' + 10;
  }
  if (c >= 'A' && c <= 'F') {
    return c - 'A' + 10;
  }
  return -1;
}

// Appends the bytes of words of hex digit pairs ("05 01", "0501").
bool ParseHex(std::string rest, std::vector<uint8_t>& out) {
  for (std::string word = NextWord(rest); !word.empty(); word = NextWord(rest)) {
    if (word.size() % 2 != 0) {
      return false;
    }
    for (size_t i = 0; i < word.size(); i += 2) {
      const int high = HexDigit(word[i]);
      const int low = HexDigit(word[i + 1]);
      if (high < 0 || low < 0) {
        return false;
      }
      out.push_back(static_cast<uint8_t>(high * 16 + low));
    }
  }
  return true;
}

bool ValidDeviceName(const std::string& name) {
  if (name.empty()) {
    return false;
  }
  for (const char c : name) {
    const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                    c == '-' || c == '_';
    if (!ok) {
      return false;
    }
  }
  return true;
}

bool ParseBus(const std::string& word, uint16_t& out) {
  static const std::map<std::string, uint16_t> kNames = {
      {"usb", 0x03}, {"bluetooth", 0x05}, {"virtual", 0x06}, {"i2c", 0x18}};
  const auto named = kNames.find(word);
  if (named != kNames.end()) {
    out = named->second;
    return true;
  }
  unsigned long value = 0;
  if (!ParseNumber(word, 0, 0xFFFF, value)) {
    return false;
  }
  out = static_cast<uint16_t>(value);
  return true;
}

// What the parser knows of the devices while it walks the steps.
struct State {
  std::map<std::string, std::vector<uint8_t>> descriptors;
  std::set<std::string> created;
  bool started = false;
};

class LineParser {
 public:
  LineParser(State& known, int number) : state(known), line(number) {}

  // Parses one step; false leaves the reason in 'error'.
  bool Parse(const std::string& keyword, std::string rest, std::vector<Step>& steps) {
    Step step;
    step.line = line;
    if (keyword == "descriptor") {
      const std::string device = NextWord(rest);
      if (!ValidDeviceName(device)) {
        return Fail("descriptor needs a device name (letters, digits, - and _)");
      }
      std::vector<uint8_t>& bytes = state.descriptors[device];
      if (!ParseHex(rest, bytes)) {
        return Fail("descriptor bytes must be pairs of hex digits");
      }
      if (bytes.size() > kMaxDescriptorBytes) {
        return Fail("the descriptor of " + device + " is longer than 4096 bytes");
      }
      return true;  // no step of its own: 'create' takes the bytes
    }
    if (keyword == "create") {
      return ParseCreate(rest, step) && Push(step, steps);
    }
    if (keyword == "destroy" || keyword == "wait-open") {
      step.kind = keyword == "destroy" ? Step::kDestroy : Step::kWaitOpen;
      if (!TakeCreatedDevice(rest, step) || !NothingLeft(rest)) {
        return false;
      }
      if (step.kind == Step::kDestroy) {
        state.created.erase(step.device);
      } else if (!state.started) {
        return Fail("wait-open comes after start");
      }
      return Push(step, steps);
    }
    if (keyword == "mode") {
      step.kind = Step::kMode;
      unsigned long mode = 0;
      if (!TakeCreatedDevice(rest, step)) {
        return false;
      }
      if (!ParseNumber(NextWord(rest), 8, 07777, mode) || !NothingLeft(rest)) {
        return Fail("mode needs a device and an octal mode, e.g. mode pad 0600");
      }
      step.number = static_cast<long>(mode);
      return Push(step, steps);
    }
    if (keyword == "input") {
      step.kind = Step::kInput;
      if (!TakeCreatedDevice(rest, step)) {
        return false;
      }
      if (!ParseHex(rest, step.bytes) || step.bytes.empty()) {
        return Fail("input needs a device and report bytes as pairs of hex digits");
      }
      if (step.bytes.size() > kMaxReportBytes) {
        return Fail("a report is at most 4096 bytes");
      }
      return Push(step, steps);
    }
    if (keyword == "start") {
      return ParseStart(rest, step) && Push(step, steps);
    }
    if (keyword == "wait-output") {
      step.kind = Step::kWaitOutput;
      step.text = Trimmed(rest);
      if (step.text.empty()) {
        return Fail("wait-output needs the text to wait for");
      }
      if (!state.started) {
        return Fail("wait-output comes after start");
      }
      return Push(step, steps);
    }
    if (keyword == "sleep") {
      step.kind = Step::kSleep;
      unsigned long ms = 0;
      if (!ParseNumber(NextWord(rest), 10, kMaxMilliseconds, ms) || !NothingLeft(rest)) {
        return Fail("sleep needs milliseconds, 0 to 60000");
      }
      step.number = static_cast<long>(ms);
      return Push(step, steps);
    }
    if (keyword == "cpu") {
      return ParseCpu(rest, step) && Push(step, steps);
    }
    return Fail("unknown step '" + keyword + "'");
  }

  std::string error;

 private:
  bool Fail(const std::string& what) {
    error = "line " + std::to_string(line) + ": " + what;
    return false;
  }

  static bool Push(const Step& step, std::vector<Step>& steps) {
    steps.push_back(step);
    return true;
  }

  bool NothingLeft(const std::string& rest) {
    if (!Trimmed(rest).empty()) {
      return Fail("unexpected '" + Trimmed(rest) + "'");
    }
    return true;
  }

  bool TakeCreatedDevice(std::string& rest, Step& step) {
    step.device = NextWord(rest);
    if (step.device.empty()) {
      return Fail("a device name is missing");
    }
    if (state.created.count(step.device) == 0) {
      return Fail("no device " + step.device + " has been created (or it was destroyed)");
    }
    return true;
  }

  bool ParseCreate(std::string& rest, Step& step) {
    step.kind = Step::kCreate;
    step.device = NextWord(rest);
    if (!ValidDeviceName(step.device)) {
      return Fail("create needs a device name (letters, digits, - and _)");
    }
    if (state.created.count(step.device) != 0) {
      return Fail(step.device + " exists already");
    }
    const auto descriptor = state.descriptors.find(step.device);
    if (descriptor == state.descriptors.end() || descriptor->second.empty()) {
      return Fail("no descriptor lines for " + step.device + " come before its create");
    }
    step.bytes = descriptor->second;
    unsigned long vendor = 0;
    unsigned long product = 0;
    unsigned long version = 0;
    if (!ParseBus(NextWord(rest), step.bus) || !ParseNumber(NextWord(rest), 0, 0xFFFF, vendor) ||
        !ParseNumber(NextWord(rest), 0, 0xFFFF, product) ||
        !ParseNumber(NextWord(rest), 0, 0xFFFF, version)) {
      return Fail(
          "create needs: DEVICE BUS VENDOR PRODUCT VERSION [NAME], e.g. "
          "create pad usb 0x045E 0x028E 0x0114 Gamepad");
    }
    step.vendor = static_cast<uint32_t>(vendor);
    step.product = static_cast<uint32_t>(product);
    step.version = static_cast<uint32_t>(version);
    step.text = Trimmed(rest);
    if (step.text.size() > kMaxNameBytes) {
      return Fail("a name is at most 127 bytes");
    }
    state.created.insert(step.device);
    return true;
  }

  bool ParseStart(std::string& rest, Step& step) {
    step.kind = Step::kStart;
    if (state.started) {
      return Fail("the tool is started once");
    }
    for (std::string word = NextWord(rest); !word.empty(); word = NextWord(rest)) {
      const size_t equals = word.find('=');
      if (equals == std::string::npos || equals == 0) {
        return Fail("start takes uid=N, gid=N and NAME=VALUE words, not '" + word + "'");
      }
      const std::string name = word.substr(0, equals);
      if (name == "uid" || name == "gid") {
        unsigned long id = 0;
        if (!ParseNumber(word.substr(equals + 1), 10, 0x7FFFFFFF, id)) {
          return Fail(name + " needs a number");
        }
        (name == "uid" ? step.uid : step.gid) = static_cast<long>(id);
      } else {
        step.environment.push_back(word);
      }
    }
    state.started = true;
    return true;
  }

  bool ParseCpu(std::string& rest, Step& step) {
    step.kind = Step::kCpu;
    unsigned long ms = 0;
    if (!ParseNumber(NextWord(rest), 10, kMaxMilliseconds, ms) || ms < 100) {
      return Fail("cpu needs milliseconds (100 to 60000) and the most percent of a CPU allowed");
    }
    step.number = static_cast<long>(ms);
    const std::string bound = NextWord(rest);
    char* end = nullptr;
    step.percent = std::strtod(bound.c_str(), &end);
    if (bound.empty() || *end != '\0' || !(step.percent > 0 && step.percent <= 100) ||
        !NothingLeft(rest)) {
      return Fail("cpu needs the most percent of a CPU allowed, above 0 and at most 100");
    }
    if (!state.started) {
      return Fail("cpu comes after start");
    }
    return true;
  }

  State& state;
  int line;
};

}  // namespace

bool ParseScenario(std::istream& in, Scenario& out, std::string& error) {
  out.steps.clear();
  State state;
  std::vector<Step> steps;
  int line = 0;
  for (std::string text; std::getline(in, text);) {
    ++line;
    if (!text.empty() && text.back() == '\r') {
      text.pop_back();
    }
    std::string rest = text;
    const std::string keyword = NextWord(rest);
    if (keyword.empty() || keyword[0] == '#') {
      continue;
    }
    LineParser parser(state, line);
    if (!parser.Parse(keyword, rest, steps)) {
      error = parser.error;
      return false;
    }
  }
  if (!state.started) {
    error = "no start step: the tool would never run";
    return false;
  }
  out.steps = std::move(steps);
  return true;
}

}  // namespace uhidplay
