// Plays a scenario of virtual HID devices over the kernel's /dev/uhid
// against a program that it starts, such as the button trainer: creates the
// devices, starts the program, waits for it to open them and to print, sends
// input reports, unplugs and plugs devices and measures the program's CPU use.
//
//   uhid_player SCENARIO -- PROGRAM [ARGUMENTS...]
//   uhid_player --check SCENARIO...   only parses the scenarios
//
// The program's standard output is copied unchanged to the player's; the
// player's own log (one line per step and per uhid event) goes to standard
// error. Exit status: 0 when every step was played and the program ended by
// itself with status 0; 1 when a step failed or the program did not end
// well; 2 for a bad command line or scenario.
//
// A scenario is one step a line; blank lines and lines starting with # are
// skipped. Numbers are decimal, or hex with 0x; bytes are pairs of hex
// digits, with or without blanks between them ("05 01" or "0501").
//
//   descriptor DEV BYTES...
//       Appends BYTES to the report descriptor of the device called DEV
//       (letters, digits, - and _); repeat the line for a long descriptor.
//   create DEV BUS VENDOR PRODUCT VERSION [NAME...]
//       Creates the device (UHID_CREATE2) with the descriptor so far and
//       waits for its /dev/hidraw node. BUS is usb, bluetooth, virtual, i2c
//       or a number. NAME is the rest of the line, as UTF-8, at most 127 bytes.
//   destroy DEV
//       Unplugs the device. A later create of DEV plugs it again.
//   mode DEV OCTAL
//       Sets the mode of the device's hidraw node, e.g. 0600.
//   start [uid=N] [gid=N] [NAME=VALUE...]
//       Starts the program, once, with the given user and group and an
//       environment of PATH and the NAME=VALUE words alone.
//   wait-output TEXT...
//       Waits until the program's output, past what earlier wait-output
//       steps matched, holds TEXT (the rest of the line).
//   wait-open DEV
//       Waits until the device is open (uhid's UHID_OPEN, sent when the
//       first file on it is opened, and no UHID_CLOSE since). The kernel's
//       console opens a device with keyboard keys (a keyboard, consumer
//       control) as soon as it exists, so wait for the program's prompt too.
//   input DEV BYTES...
//       Sends one input report (UHID_INPUT2), report ID first if it has one.
//   sleep MILLISECONDS
//   cpu MILLISECONDS PERCENT
//       Measures the program's CPU time (user and system, from
//       /proc/PID/stat) over MILLISECONDS, prints it as a share of one CPU,
//       with the finer run time of its threads, and fails when it is above
//       PERCENT.
//
// Every wait gives up after 15 seconds, and a wait fails at once when the
// program ends. The program's run ends on its own; the player waits for it
// after the last step, and destroys every device when it has ended.
#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <linux/uhid.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "tests/vm/Scenario.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;
using uhidplay::Step;

constexpr milliseconds kWaitLimit{15000};
// The longest run of the program that the player waits for after the last
// step: the trainer's default run time, and some.
constexpr milliseconds kRunLimit{150000};

const Clock::time_point kBegin = Clock::now();

void Log(const char* format, ...) __attribute__((format(printf, 1, 2)));
void Log(const char* format, ...) {
  const double seconds = std::chrono::duration<double>(Clock::now() - kBegin).count();
  char line[1024];
  va_list args;
  va_start(args, format);
  (void)std::vsnprintf(line, sizeof line, format, args);
  va_end(args);
  (void)std::fprintf(stderr, "[%7.3f] %s\n", seconds, line);
}

bool WriteAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    const ssize_t done = write(fd, data, size);
    if (done < 0 && errno == EINTR) {
      continue;
    }
    if (done <= 0) {
      return false;
    }
    data += done;
    size -= static_cast<size_t>(done);
  }
  return true;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

struct Device {
  int fd = -1;
  std::string uniq;  // finds the device's hidraw node in sysfs
  std::string node;  // /dev/hidrawN
  bool started = false;
  bool open = false;
};

class Player {
 public:
  explicit Player(std::vector<std::string> programCommand) : command(std::move(programCommand)) {}
  ~Player() {
    StopProgram();
    for (auto& entry : devices) {
      if (entry.second.fd >= 0) {
        (void)close(entry.second.fd);
      }
    }
  }
  Player(const Player&) = delete;
  Player& operator=(const Player&) = delete;
  Player(Player&&) = delete;
  Player& operator=(Player&&) = delete;

  // Plays the steps and waits for the program's end: true when all went well.
  bool Play(const std::vector<Step>& steps) {
    bool ok = true;
    for (const Step& step : steps) {
      if (!PlayStep(step)) {
        Log("line %d failed: %s", step.line, failure.c_str());
        ok = false;
        break;
      }
    }
    if (!ok) {
      StopProgram();
      return false;
    }
    Log("all steps played; waiting for the program to end");
    const bool ended = Until([this] { return ended_ && outputFd < 0; }, Clock::now() + kRunLimit);
    if (!ended) {
      Log("the program did not end within %lld s",
          static_cast<long long>(kRunLimit.count() / 1000));
      StopProgram();
      return false;
    }
    return ProgramEndedWell();
  }

 private:
  bool Fail(const std::string& what) {
    failure = what;
    return false;
  }

  bool PlayStep(const Step& step) {
    switch (step.kind) {
      case Step::kCreate: return Create(step);
      case Step::kDestroy: return Destroy(step);
      case Step::kMode: return Mode(step);
      case Step::kStart: return Start(step);
      case Step::kWaitOutput: return WaitOutput(step);
      case Step::kWaitOpen: return WaitOpen(step);
      case Step::kInput: return Input(step);
      case Step::kSleep:
        (void)Until([] { return false; }, Clock::now() + milliseconds(step.number));
        return true;
      case Step::kCpu: return MeasureCpu(step);
    }
    return Fail("unknown step");
  }

  bool Create(const Step& step) {
    Device& device = devices[step.device];
    device = Device{};
    device.fd = open("/dev/uhid", O_RDWR | O_CLOEXEC | O_NONBLOCK);
    if (device.fd < 0) {
      return Fail(std::string("cannot open /dev/uhid: ") + std::strerror(errno));
    }
    device.uniq = "uhid-player-" + std::to_string(getpid()) + "-" + std::to_string(++created);

    uhid_event event{};
    event.type = UHID_CREATE2;
    uhid_create2_req& request = event.u.create2;
    std::memcpy(request.name, step.text.data(), step.text.size());
    const char phys[] = "uhid-player";
    std::memcpy(request.phys, phys, sizeof phys);
    std::memcpy(request.uniq, device.uniq.data(), device.uniq.size());
    request.rd_size = static_cast<__u16>(step.bytes.size());
    request.bus = step.bus;
    request.vendor = step.vendor;
    request.product = step.product;
    request.version = step.version;
    std::memcpy(request.rd_data, step.bytes.data(), step.bytes.size());
    if (!Send(device, event, step.device)) {
      return false;
    }
    const Clock::time_point deadline = Clock::now() + kWaitLimit;
    if (!Until([&device] { return device.started; }, deadline)) {
      return Fail("no driver started " + step.device +
                  " (is hid-generic loaded? does the kernel take its descriptor?)");
    }
    // uhid starts the device before the kernel adds its hidraw node.
    if (!Until([&device] { return FindNode(device); }, deadline, milliseconds(5))) {
      return Fail("no hidraw node appeared for " + step.device);
    }
    Log("created %s: %s, %zu descriptor bytes", step.device.c_str(), device.node.c_str(),
        step.bytes.size());
    return true;
  }

  // Looks for the hidraw node whose HID device carries the device's uniq.
  static bool FindNode(Device& device) {
    const std::string classDir = "/sys/class/hidraw/";
    for (int minor = 0; minor < 256; ++minor) {
      const std::string name = "hidraw" + std::to_string(minor);
      const std::string uevent = ReadFile(classDir + name + "/device/uevent");
      if (uevent.find("\nHID_UNIQ=" + device.uniq + "\n") == std::string::npos) {
        continue;
      }
      struct stat node {};
      const std::string path = "/dev/" + name;
      if (stat(path.c_str(), &node) == 0 && S_ISCHR(node.st_mode)) {
        device.node = path;
        return true;
      }
    }
    return false;
  }

  bool Destroy(const Step& step) {
    Device& device = devices[step.device];
    uhid_event event{};
    event.type = UHID_DESTROY;
    if (!Send(device, event, step.device)) {
      return false;
    }
    (void)close(device.fd);
    device = Device{};
    Log("destroyed %s", step.device.c_str());
    return true;
  }

  bool Mode(const Step& step) {
    const Device& device = devices[step.device];
    if (chmod(device.node.c_str(), static_cast<mode_t>(step.number)) != 0) {
      return Fail("cannot change the mode of " + device.node + ": " + std::strerror(errno));
    }
    Log("%s (%s) now has mode %04lo", device.node.c_str(), step.device.c_str(), step.number);
    return true;
  }

  bool Start(const Step& step) {
    std::vector<std::string> environment = {"PATH=/usr/local/bin:/usr/bin:/bin"};
    environment.insert(environment.end(), step.environment.begin(), step.environment.end());
    std::vector<char*> argv;
    argv.reserve(command.size() + 1);
    for (std::string& word : command) {
      argv.push_back(word.data());
    }
    argv.push_back(nullptr);
    std::vector<char*> envp;
    envp.reserve(environment.size() + 1);
    for (std::string& entry : environment) {
      envp.push_back(entry.data());
    }
    envp.push_back(nullptr);

    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0) {
      return Fail(std::string("pipe: ") + std::strerror(errno));
    }
    const pid_t pid = fork();
    if (pid < 0) {
      (void)close(pipeFds[0]);
      (void)close(pipeFds[1]);
      return Fail(std::string("fork: ") + std::strerror(errno));
    }
    if (pid == 0) {
      RunProgram(pipeFds[1], step, argv.data(), envp.data());
    }
    (void)close(pipeFds[1]);
    outputFd = pipeFds[0];
    (void)fcntl(outputFd, F_SETFL, O_NONBLOCK);
    program = pid;
    // Readable once the program has ended; without it (kernels before 5.3)
    // the player looks every 50 ms.
    programFd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
    Log("started %s as process %d (uid %ld, gid %ld)", command[0].c_str(), static_cast<int>(pid),
        step.uid < 0 ? static_cast<long>(getuid()) : step.uid,
        step.gid < 0 ? static_cast<long>(getgid()) : step.gid);
    return true;
  }

  // In the child: becomes the program, or ends with status 127.
  [[noreturn]] static void RunProgram(int output, const Step& step, char* const* argv,
                                      char* const* envp) {
    (void)prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (dup2(output, STDOUT_FILENO) < 0) {
      _exit(127);
    }
    if (step.gid >= 0 &&
        (setgroups(0, nullptr) != 0 || setgid(static_cast<gid_t>(step.gid)) != 0)) {
      (void)std::fprintf(stderr, "uhid_player: cannot take group %ld: %s\n", step.gid,
                         std::strerror(errno));
      _exit(127);
    }
    if (step.uid >= 0 && setuid(static_cast<uid_t>(step.uid)) != 0) {
      (void)std::fprintf(stderr, "uhid_player: cannot take user %ld: %s\n", step.uid,
                         std::strerror(errno));
      _exit(127);
    }
    execve(argv[0], argv, envp);
    (void)std::fprintf(stderr, "uhid_player: cannot run %s: %s\n", argv[0], std::strerror(errno));
    _exit(127);
  }

  bool WaitOutput(const Step& step) {
    size_t found = std::string::npos;
    const bool seen = Until(
        [this, &step, &found] {
          found = output.find(step.text, consumed);
          return found != std::string::npos || ended_;
        },
        Clock::now() + kWaitLimit);
    if (!seen || found == std::string::npos) {
      return Fail(std::string(ended_ ? "the program ended" : "15 s passed") +
                  " before it printed '" + step.text + "'; it printed after the last match:\n" +
                  output.substr(consumed));
    }
    consumed = found + step.text.size();
    Log("the program printed '%s'", step.text.c_str());
    return true;
  }

  bool WaitOpen(const Step& step) {
    const Device& device = devices[step.device];
    const bool open =
        Until([this, &device] { return device.open || ended_; }, Clock::now() + kWaitLimit);
    if (!open || !device.open) {
      return Fail(step.device + " (" + device.node + ") was not opened " +
                  (ended_ ? "before the program ended" : "within 15 s"));
    }
    return true;
  }

  bool Input(const Step& step) {
    Device& device = devices[step.device];
    uhid_event event{};
    event.type = UHID_INPUT2;
    event.u.input2.size = static_cast<__u16>(step.bytes.size());
    std::memcpy(event.u.input2.data, step.bytes.data(), step.bytes.size());
    return Send(device, event, step.device);
  }

  // The program's user and system time so far, in clock ticks; -1 when it
  // cannot be read.
  long long ProgramTicks() const {
    const std::string stat = ReadFile("/proc/" + std::to_string(program) + "/stat");
    const size_t name = stat.rfind(')');
    if (name == std::string::npos) {
      return -1;
    }
    std::istringstream fields(stat.substr(name + 1));
    std::string field;
    long long utime = -1;
    long long stime = -1;
    // After the name: state is field 3, utime 14 and stime 15.
    for (int number = 3; number <= 15 && fields >> field; ++number) {
      if (number == 14) {
        utime = std::atoll(field.c_str());
      } else if (number == 15) {
        stime = std::atoll(field.c_str());
      }
    }
    return utime < 0 || stime < 0 ? -1 : utime + stime;
  }

  // The time the program's threads have run so far, in nanoseconds, from
  // the scheduler's figures (finer than the clock ticks); -1 without them.
  long long ProgramRunNanoseconds() const {
    const std::string tasks = "/proc/" + std::to_string(program) + "/task/";
    DIR* dir = opendir(tasks.c_str());
    if (dir == nullptr) {
      return -1;
    }
    long long total = 0;
    bool any = false;
    while (const dirent* entry = readdir(dir)) {
      if (entry->d_name[0] == '.') {
        continue;
      }
      const std::string schedstat = ReadFile(tasks + entry->d_name + "/schedstat");
      if (!schedstat.empty()) {
        total += std::atoll(schedstat.c_str());
        any = true;
      }
    }
    (void)closedir(dir);
    return any ? total : -1;
  }

  bool MeasureCpu(const Step& step) {
    const long long ticksBefore = ProgramTicks();
    const long long runBefore = ProgramRunNanoseconds();
    const Clock::time_point from = Clock::now();
    (void)Until([this] { return ended_; }, from + milliseconds(step.number));
    const long long ticksAfter = ProgramTicks();
    const long long runAfter = ProgramRunNanoseconds();
    const double seconds = std::chrono::duration<double>(Clock::now() - from).count();
    if (ended_ || ticksBefore < 0 || ticksAfter < 0) {
      return Fail("the program ended while its CPU time was measured");
    }
    const double used =
        static_cast<double>(ticksAfter - ticksBefore) / static_cast<double>(sysconf(_SC_CLK_TCK));
    const double percent = 100.0 * used / seconds;
    char finer[96] = "";
    if (runBefore >= 0 && runAfter >= runBefore) {
      const double run = static_cast<double>(runAfter - runBefore) / 1e9;
      (void)std::snprintf(finer, sizeof finer, "; its threads ran %.2f ms, %.3f%%", run * 1000,
                          100.0 * run / seconds);
    }
    // The figure goes to the log in any case: the harness shows it.
    Log("cpu: the program used %.1f%% of a CPU over %.0f ms (%.2f s of user and system time%s; "
        "allowed: %g%%)",
        percent, seconds * 1000, used, finer, step.percent);
    if (percent > step.percent) {
      return Fail("the program used more CPU than allowed");
    }
    return true;
  }

  bool Send(Device& device, const uhid_event& event, const std::string& name) {
    if (write(device.fd, &event, sizeof event) != static_cast<ssize_t>(sizeof event)) {
      return Fail("uhid refused an event for " + name + ": " + std::strerror(errno));
    }
    return true;
  }

  void Answer(Device& device, const uhid_event& request, const std::string& name) {
    uhid_event reply{};
    if (request.type == UHID_GET_REPORT) {
      reply.type = UHID_GET_REPORT_REPLY;
      reply.u.get_report_reply.id = request.u.get_report.id;
      reply.u.get_report_reply.err = EIO;
    } else {
      reply.type = UHID_SET_REPORT_REPLY;
      reply.u.set_report_reply.id = request.u.set_report.id;
      reply.u.set_report_reply.err = EIO;
    }
    (void)write(device.fd, &reply, sizeof reply);
    Log("%s: refused a %s report request", name.c_str(),
        request.type == UHID_GET_REPORT ? "get" : "set");
  }

  void HandleEvents(Device& device, const std::string& name) {
    for (;;) {
      uhid_event event{};
      const ssize_t got = read(device.fd, &event, sizeof event);
      if (got < 0 && (errno == EAGAIN || errno == EINTR)) {
        return;  // nothing more for now
      }
      if (got <= 0) {
        // Never seen: dropped from the poll, so that it cannot spin.
        Log("%s: uhid failed: %s", name.c_str(), got < 0 ? std::strerror(errno) : "end of file");
        (void)close(device.fd);
        device.fd = -1;
        return;
      }
      switch (event.type) {
        case UHID_START: device.started = true; break;
        case UHID_STOP: device.started = false; break;
        case UHID_OPEN:
          device.open = true;
          Log("%s: opened", name.c_str());
          break;
        case UHID_CLOSE:
          device.open = false;
          Log("%s: closed", name.c_str());
          break;
        case UHID_OUTPUT:
          Log("%s: output report of %u bytes", name.c_str(),
              static_cast<unsigned>(event.u.output.size));
          break;
        case UHID_GET_REPORT:
        case UHID_SET_REPORT: Answer(device, event, name); break;
        default: break;
      }
    }
  }

  void TakeOutput() {
    char chunk[4096];
    for (;;) {
      const ssize_t got = read(outputFd, chunk, sizeof chunk);
      if (got > 0) {
        output.append(chunk, static_cast<size_t>(got));
        (void)WriteAll(STDOUT_FILENO, chunk, static_cast<size_t>(got));
        continue;
      }
      if (got < 0 && (errno == EAGAIN || errno == EINTR)) {
        return;
      }
      (void)close(outputFd);  // the program and its children closed it
      outputFd = -1;
      return;
    }
  }

  void CheckProgram() {
    if (program <= 0 || ended_) {
      return;
    }
    if (waitpid(program, &status, WNOHANG) == program) {
      ended_ = true;
      Log("the program ended");
      if (programFd >= 0) {
        (void)close(programFd);
        programFd = -1;
      }
    }
  }

  // Serves the devices and the program until 'done' holds or the deadline
  // passes, looking again at least every 'recheck'. Returns done().
  bool Until(const std::function<bool()>& done, Clock::time_point deadline,
             milliseconds recheck = milliseconds(1000)) {
    for (;;) {
      CheckProgram();
      if (done()) {
        return true;
      }
      const Clock::time_point now = Clock::now();
      if (now >= deadline) {
        return false;
      }
      auto wait = std::chrono::duration_cast<milliseconds>(deadline - now) + milliseconds(1);
      if (!ended_ && programFd < 0 && program > 0) {
        recheck = std::min(recheck, milliseconds(50));
      }
      wait = std::min(wait, recheck);

      std::vector<pollfd> fds;
      std::vector<std::string> names;
      for (auto& entry : devices) {
        if (entry.second.fd >= 0) {
          fds.push_back({entry.second.fd, POLLIN, 0});
          names.push_back(entry.first);
        }
      }
      const size_t deviceCount = fds.size();
      if (outputFd >= 0) {
        fds.push_back({outputFd, POLLIN, 0});
      }
      if (programFd >= 0) {
        fds.push_back({programFd, POLLIN, 0});
      }
      const int ready = poll(fds.data(), fds.size(), static_cast<int>(wait.count()));
      if (ready < 0 && errno != EINTR) {
        Log("poll failed: %s", std::strerror(errno));
        return false;
      }
      for (size_t i = 0; i < deviceCount; ++i) {
        if (fds[i].revents != 0) {
          HandleEvents(devices[names[i]], names[i]);
        }
      }
      if (outputFd >= 0 && (fds[deviceCount].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
        TakeOutput();
      }
    }
  }

  void StopProgram() {
    if (program <= 0 || ended_) {
      return;
    }
    (void)kill(program, SIGKILL);
    (void)waitpid(program, &status, 0);
    ended_ = true;
    Log("stopped the program");
    (void)Until([this] { return outputFd < 0; }, Clock::now() + milliseconds(1000));
    if (programFd >= 0) {
      (void)close(programFd);
      programFd = -1;
    }
  }

  bool ProgramEndedWell() const {
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0) {
      Log("the program ended with status 0");
      return true;
    }
    if (WIFEXITED(status)) {
      Log("the program ended with status %d", WEXITSTATUS(status));
    } else if (WIFSIGNALED(status)) {
      Log("the program was killed by signal %d (%s)", WTERMSIG(status),
          strsignal(WTERMSIG(status)));
    }
    return false;
  }

  std::vector<std::string> command;
  std::map<std::string, Device> devices;
  int created = 0;
  pid_t program = -1;
  int programFd = -1;
  int outputFd = -1;
  bool ended_ = false;
  int status = 0;
  std::string output;
  size_t consumed = 0;  // the output that wait-output steps have matched
  std::string failure;
};

bool Load(const char* path, uhidplay::Scenario& scenario) {
  std::ifstream in(path);
  if (!in) {
    (void)std::fprintf(stderr, "uhid_player: cannot read %s\n", path);
    return false;
  }
  std::string error;
  if (!uhidplay::ParseScenario(in, scenario, error)) {
    (void)std::fprintf(stderr, "uhid_player: %s: %s\n", path, error.c_str());
    return false;
  }
  return true;
}

int Usage() {
  (void)std::fprintf(stderr,
                     "usage: uhid_player SCENARIO -- PROGRAM [ARGUMENTS...]\n"
                     "       uhid_player --check SCENARIO...\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 3 && std::strcmp(argv[1], "--check") == 0) {
    bool ok = true;
    for (int i = 2; i < argc; ++i) {
      uhidplay::Scenario scenario;
      ok = Load(argv[i], scenario) && ok;
    }
    return ok ? 0 : 2;
  }
  if (argc < 4 || std::strcmp(argv[2], "--") != 0) {
    return Usage();
  }
  uhidplay::Scenario scenario;
  if (!Load(argv[1], scenario)) {
    return 2;
  }
  (void)std::signal(SIGPIPE, SIG_IGN);
  Player player(std::vector<std::string>(argv + 3, argv + argc));
  return player.Play(scenario.steps) ? 0 : 1;
}
