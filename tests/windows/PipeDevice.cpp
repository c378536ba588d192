#include "tests/windows/PipeDevice.h"

#include <atomic>

namespace windowstest {

namespace {

std::wstring UniquePipeName() {
  static std::atomic<unsigned> next{0};
  return L"\\\\.\\pipe\\button-trainer-test-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
         std::to_wstring(next++);
}

}  // namespace

PipeDevice::PipeDevice() : path(UniquePipeName()) {
  writer = CreateNamedPipeW(path.c_str(), PIPE_ACCESS_DUPLEX,
                            PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, 1, 4096, 4096, 0,
                            nullptr);
}

PipeDevice::~PipeDevice() { Close(); }

HANDLE PipeDevice::Open() const {
  HANDLE reader = CreateFileW(path.c_str(), GENERIC_READ | FILE_WRITE_ATTRIBUTES, 0, nullptr,
                              OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
  if (reader != INVALID_HANDLE_VALUE && !ReadMessages(reader)) {
    (void)CloseHandle(reader);
    return INVALID_HANDLE_VALUE;
  }
  return reader;
}

bool PipeDevice::Write(const Bytes& report) const {
  DWORD written = 0;
  return WriteFile(writer, report.data(), static_cast<DWORD>(report.size()), &written, nullptr) !=
             FALSE &&
         written == report.size();
}

void PipeDevice::Close() {
  if (writer != INVALID_HANDLE_VALUE) {
    (void)CloseHandle(writer);
    writer = INVALID_HANDLE_VALUE;
  }
}

bool ReadMessages(HANDLE reader) {
  DWORD mode = PIPE_READMODE_MESSAGE;
  return SetNamedPipeHandleState(reader, &mode, nullptr, nullptr) != FALSE;
}

bool UnderWine() {
  HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

}  // namespace windowstest
