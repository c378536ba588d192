// button-trainer.exe run as a process, with its standard output and error
// on pipes: it prompts, finds no button (nobody presses one), and ends by
// itself after its two minutes with exit code 0.
#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "platform/WinApi.h"

namespace {

// Its run time is 120 s; this allows for a slow start and a slow exit.
constexpr ULONGLONG kShortestRunMilliseconds = 115000;
constexpr ULONGLONG kLongestRunMilliseconds = 180000;

// The tool's path: it is built into this program's folder.
std::wstring TrainerPath() {
  wchar_t self[MAX_PATH];
  const DWORD length = GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring path(self, length);
  return path.substr(0, path.find_last_of(L"\\/") + 1) + L"button-trainer.exe";
}

// Everything written into a pipe until its writing ends are all closed.
std::string ReadAll(HANDLE pipe) {
  std::string text;
  char chunk[256];
  DWORD got = 0;
  while (ReadFile(pipe, chunk, sizeof chunk, &got, nullptr) != FALSE && got != 0) {
    text.append(chunk, got);
  }
  return text;
}

// A pipe whose writing end a child inherits.
struct ChildPipe {
  ChildPipe() {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    if (CreatePipe(&read, &write, &inherit, 0) != FALSE) {
      (void)SetHandleInformation(read, HANDLE_FLAG_INHERIT, 0);
    }
  }
  ~ChildPipe() {
    CloseWrite();
    if (read != nullptr) {
      (void)CloseHandle(read);
    }
  }
  ChildPipe(const ChildPipe&) = delete;
  ChildPipe& operator=(const ChildPipe&) = delete;
  ChildPipe(ChildPipe&&) = delete;
  ChildPipe& operator=(ChildPipe&&) = delete;

  void CloseWrite() {
    if (write != nullptr) {
      (void)CloseHandle(write);
      write = nullptr;
    }
  }

  HANDLE read = nullptr;
  HANDLE write = nullptr;
};

TEST(TrainerProcess, PromptsOnlyAndExitsWithZeroAfterItsRunTime) {
  ChildPipe out;
  ChildPipe err;
  ASSERT_NE(out.write, nullptr);
  ASSERT_NE(err.write, nullptr);
  HANDLE input = CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(input, INVALID_HANDLE_VALUE);
  (void)SetHandleInformation(input, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);

  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = input;
  startup.hStdOutput = out.write;
  startup.hStdError = err.write;
  PROCESS_INFORMATION child{};
  const std::wstring path = TrainerPath();
  std::wstring commandLine = L"\"" + path + L"\"";
  const ULONGLONG started = GetTickCount64();
  const BOOL created = CreateProcessW(path.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0,
                                      nullptr, nullptr, &startup, &child);
  const DWORD createError = GetLastError();
  (void)CloseHandle(input);
  out.CloseWrite();
  err.CloseWrite();
  ASSERT_NE(created, FALSE) << "cannot start the trainer: " << createError;

  std::string output;
  std::string errors;
  std::thread outReader([&] { output = ReadAll(out.read); });
  std::thread errReader([&] { errors = ReadAll(err.read); });
  const DWORD waited =
      WaitForSingleObject(child.hProcess, static_cast<DWORD>(kLongestRunMilliseconds));
  const ULONGLONG ran = GetTickCount64() - started;
  if (waited != WAIT_OBJECT_0) {
    (void)TerminateProcess(child.hProcess, 1);  // also ends the readers' pipes
    (void)WaitForSingleObject(child.hProcess, INFINITE);
  }
  DWORD exitCode = STILL_ACTIVE;
  (void)GetExitCodeProcess(child.hProcess, &exitCode);
  outReader.join();
  errReader.join();
  (void)CloseHandle(child.hThread);
  (void)CloseHandle(child.hProcess);

  ASSERT_EQ(waited, WAIT_OBJECT_0) << "still running after " << ran << " ms";
  EXPECT_EQ(exitCode, 0U);
  EXPECT_GE(ran, kShortestRunMilliseconds);
  EXPECT_LE(ran, kLongestRunMilliseconds);
  // The C runtime's text mode writes the prompt's "\n" as CR LF, as in every
  // Windows console program.
  EXPECT_EQ(output, "Waiting for input...\r\n");
  EXPECT_EQ(errors, "");
}

}  // namespace
