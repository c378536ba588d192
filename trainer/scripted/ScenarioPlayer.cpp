// Plays a scenario of scripted devices for the button trainer built over
// them: the devices are plugged before main, and a player thread delivers
// their reports while the program runs. The scenario file is named by the
// BT_SCENARIO environment variable; without it the machine has no devices.
//
// One step a line; numbers as in C (0x for hex), report bytes in hex:
//   device PATH VENDOR PRODUCT VERSION USAGE_PAGE USAGE INPUT_LENGTH [NAME...]
//   refuse-open PATH         CreateFileW on PATH fails
//   no-preparsed-data PATH   the device cannot be described
//   wait-reads PATH COUNT    waits until COUNT reads have started on PATH
//   report PATH BYTES...     delivers one report
//   sleep MILLISECONDS
//   unplug PATH
//   stream PATH BYTES... / BYTES...   delivers the two reports in turn,
//                            each millisecond, until the program ends
// Lines starting with # are comments. The device lines are applied before
// main; the other steps are played in order by one thread.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/posix/TextConversion.h"
#include "platform/posix/scripted/ScriptedDevices.h"

namespace {

using standin::Path;
using standin::ScriptedDevices;
using Bytes = std::vector<BYTE>;

Path Utf16(const std::string& text) { return standin::Utf16FromUtf8(text); }

USHORT Number(std::istream& in) {
  std::string word;
  in >> word;
  return static_cast<USHORT>(std::strtoul(word.c_str(), nullptr, 0));
}

// Hex bytes up to the end of the line or a lone '/'.
Bytes HexBytes(std::istream& in) {
  Bytes bytes;
  std::string word;
  while (in >> word && word != "/") {
    bytes.push_back(static_cast<BYTE>(std::strtoul(word.c_str(), nullptr, 16)));
  }
  return bytes;
}

struct Step {
  std::string line;
};

class Player {
 public:
  explicit Player(ScriptedDevices& scripted) : devices(scripted) {}

  // Applies the device lines now and keeps the rest for Play.
  void Load(std::istream& scenario) {
    std::string line;
    while (std::getline(scenario, line)) {
      std::istringstream words(line);
      std::string verb;
      if (!(words >> verb) || verb[0] == '#') {
        continue;
      }
      if (verb == "device") {
        standin::ScriptedDevice device;
        std::string path;
        words >> path;
        device.path = Utf16(path);
        device.attributes.VendorID = Number(words);
        device.attributes.ProductID = Number(words);
        device.attributes.VersionNumber = Number(words);
        device.caps.UsagePage = Number(words);
        device.caps.Usage = Number(words);
        device.caps.InputReportByteLength = Number(words);
        std::string name;
        std::getline(words >> std::ws, name);
        device.product = Utf16(name);
        described.push_back(device);
        devices.Plug(device);
      } else if (verb == "refuse-open" || verb == "no-preparsed-data") {
        std::string path;
        words >> path;
        for (standin::ScriptedDevice& device : described) {
          if (device.path == Utf16(path)) {
            (verb == "refuse-open" ? device.opens : device.hasPreparsedData) = false;
            devices.Plug(device);
          }
        }
      } else {
        steps.push_back({line});
      }
    }
  }

  void Play() {
    for (const Step& step : steps) {
      std::istringstream words(step.line);
      std::string verb;
      std::string path;
      words >> verb >> path;
      if (verb == "wait-reads") {
        const int count = static_cast<int>(Number(words));
        if (!devices.WaitForReads(Utf16(path), count, std::chrono::seconds(10))) {
          (void)std::fprintf(stderr, "scenario: no read %d on %s\n", count, path.c_str());
        }
      } else if (verb == "report") {
        (void)devices.Deliver(Utf16(path), HexBytes(words));
      } else if (verb == "sleep") {
        std::this_thread::sleep_for(std::chrono::milliseconds(std::atoi(path.c_str())));
      } else if (verb == "unplug") {
        devices.Unplug(Utf16(path));
      } else if (verb == "stream") {
        Bytes first = HexBytes(words);
        Bytes second = HexBytes(words);
        std::thread([this, target = Utf16(path), first, second] {
          for (bool odd = false;; odd = !odd) {
            (void)devices.Deliver(target, odd ? second : first);
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
          }
        }).detach();
      } else {
        (void)std::fprintf(stderr, "scenario: unknown step '%s'\n", step.line.c_str());
      }
    }
  }

 private:
  ScriptedDevices& devices;
  std::vector<standin::ScriptedDevice> described;
  std::vector<Step> steps;
};

// The scenario's devices and player. Never destroyed: the player's threads
// run until the process ends.
ScriptedDevices* scenarioDevices = nullptr;
Player* scenarioPlayer = nullptr;

// Plugs the scenario's devices before main and starts the player. If that
// throws, the program ends before main: a scenario it cannot play is no run.
// NOLINTNEXTLINE(cert-err58-cpp)
const bool scenarioLoaded = [] {
  const char* file = std::getenv("BT_SCENARIO");
  if (file == nullptr) {
    return false;
  }
  std::ifstream scenario(file);
  if (!scenario) {
    (void)std::fprintf(stderr, "scenario: cannot read %s\n", file);
    return false;
  }
  scenarioDevices = new ScriptedDevices;
  scenarioPlayer = new Player(*scenarioDevices);
  scenarioPlayer->Load(scenario);
  (void)standin::UseDeviceSource(scenarioDevices);
  std::thread([] { scenarioPlayer->Play(); }).detach();
  return true;
}();

}  // namespace
