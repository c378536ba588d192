// The scenarios that the uhid player plays: parsed from text into steps,
// every argument checked, so that playing one never meets a malformed step.
// The format is described at the top of uhid_player.cpp.
#pragma once

#include <cstdint>
#include <istream>
#include <string>
#include <vector>

namespace uhidplay {

// Limits of the kernel's uhid interface.
constexpr size_t kMaxDescriptorBytes = 4096;
constexpr size_t kMaxReportBytes = 4096;
constexpr size_t kMaxNameBytes = 127;  // a NUL ends the 128-byte field

struct Step {
  enum Kind {
    kCreate,      // device, bus, vendor, product, version, text (name), bytes (descriptor)
    kDestroy,     // device
    kMode,        // device, number (the node's mode)
    kStart,       // uid, gid (-1: unchanged), environment
    kWaitOutput,  // text
    kWaitOpen,    // device
    kInput,       // device, bytes
    kSleep,       // number (milliseconds)
    kCpu,         // number (milliseconds), percent
  };
  Kind kind = kSleep;
  int line = 0;
  std::string device;
  std::string text;
  std::vector<uint8_t> bytes;
  uint16_t bus = 0;
  uint32_t vendor = 0;
  uint32_t product = 0;
  uint32_t version = 0;
  long number = 0;
  double percent = 0;
  long uid = -1;
  long gid = -1;
  std::vector<std::string> environment;  // NAME=VALUE
};

struct Scenario {
  std::vector<Step> steps;
};

// Parses a whole scenario. Returns true with 'out' filled in, or false with
// 'error' naming the first bad line ("line N: what is wrong") and 'out'
// empty.
bool ParseScenario(std::istream& in, Scenario& out, std::string& error);

}  // namespace uhidplay
