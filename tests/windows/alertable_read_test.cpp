// The Windows calls the device layer's read cycle is built on, over a named
// pipe: ReadFileEx starts a read and returns, and its completion routine runs
// later on the thread that issued it, only inside that thread's alertable
// wait, which then returns WAIT_IO_COMPLETION.
#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>
#include <thread>
#include <vector>

#include "tests/TestDevices.h"
#include "tests/windows/PipeDevice.h"

namespace {

using windowstest::Bytes;
using windowstest::kPatienceMilliseconds;
using windowstest::PipeDevice;

// Long enough for a completion that is already due to run.
constexpr DWORD kQuietMilliseconds = 50;

// One read in flight and what its completion routine saw. The record travels
// in the OVERLAPPED's hEvent, as the device layer carries its device.
struct Read {
  OVERLAPPED overlapped{};
  BYTE buffer[16]{};
  int completions = 0;
  DWORD error = 0;
  DWORD bytes = 0;
  LPOVERLAPPED completed = nullptr;
  DWORD thread = 0;

  bool Start(HANDLE reader) {
    overlapped.hEvent = this;
    return ReadFileEx(reader, buffer, sizeof buffer, &overlapped, &Read::Completed) != FALSE;
  }

  static VOID CALLBACK Completed(DWORD errorCode, DWORD bytesTransferred, LPOVERLAPPED done) {
    auto* read = static_cast<Read*>(done->hEvent);
    ++read->completions;
    read->error = errorCode;
    read->bytes = bytesTransferred;
    read->completed = done;
    read->thread = GetCurrentThreadId();
  }
};

class AlertableRead : public testing::Test {
 protected:
  void SetUp() override {
    reader = device.Open();
    ASSERT_NE(reader, INVALID_HANDLE_VALUE) << GetLastError();
  }
  void TearDown() override {
    if (reader != INVALID_HANDLE_VALUE) {
      (void)CloseHandle(reader);
    }
    // A completion still due (a failed test's) must not outlive 'read'.
    (void)SleepEx(0, TRUE);
  }

  PipeDevice device;
  HANDLE reader = INVALID_HANDLE_VALUE;
  Read read;
};

TEST_F(AlertableRead, CompletesOnTheIssuingThreadOnlyInItsAlertableWait) {
  ASSERT_TRUE(read.Start(reader)) << GetLastError();
  ASSERT_TRUE(device.Write({0x01, 0x02, 0x03}));

  // The data is there, but neither a plain sleep nor another thread's
  // alertable wait runs the routine.
  Sleep(kQuietMilliseconds);
  DWORD otherWait = WAIT_FAILED;
  std::thread([&] { otherWait = SleepEx(kQuietMilliseconds, TRUE); }).join();
  EXPECT_EQ(otherWait, 0U);
  EXPECT_EQ(read.completions, 0);

  EXPECT_EQ(SleepEx(kPatienceMilliseconds, TRUE), WAIT_IO_COMPLETION);
  EXPECT_EQ(read.completions, 1);
  EXPECT_EQ(read.thread, GetCurrentThreadId());
  EXPECT_EQ(read.completed, &read.overlapped);
  EXPECT_EQ(read.error, 0U);
  ASSERT_EQ(read.bytes, 3U);
  EXPECT_EQ(Bytes(read.buffer, read.buffer + 3), (Bytes{0x01, 0x02, 0x03}));

  // Nothing else is due: the next alertable wait runs out its time.
  EXPECT_EQ(SleepEx(kQuietMilliseconds, TRUE), 0U);
  EXPECT_EQ(read.completions, 1);
}

TEST_F(AlertableRead, WaitEndsAsSoonAsTheReportArrives) {
  ASSERT_TRUE(read.Start(reader)) << GetLastError();
  std::thread writer([&] {
    Sleep(kQuietMilliseconds);
    (void)device.Write({0x07});
  });
  const ULONGLONG before = GetTickCount64();
  const DWORD woken = SleepEx(INFINITE, TRUE);
  const ULONGLONG waited = GetTickCount64() - before;
  writer.join();
  EXPECT_EQ(woken, WAIT_IO_COMPLETION);
  EXPECT_EQ(read.completions, 1);
  EXPECT_EQ(read.bytes, 1U);
  EXPECT_LT(waited, kPatienceMilliseconds);
}

TEST_F(AlertableRead, ReadOfAGoneDeviceFailsAtOnceAndQueuesNothing) {
  device.Close();
  EXPECT_FALSE(read.Start(reader));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BROKEN_PIPE));
  EXPECT_EQ(SleepEx(kQuietMilliseconds, TRUE), 0U);
  EXPECT_EQ(read.completions, 0);
}

// How a read in flight can end without a report, and the errors its routine
// may be given. Every way completes the read once, with no bytes, in the
// issuing thread's next alertable wait.
struct EndCase {
  const char* what;
  void (*end)(PipeDevice& device, HANDLE& reader);
  std::vector<DWORD> errors;
};

std::ostream& operator<<(std::ostream& out, const EndCase& c) { return out << c.what; }

class ReadEnding : public AlertableRead, public testing::WithParamInterface<EndCase> {};

TEST_P(ReadEnding, CompletesOnceWithAnErrorAndNoBytes) {
  ASSERT_TRUE(read.Start(reader)) << GetLastError();
  GetParam().end(device, reader);
  EXPECT_EQ(SleepEx(kPatienceMilliseconds, TRUE), WAIT_IO_COMPLETION);
  EXPECT_EQ(read.completions, 1);
  const std::vector<DWORD>& errors = GetParam().errors;
  EXPECT_NE(std::find(errors.begin(), errors.end(), read.error), errors.end())
      << "error " << read.error;
  EXPECT_EQ(read.bytes, 0U);
  EXPECT_EQ(read.thread, GetCurrentThreadId());
  EXPECT_EQ(SleepEx(kQuietMilliseconds, TRUE), 0U);
  EXPECT_EQ(read.completions, 1);
}

const EndCase kEndings[] = {
    {"DeviceGoesAway", [](PipeDevice& device, HANDLE&) { device.Close(); }, {ERROR_BROKEN_PIPE}},
    {"ReadCancelled",
     [](PipeDevice&, HANDLE& reader) { (void)CancelIo(reader); },
     {ERROR_OPERATION_ABORTED}},
    // Closing cancels the read; Wine's pipes report it as broken instead.
    {"HandleClosed",
     [](PipeDevice&, HANDLE& reader) {
       (void)CloseHandle(reader);
       reader = INVALID_HANDLE_VALUE;
     },
     {ERROR_OPERATION_ABORTED, ERROR_BROKEN_PIPE}},
};

INSTANTIATE_TEST_SUITE_P(Pipe, ReadEnding, testing::ValuesIn(kEndings),
                         testdevices::CaseName<EndCase>);

}  // namespace
