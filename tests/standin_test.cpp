// The stand-in for the Windows calls, at its seam with a scripted device
// source: overlapped reads and the alertable wait, devices going away,
// handles, threads, time, the "hid.dll" module and SetupAPI.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <future>
#include <iterator>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/WinApi.h"
#include "platform/posix/DeviceSource.h"
#include "platform/posix/StandInControl.h"
#include "platform/posix/scripted/ScriptedDevices.h"
#include "tests/TestDevices.h"

namespace {

using testdevices::Bytes;

const standin::Path kPad = u"\\\\?\\hid#vid_045e&pid_028e#1&pad";
const standin::Path kStick = u"\\\\?\\hid#vid_044f&pid_b10a#2&stick";
const standin::Path kWheel = u"\\\\?\\hid#vid_046d&pid_c24f#3&wheel";

// What a read's buffer holds where nothing was written.
constexpr BYTE kUntouched = 0xEE;
// The bytes a read asks for, and the guard after them that no read may touch.
constexpr DWORD kReadSize = 4;
constexpr DWORD kGuardSize = 4;

standin::ScriptedDevice Described(const standin::Path& path) {
  standin::ScriptedDevice device;
  device.path = path;
  device.attributes.VendorID = 0x045E;
  device.attributes.ProductID = 0x028E;
  device.attributes.VersionNumber = 0x0114;
  device.product = u"Pad";
  device.caps.UsagePage = 1;
  device.caps.Usage = 5;
  device.caps.InputReportByteLength = 3;
  device.caps.NumberInputButtonCaps = 1;
  return device;
}

HANDLE Open(const standin::Path& path, DWORD access = GENERIC_READ,
            DWORD flags = FILE_FLAG_OVERLAPPED) {
  return CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                     OPEN_EXISTING, flags, nullptr);
}

// What one completion routine was given, and the read's whole buffer, guard
// included, as it was when the routine ran.
struct Completion {
  DWORD error;
  DWORD bytes;
  Bytes buffer;
  std::thread::id thread;
};

// One overlapped read: its buffer and OVERLAPPED, and what its routine was
// given. The OVERLAPPED carries the reader to the routine in hEvent.
class Reader {
 public:
  explicit Reader(HANDLE file, std::vector<const Reader*>* completionOrder = nullptr)
      : handle(file), buffer(kReadSize + kGuardSize, kUntouched), order(completionOrder) {
    overlapped.hEvent = this;
  }
  ~Reader() = default;
  Reader(const Reader&) = delete;
  Reader& operator=(const Reader&) = delete;
  Reader(Reader&&) = delete;
  Reader& operator=(Reader&&) = delete;

  BOOL Start() { return ReadFileEx(handle, buffer.data(), kReadSize, &overlapped, &Completed); }

  HANDLE handle;
  Bytes buffer;
  OVERLAPPED overlapped{};
  std::vector<Completion> completions;
  // How many times the routine starts the read again, and whether the last
  // of those starts succeeded.
  int restarts = 0;
  bool restarted = false;

 private:
  static VOID WINAPI Completed(DWORD error, DWORD bytes, LPOVERLAPPED overlapped) {
    auto* reader = static_cast<Reader*>(overlapped->hEvent);
    reader->completions.push_back({error, bytes, reader->buffer, std::this_thread::get_id()});
    if (reader->order != nullptr) {
      reader->order->push_back(reader);
    }
    if (reader->restarts > 0) {
      --reader->restarts;
      reader->restarted = reader->Start() != FALSE;
    }
  }

  std::vector<const Reader*>* order;
};

// The read's buffer after a read of 'report' into it: its first bytes, then
// untouched bytes up to and including the guard.
Bytes BufferAfter(const Bytes& report) {
  Bytes buffer(kReadSize + kGuardSize, kUntouched);
  std::copy(report.begin(), report.end(), buffer.begin());
  return buffer;
}

// Every test gets a fresh scripted machine as the stand-in's device source.
class ScriptedStandIn : public testing::Test {
 protected:
  void SetUp() override { (void)standin::UseDeviceSource(&devices); }
  void TearDown() override { (void)standin::UseDeviceSource(nullptr); }

  // Plugs a device described by its path and opens it for overlapped reads.
  HANDLE PlugAndOpen(const standin::Path& path) {
    devices.Plug(Described(path));
    return Open(path);
  }

  // Closes the handle and runs the aborted routines of this thread's reads
  // on it, so that none outlives the test's buffers.
  static void CloseAndDrain(HANDLE handle) {
    EXPECT_TRUE(CloseHandle(handle));
    while (SleepEx(0, TRUE) == WAIT_IO_COMPLETION) {
    }
  }

  standin::ScriptedDevices devices;
};

// ---- Reads and the alertable wait --------------------------------------------

class StandInReads : public ScriptedStandIn {};

TEST_F(StandInReads, RoutineRunsOnlyInAnAlertableSleepEx) {
  HANDLE handle = PlugAndOpen(kPad);
  ASSERT_NE(handle, INVALID_HANDLE_VALUE);
  Reader reader(handle);
  ASSERT_TRUE(reader.Start());
  ASSERT_TRUE(devices.Deliver(kPad, {1, 2}));

  Sleep(10);
  EXPECT_TRUE(reader.completions.empty()) << "ran inside Sleep";
  EXPECT_EQ(SleepEx(10, FALSE), 0U);
  EXPECT_TRUE(reader.completions.empty()) << "ran inside a wait that is not alertable";

  EXPECT_EQ(SleepEx(0, TRUE), WAIT_IO_COMPLETION);
  ASSERT_EQ(reader.completions.size(), 1U);
  EXPECT_EQ(reader.completions[0].error, ERROR_SUCCESS);
  EXPECT_EQ(reader.completions[0].bytes, 2U);
  EXPECT_EQ(reader.completions[0].thread, std::this_thread::get_id());
  EXPECT_EQ(reader.overlapped.InternalHigh, 2U);
  // A read completes once.
  EXPECT_EQ(SleepEx(0, TRUE), 0U);
  EXPECT_EQ(reader.completions.size(), 1U);
  EXPECT_TRUE(CloseHandle(handle));
}

TEST_F(StandInReads, AlertableWaitReturnsZeroOnlyOnceItsTimeIsUp) {
  HANDLE handle = PlugAndOpen(kPad);
  ASSERT_NE(handle, INVALID_HANDLE_VALUE);
  // With no read at all, and with one in flight that nothing completes.
  const DWORD before = GetTickCount();
  EXPECT_EQ(SleepEx(20, TRUE), 0U);
  Reader reader(handle);
  ASSERT_TRUE(reader.Start());
  EXPECT_EQ(SleepEx(20, TRUE), 0U);
  // It waits out its time rather than returning early (a caller polling in a
  // loop would spin otherwise).
  EXPECT_GE(static_cast<DWORD>(GetTickCount() - before), 40U);
  EXPECT_TRUE(reader.completions.empty());
  CloseAndDrain(handle);
  EXPECT_EQ(reader.completions.size(), 1U);
}

TEST_F(StandInReads, RoutineRunsOnTheIssuingThreadOnly) {
  HANDLE handle = PlugAndOpen(kPad);
  ASSERT_NE(handle, INVALID_HANDLE_VALUE);
  Reader reader(handle);
  std::promise<void> mayWait;
  std::thread::id workerId;
  BOOL workerStarted = FALSE;
  DWORD workerWait = 0;
  std::thread worker([&, allowed = mayWait.get_future()] {
    workerId = std::this_thread::get_id();
    workerStarted = reader.Start();
    if (workerStarted != FALSE) {
      allowed.wait();
      workerWait = SleepEx(INFINITE, TRUE);
    }
  });
  const bool started = devices.WaitForReads(kPad, 1, std::chrono::seconds(10));
  const bool delivered = devices.Deliver(kPad, {7});
  // The report completes the worker's read: this thread has nothing to run.
  const DWORD ownWait = SleepEx(20, TRUE);
  const size_t ranBeforeTheWorkerWaited = reader.completions.size();
  mayWait.set_value();
  worker.join();

  EXPECT_TRUE(started);
  EXPECT_TRUE(delivered);
  EXPECT_EQ(ownWait, 0U);
  EXPECT_EQ(ranBeforeTheWorkerWaited, 0U);
  EXPECT_EQ(workerWait, WAIT_IO_COMPLETION);
  ASSERT_EQ(reader.completions.size(), 1U);
  EXPECT_EQ(reader.completions[0].thread, workerId);
  EXPECT_EQ(reader.completions[0].buffer, BufferAfter({7}));
  EXPECT_TRUE(CloseHandle(handle));
}

TEST_F(StandInReads, ReadStartedByTheRoutineCompletesInALaterWait) {
  HANDLE handle = PlugAndOpen(kPad);
  ASSERT_NE(handle, INVALID_HANDLE_VALUE);
  Reader reader(handle);
  reader.restarts = 1;
  ASSERT_TRUE(reader.Start());
  // Both reports are there at once: the restarted read still waits for the
  // next SleepEx, so a routine that always restarts cannot keep one wait
  // from returning.
  ASSERT_TRUE(devices.Deliver(kPad, {1}));
  ASSERT_TRUE(devices.Deliver(kPad, {2}));

  EXPECT_EQ(SleepEx(0, TRUE), WAIT_IO_COMPLETION);
  ASSERT_EQ(reader.completions.size(), 1U);
  EXPECT_TRUE(reader.restarted);
  EXPECT_EQ(devices.ReadsStarted(kPad), 2);
  EXPECT_EQ(reader.completions[0].buffer, BufferAfter({1}));

  EXPECT_EQ(SleepEx(0, TRUE), WAIT_IO_COMPLETION);
  ASSERT_EQ(reader.completions.size(), 2U);
  EXPECT_EQ(reader.completions[1].error, ERROR_SUCCESS);
  EXPECT_EQ(reader.completions[1].buffer, BufferAfter({2}));
  EXPECT_EQ(SleepEx(0, TRUE), 0U);
  EXPECT_TRUE(CloseHandle(handle));
}

TEST_F(StandInReads, ReadsOnTwoDevicesCompleteInOneWaitInTheOrderStarted) {
  HANDLE pad = PlugAndOpen(kPad);
  HANDLE stick = PlugAndOpen(kStick);
  ASSERT_NE(pad, INVALID_HANDLE_VALUE);
  ASSERT_NE(stick, INVALID_HANDLE_VALUE);
  std::vector<const Reader*> order;
  Reader padRead(pad, &order);
  Reader stickRead(stick, &order);
  ASSERT_TRUE(padRead.Start());
  ASSERT_TRUE(stickRead.Start());
  // Delivered the other way round.
  ASSERT_TRUE(devices.Deliver(kStick, {2}));
  ASSERT_TRUE(devices.Deliver(kPad, {1}));

  EXPECT_EQ(SleepEx(0, TRUE), WAIT_IO_COMPLETION);
  EXPECT_EQ(order, (std::vector<const Reader*>{&padRead, &stickRead}));
  ASSERT_EQ(padRead.completions.size(), 1U);
  ASSERT_EQ(stickRead.completions.size(), 1U);
  EXPECT_EQ(padRead.completions[0].buffer, BufferAfter({1}));
  EXPECT_EQ(stickRead.completions[0].buffer, BufferAfter({2}));
  EXPECT_TRUE(CloseHandle(pad));
  EXPECT_TRUE(CloseHandle(stick));
}

TEST_F(StandInReads, ReadsOnOneHandleTakeItsReportsInTheOrderStarted) {
  HANDLE handle = PlugAndOpen(kPad);
  ASSERT_NE(handle, INVALID_HANDLE_VALUE);
  std::vector<const Reader*> order;
  Reader first(handle, &order);
  Reader second(handle, &order);
  ASSERT_TRUE(first.Start());
  ASSERT_TRUE(second.Start());
  ASSERT_TRUE(devices.Deliver(kPad, {1}));
  ASSERT_TRUE(devices.Deliver(kPad, {2}));

  EXPECT_EQ(SleepEx(0, TRUE), WAIT_IO_COMPLETION);
  EXPECT_EQ(order, (std::vector<const Reader*>{&first, &second}));
  ASSERT_EQ(first.completions.size(), 1U);
  ASSERT_EQ(second.completions.size(), 1U);
  EXPECT_EQ(first.completions[0].buffer, BufferAfter({1}));
  EXPECT_EQ(second.completions[0].buffer, BufferAfter({2}));
  EXPECT_TRUE(CloseHandle(handle));
}

TEST_F(StandInReads, CloseLeavesTheAbortedRoutineToTheNextAlertableWait) {
  HANDLE handle = PlugAndOpen(kPad);
  ASSERT_NE(handle, INVALID_HANDLE_VALUE);
  Reader reader(handle);
  ASSERT_TRUE(reader.Start());
  ASSERT_TRUE(CloseHandle(handle));
  EXPECT_TRUE(reader.completions.empty()) << "ran inside CloseHandle";
  Sleep(5);
  EXPECT_TRUE(reader.completions.empty()) << "ran inside Sleep";

  EXPECT_EQ(SleepEx(0, TRUE), WAIT_IO_COMPLETION);
  ASSERT_EQ(reader.completions.size(), 1U);
  EXPECT_EQ(reader.completions[0].error, ERROR_OPERATION_ABORTED);
  EXPECT_EQ(reader.completions[0].bytes, 0U);
}

TEST_F(StandInReads, RefusedReadStartsNothingAndReadsWorkOnceAllowedAgain) {
  HANDLE handle = PlugAndOpen(kPad);
  ASSERT_NE(handle, INVALID_HANDLE_VALUE);
  Reader reader(handle);
  devices.SetReadsStart(kPad, false);
  SetLastError(ERROR_SUCCESS);
  EXPECT_FALSE(reader.Start());
  EXPECT_NE(GetLastError(), ERROR_SUCCESS);
  EXPECT_EQ(devices.ReadsStarted(kPad), 0);
  ASSERT_TRUE(devices.Deliver(kPad, {1}));
  EXPECT_EQ(SleepEx(0, TRUE), 0U);
  EXPECT_TRUE(reader.completions.empty());

  devices.SetReadsStart(kPad, true);
  ASSERT_TRUE(reader.Start());
  EXPECT_EQ(SleepEx(0, TRUE), WAIT_IO_COMPLETION);
  ASSERT_EQ(reader.completions.size(), 1U);
  EXPECT_EQ(reader.completions[0].buffer, BufferAfter({1}));
  EXPECT_TRUE(CloseHandle(handle));
}

// ---- How a read in flight completes ------------------------------------------

// Something that happens to a device, or its handle, while a read is in
// flight on it, done by another thread while the reading thread sleeps in
// SleepEx(INFINITE, TRUE): each must wake it (a broken wait hangs).
struct CompletionCase {
  const char* what;
  bool (*happen)(standin::ScriptedDevices& devices, HANDLE handle);
  Bytes report;  // what the buffer got
  DWORD error;
  // ERROR_SUCCESS: the handle goes on reading; else every later ReadFileEx
  // fails at once with this error.
  DWORD afterwards;
};

std::ostream& operator<<(std::ostream& out, const CompletionCase& c) { return out << c.what; }

class StandInCompletion : public ScriptedStandIn,
                          public testing::WithParamInterface<CompletionCase> {};

TEST_P(StandInCompletion, WakesTheWaitAndCompletesTheReadOnce) {
  const CompletionCase& c = GetParam();
  HANDLE handle = PlugAndOpen(kPad);
  ASSERT_NE(handle, INVALID_HANDLE_VALUE);
  Reader reader(handle);
  ASSERT_TRUE(reader.Start());
  bool happened = false;
  std::thread other([&] {
    Sleep(20);  // lets the reading thread go to sleep first
    happened = c.happen(devices, handle);
  });
  EXPECT_EQ(SleepEx(INFINITE, TRUE), WAIT_IO_COMPLETION);
  other.join();
  ASSERT_TRUE(happened);

  ASSERT_EQ(reader.completions.size(), 1U);
  const Completion& done = reader.completions[0];
  EXPECT_EQ(done.error, c.error);
  EXPECT_EQ(done.bytes, c.report.size());
  EXPECT_EQ(done.buffer, BufferAfter(c.report));
  EXPECT_EQ(done.thread, std::this_thread::get_id());
  EXPECT_EQ(reader.overlapped.InternalHigh, c.report.size());
  EXPECT_EQ(SleepEx(0, TRUE), 0U);
  EXPECT_EQ(reader.completions.size(), 1U) << "completed more than once";

  if (c.afterwards == ERROR_SUCCESS) {
    std::fill(reader.buffer.begin(), reader.buffer.end(), kUntouched);
    ASSERT_TRUE(reader.Start());
    ASSERT_TRUE(devices.Deliver(kPad, {9}));
    EXPECT_EQ(SleepEx(INFINITE, TRUE), WAIT_IO_COMPLETION);
    ASSERT_EQ(reader.completions.size(), 2U);
    EXPECT_EQ(reader.completions[1].error, ERROR_SUCCESS);
    EXPECT_EQ(reader.completions[1].buffer, BufferAfter({9}));
  } else {
    for (int attempt = 0; attempt < 2; ++attempt) {
      SetLastError(ERROR_SUCCESS);
      EXPECT_FALSE(reader.Start());
      EXPECT_EQ(GetLastError(), c.afterwards);
    }
    // Nothing is left to complete, and nothing completes again.
    EXPECT_EQ(SleepEx(50, TRUE), 0U);
    EXPECT_EQ(reader.completions.size(), 1U);
  }
  if (c.afterwards != ERROR_INVALID_HANDLE) {
    EXPECT_TRUE(CloseHandle(handle));
  }
  // No read holds the device open any more.
  EXPECT_EQ(devices.OpenHandles(kPad), 0);
}

const CompletionCase kCompletions[] = {
    {"Report",
     [](standin::ScriptedDevices& devices, HANDLE) {
       return devices.Deliver(kPad, {1, 2, 3});
     },
     {1, 2, 3},
     ERROR_SUCCESS,
     ERROR_SUCCESS},
    {"ReportLongerThanTheBufferIsCut",
     [](standin::ScriptedDevices& devices, HANDLE) {
       return devices.Deliver(kPad, {1, 2, 3, 4, 5, 6, 7});
     },
     {1, 2, 3, 4},
     ERROR_SUCCESS,
     ERROR_SUCCESS},
    {"NothingDelivered",
     [](standin::ScriptedDevices& devices, HANDLE) { return devices.DeliverNothing(kPad); },
     {},
     ERROR_SUCCESS,
     ERROR_SUCCESS},
    {"DeviceError",
     [](standin::ScriptedDevices& devices, HANDLE) {
       return devices.DeliverError(kPad, ERROR_GEN_FAILURE);
     },
     {},
     ERROR_GEN_FAILURE,
     ERROR_SUCCESS},
    {"Unplugged",
     [](standin::ScriptedDevices& devices, HANDLE) {
       devices.Unplug(kPad);
       return true;
     },
     {},
     ERROR_DEVICE_NOT_CONNECTED,
     ERROR_DEVICE_NOT_CONNECTED},
    {"HandleClosed",
     [](standin::ScriptedDevices&, HANDLE handle) { return CloseHandle(handle) != FALSE; },
     {},
     ERROR_OPERATION_ABORTED,
     ERROR_INVALID_HANDLE},
};

INSTANTIATE_TEST_SUITE_P(StandIn, StandInCompletion, testing::ValuesIn(kCompletions),
                         testdevices::CaseName<CompletionCase>);

// ---- Devices that go away ----------------------------------------------------

class StandInUnplug : public ScriptedStandIn {};

TEST_F(StandInUnplug, HandleWithNoReadInFlightRefusesReadsAtOnceEvenAfterReplug) {
  HANDLE old = PlugAndOpen(kPad);
  ASSERT_NE(old, INVALID_HANDLE_VALUE);
  devices.Unplug(kPad);
  Reader reader(old);
  SetLastError(ERROR_SUCCESS);
  EXPECT_FALSE(reader.Start());
  EXPECT_EQ(GetLastError(), ERROR_DEVICE_NOT_CONNECTED);

  devices.Plug(Described(kPad));
  SetLastError(ERROR_SUCCESS);
  EXPECT_FALSE(reader.Start()) << "the old handle came back with the device";
  EXPECT_EQ(GetLastError(), ERROR_DEVICE_NOT_CONNECTED);
  EXPECT_EQ(SleepEx(0, TRUE), 0U);
  EXPECT_TRUE(reader.completions.empty());

  HANDLE fresh = Open(kPad);
  ASSERT_NE(fresh, INVALID_HANDLE_VALUE);
  Reader freshRead(fresh);
  ASSERT_TRUE(freshRead.Start());
  ASSERT_TRUE(devices.Deliver(kPad, {5}));
  EXPECT_EQ(SleepEx(0, TRUE), WAIT_IO_COMPLETION);
  ASSERT_EQ(freshRead.completions.size(), 1U);
  EXPECT_EQ(freshRead.completions[0].buffer, BufferAfter({5}));
  EXPECT_TRUE(reader.completions.empty());
  EXPECT_TRUE(CloseHandle(old));
  EXPECT_TRUE(CloseHandle(fresh));
}

// ---- Reads of a thread that ends ---------------------------------------------

// A way of running a thread that starts one read and ends with it in flight.
struct EndingThreadCase {
  const char* what;
  // Runs reader.Start() on a new thread and waits for that thread to end;
  // what Start returned.
  bool (*startOnEndingThread)(Reader& reader);
};

std::ostream& operator<<(std::ostream& out, const EndingThreadCase& c) { return out << c.what; }

// What a thread started with CreateThread reads with, and whether its read started.
struct ReadingThread {
  Reader* reader;
  BOOL started;
};

DWORD WINAPI StartReadAndEnd(LPVOID parameter) {
  auto* thread = static_cast<ReadingThread*>(parameter);
  thread->started = thread->reader->Start();
  return 0;
}

class StandInEndingThread : public ScriptedStandIn,
                            public testing::WithParamInterface<EndingThreadCase> {};

TEST_P(StandInEndingThread, DropsItsReadsUnrunAndLeavesTheBufferAlone) {
  HANDLE handle = PlugAndOpen(kPad);
  ASSERT_NE(handle, INVALID_HANDLE_VALUE);
  Reader orphan(handle);
  ASSERT_TRUE(GetParam().startOnEndingThread(orphan));

  // The report stays for the next read: the dropped one took nothing.
  ASSERT_TRUE(devices.Deliver(kPad, {1, 2, 3}));
  EXPECT_EQ(SleepEx(20, TRUE), 0U) << "this thread ran a read of the thread that ended";
  EXPECT_TRUE(orphan.completions.empty());
  EXPECT_EQ(orphan.buffer, Bytes(kReadSize + kGuardSize, kUntouched));

  Reader next(handle);
  ASSERT_TRUE(next.Start());
  EXPECT_EQ(SleepEx(0, TRUE), WAIT_IO_COMPLETION);
  ASSERT_EQ(next.completions.size(), 1U);
  EXPECT_EQ(next.completions[0].buffer, BufferAfter({1, 2, 3}));
  EXPECT_TRUE(orphan.completions.empty());
  EXPECT_EQ(orphan.buffer, Bytes(kReadSize + kGuardSize, kUntouched));

  // The dropped read holds the device no longer.
  EXPECT_TRUE(CloseHandle(handle));
  EXPECT_EQ(devices.OpenHandles(kPad), 0);
}

const EndingThreadCase kEndingThreads[] = {
    {"CreateThread",
     [](Reader& reader) {
       ReadingThread reading{&reader, FALSE};
       HANDLE thread = CreateThread(nullptr, 0, &StartReadAndEnd, &reading, 0, nullptr);
       if (thread == nullptr) {
         return false;
       }
       const bool ended = WaitForSingleObject(thread, INFINITE) == WAIT_OBJECT_0;
       const bool closed = CloseHandle(thread) != FALSE;
       return ended && closed && reading.started != FALSE;
     }},
    {"StdThread",
     [](Reader& reader) {
       BOOL started = FALSE;
       std::thread([&] { started = reader.Start(); }).join();
       return started != FALSE;
     }},
};

INSTANTIATE_TEST_SUITE_P(StandIn, StandInEndingThread, testing::ValuesIn(kEndingThreads),
                         testdevices::CaseName<EndingThreadCase>);

// ---- Files and handles --------------------------------------------------------

class StandInFiles : public ScriptedStandIn {};

// A read the stand-in refuses before starting anything.
struct RefusedReadCase {
  const char* what;
  DWORD access;
  DWORD flags;
  bool nullBuffer;
  bool nullOverlapped;
  bool nullRoutine;
  DWORD error;
};

std::ostream& operator<<(std::ostream& out, const RefusedReadCase& c) { return out << c.what; }

class StandInRefusedRead : public ScriptedStandIn,
                           public testing::WithParamInterface<RefusedReadCase> {
 protected:
  static VOID WINAPI MustNotRun(DWORD /*error*/, DWORD /*bytes*/, LPOVERLAPPED /*overlapped*/) {
    ADD_FAILURE() << "a refused read completed";
  }
};

TEST_P(StandInRefusedRead, FailsAtOnceAndStartsNothing) {
  const RefusedReadCase& c = GetParam();
  devices.Plug(Described(kPad));
  HANDLE handle = Open(kPad, c.access, c.flags);
  ASSERT_NE(handle, INVALID_HANDLE_VALUE);
  Bytes buffer(kReadSize, kUntouched);
  OVERLAPPED overlapped{};
  SetLastError(ERROR_SUCCESS);
  EXPECT_FALSE(ReadFileEx(handle, c.nullBuffer ? nullptr : buffer.data(), kReadSize,
                          c.nullOverlapped ? nullptr : &overlapped,
                          c.nullRoutine ? nullptr : &MustNotRun));
  EXPECT_EQ(GetLastError(), c.error);
  EXPECT_EQ(devices.ReadsStarted(kPad), 0);
  ASSERT_TRUE(devices.Deliver(kPad, {1}));
  EXPECT_EQ(SleepEx(0, TRUE), 0U);
  EXPECT_EQ(buffer, Bytes(kReadSize, kUntouched));
  EXPECT_TRUE(CloseHandle(handle));
}

const RefusedReadCase kRefusedReads[] = {
    {"NotOpenedOverlapped", GENERIC_READ, 0, false, false, false, ERROR_INVALID_PARAMETER},
    {"OpenedWithoutGenericRead", GENERIC_WRITE, FILE_FLAG_OVERLAPPED, false, false, false,
     ERROR_ACCESS_DENIED},
    {"NullBuffer", GENERIC_READ, FILE_FLAG_OVERLAPPED, true, false, false, ERROR_NOACCESS},
    {"NullOverlapped", GENERIC_READ, FILE_FLAG_OVERLAPPED, false, true, false,
     ERROR_INVALID_PARAMETER},
    {"NullRoutine", GENERIC_READ, FILE_FLAG_OVERLAPPED, false, false, true,
     ERROR_INVALID_PARAMETER},
};

INSTANTIATE_TEST_SUITE_P(StandIn, StandInRefusedRead, testing::ValuesIn(kRefusedReads),
                         testdevices::CaseName<RefusedReadCase>);

// A CreateFileW that fails, on a machine with one device of each kind.
struct FailedOpenCase {
  const char* what;
  const WCHAR* name;
  DWORD disposition;
  DWORD error;
};

std::ostream& operator<<(std::ostream& out, const FailedOpenCase& c) { return out << c.what; }

const standin::Path kLocked = u"\\\\?\\hid#vid_0001&pid_0001#4&locked";
const standin::Path kGone = u"\\\\?\\hid#vid_0002&pid_0002#5&gone";

class StandInFailedOpen : public ScriptedStandIn,
                          public testing::WithParamInterface<FailedOpenCase> {};

TEST_P(StandInFailedOpen, ReturnsInvalidHandleValueWithTheReason) {
  devices.Plug(Described(kPad));
  standin::ScriptedDevice locked = Described(kLocked);
  locked.opens = false;
  devices.Plug(locked);
  devices.Plug(Described(kGone));
  devices.Unplug(kGone);

  SetLastError(ERROR_SUCCESS);
  EXPECT_EQ(CreateFileW(GetParam().name, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                        GetParam().disposition, FILE_FLAG_OVERLAPPED, nullptr),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), GetParam().error);
  EXPECT_EQ(devices.Opens(kLocked) + devices.Opens(kGone) + devices.Opens(kPad), 0);
}

constexpr DWORD kCreateAlways = 2;

const FailedOpenCase kFailedOpens[] = {
    {"UnknownPath", u"\\\\?\\hid#vid_9999&pid_9999#9&none", OPEN_EXISTING, ERROR_FILE_NOT_FOUND},
    {"UnpluggedDevice", kGone.c_str(), OPEN_EXISTING, ERROR_FILE_NOT_FOUND},
    {"DeviceRefusingOpens", kLocked.c_str(), OPEN_EXISTING, ERROR_ACCESS_DENIED},
    {"NullName", nullptr, OPEN_EXISTING, ERROR_INVALID_PARAMETER},
    {"NotOpenExisting", kPad.c_str(), kCreateAlways, ERROR_INVALID_PARAMETER},
};

INSTANTIATE_TEST_SUITE_P(StandIn, StandInFailedOpen, testing::ValuesIn(kFailedOpens),
                         testdevices::CaseName<FailedOpenCase>);

TEST_F(StandInFiles, UnknownHandlesAreRefusedWithInvalidHandle) {
  HANDLE closed = PlugAndOpen(kPad);
  ASSERT_NE(closed, INVALID_HANDLE_VALUE);
  ASSERT_TRUE(CloseHandle(closed));
  int notAHandle = 0;
  const HANDLE unknown[] = {nullptr, INVALID_HANDLE_VALUE, &notAHandle, closed};
  for (HANDLE handle : unknown) {
    SCOPED_TRACE(testing::Message() << "handle " << handle);
    SetLastError(ERROR_SUCCESS);
    EXPECT_FALSE(CloseHandle(handle));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);

    Reader reader(handle);
    SetLastError(ERROR_SUCCESS);
    EXPECT_FALSE(reader.Start());
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);

    HIDD_ATTRIBUTES attributes{};
    attributes.Size = sizeof attributes;
    EXPECT_FALSE(HidD_GetAttributes(handle, &attributes));
    WCHAR product[8] = {};
    EXPECT_FALSE(HidD_GetProductString(handle, product, sizeof product));
    PHIDP_PREPARSED_DATA preparsed = nullptr;
    EXPECT_FALSE(HidD_GetPreparsedData(handle, &preparsed));
    EXPECT_EQ(preparsed, nullptr);

    SetLastError(ERROR_SUCCESS);
    EXPECT_EQ(WaitForSingleObject(handle, 0), WAIT_FAILED);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  }
  EXPECT_EQ(SleepEx(0, TRUE), 0U);
}

TEST_F(StandInFiles, FileHandlesCannotBeWaitedOn) {
  HANDLE handle = PlugAndOpen(kPad);
  ASSERT_NE(handle, INVALID_HANDLE_VALUE);
  EXPECT_EQ(WaitForSingleObject(handle, 0), WAIT_FAILED);
  EXPECT_TRUE(CloseHandle(handle));
}

// ---- Threads, errors and time --------------------------------------------------

DWORD WINAPI WaitForRelease(LPVOID parameter) {
  static_cast<std::shared_future<void>*>(parameter)->wait();
  return 0;
}

TEST(StandInThreads, WaitTimesOutWhileTheThreadRunsAndSucceedsOnceItHasEnded) {
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  DWORD id = 0;
  HANDLE thread = CreateThread(nullptr, 0, &WaitForRelease, &released, 0, &id);
  ASSERT_NE(thread, nullptr);
  EXPECT_NE(id, 0U);
  EXPECT_EQ(WaitForSingleObject(thread, 0), WAIT_TIMEOUT);
  EXPECT_EQ(WaitForSingleObject(thread, 10), WAIT_TIMEOUT);
  release.set_value();
  EXPECT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
  // An ended thread stays signalled.
  EXPECT_EQ(WaitForSingleObject(thread, 0), WAIT_OBJECT_0);
  EXPECT_TRUE(CloseHandle(thread));
  EXPECT_EQ(WaitForSingleObject(thread, 0), WAIT_FAILED);
}

TEST(StandInThreads, LastErrorBelongsToEachThread) {
  SetLastError(ERROR_ACCESS_DENIED);
  DWORD seenThere = 0;
  std::thread([&] {
    seenThere = GetLastError();
    SetLastError(ERROR_INVALID_HANDLE);
  }).join();
  EXPECT_EQ(seenThere, ERROR_SUCCESS);
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
}

// A wait that runs no completion routine, and the time it is given.
struct PlainSleepCase {
  const char* what;
  void (*sleep)(DWORD milliseconds);
};

std::ostream& operator<<(std::ostream& out, const PlainSleepCase& c) { return out << c.what; }

class StandInTime : public testing::TestWithParam<PlainSleepCase> {};

TEST_P(StandInTime, TickCountMovesOnAtLeastAsFarAsTheSleep) {
  constexpr DWORD kMilliseconds = 30;
  const DWORD before = GetTickCount();
  GetParam().sleep(kMilliseconds);
  // Unsigned difference: right across the 49.7-day wrap too.
  EXPECT_GE(static_cast<DWORD>(GetTickCount() - before), kMilliseconds);
}

const PlainSleepCase kPlainSleeps[] = {
    {"Sleep", [](DWORD milliseconds) { Sleep(milliseconds); }},
    {"SleepExNotAlertable",
     [](DWORD milliseconds) { EXPECT_EQ(SleepEx(milliseconds, FALSE), 0U); }},
    {"SleepExAlertableWithNoRead",
     [](DWORD milliseconds) { EXPECT_EQ(SleepEx(milliseconds, TRUE), 0U); }},
};

INSTANTIATE_TEST_SUITE_P(StandIn, StandInTime, testing::ValuesIn(kPlainSleeps),
                         testdevices::CaseName<PlainSleepCase>);

// ---- The "hid.dll" module ------------------------------------------------------

template <class Function>
FARPROC AddressOf(Function* function) {
  return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(function));
}

struct NamedExport {
  const char* name;
  FARPROC address;
};

const std::vector<NamedExport>& HidExports() {
  static const auto* exports = new std::vector<NamedExport>{
      {"HidD_GetHidGuid", AddressOf(&HidD_GetHidGuid)},
      {"HidD_GetAttributes", AddressOf(&HidD_GetAttributes)},
      {"HidD_GetProductString", AddressOf(&HidD_GetProductString)},
      {"HidD_GetManufacturerString", AddressOf(&HidD_GetManufacturerString)},
      {"HidD_GetSerialNumberString", AddressOf(&HidD_GetSerialNumberString)},
      {"HidD_GetPreparsedData", AddressOf(&HidD_GetPreparsedData)},
      {"HidD_FreePreparsedData", AddressOf(&HidD_FreePreparsedData)},
      {"HidP_GetCaps", AddressOf(&HidP_GetCaps)},
      {"HidP_GetSpecificButtonCaps", AddressOf(&HidP_GetSpecificButtonCaps)},
      {"HidP_GetSpecificValueCaps", AddressOf(&HidP_GetSpecificValueCaps)},
      {"HidP_SetData", AddressOf(&HidP_SetData)},
      {"HidP_InitializeReportForID", AddressOf(&HidP_InitializeReportForID)},
      {"HidP_GetData", AddressOf(&HidP_GetData)},
      {"HidD_GetInputReport", AddressOf(&HidD_GetInputReport)},
  };
  return *exports;
}

// Each test starts with the module present, complete and not loaded, and
// leaves it so, loaded again for the tests after it.
class StandInHidDll : public ScriptedStandIn {
 protected:
  void SetUp() override {
    ScriptedStandIn::SetUp();
    Restore();
  }
  void TearDown() override {
    Restore();
    EXPECT_NE(LoadLibraryW(u"hid.dll"), nullptr);
    ScriptedStandIn::TearDown();
  }

  static void Restore() {
    standin::SetHidLibraryPresent(true);
    standin::SetMissingHidExport(nullptr);
    (void)standin::TakeHidExportLookups();
  }
};

TEST_F(StandInHidDll, ModuleHandleIsFoundOnlyOnceLoaded) {
  SetLastError(ERROR_SUCCESS);
  EXPECT_EQ(GetModuleHandleW(u"hid.dll"), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
  HMODULE loaded = LoadLibraryW(u"hid.dll");
  ASSERT_NE(loaded, nullptr);
  EXPECT_EQ(GetModuleHandleW(u"hid.dll"), loaded);
  EXPECT_EQ(LoadLibraryW(u"HID.DLL"), loaded);
}

TEST_F(StandInHidDll, ModuleNamesAnyCaseWithOrWithoutTheExtension) {
  struct Name {
    const char* what;
    const WCHAR* name;
    bool known;
  };
  const Name names[] = {
      {"hid.dll", u"hid.dll", true},
      {"HID.DLL", u"HID.DLL", true},
      {"Hid", u"Hid", true},
      {"hid.dl", u"hid.dl", false},
      {"hidd.dll", u"hidd.dll", false},
      {"empty", u"", false},
      {"trailing space", u"hid.dll ", false},
      {"setupapi.dll", u"setupapi.dll", false},
      {"null", nullptr, false},
  };
  ASSERT_NE(LoadLibraryW(u"hid.dll"), nullptr);
  for (const Name& entry : names) {
    SCOPED_TRACE(entry.what);
    SetLastError(ERROR_SUCCESS);
    EXPECT_EQ(LoadLibraryW(entry.name) != nullptr, entry.known);
    EXPECT_EQ(GetModuleHandleW(entry.name) != nullptr, entry.known);
    if (!entry.known) {
      EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
    }
  }
}

TEST_F(StandInHidDll, AbsentLibraryDoesNotLoadUntilPresentAndLoadedAgain) {
  ASSERT_NE(LoadLibraryW(u"hid.dll"), nullptr);
  standin::SetHidLibraryPresent(false);
  SetLastError(ERROR_SUCCESS);
  EXPECT_EQ(LoadLibraryW(u"hid.dll"), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
  EXPECT_EQ(GetModuleHandleW(u"hid.dll"), nullptr);

  standin::SetHidLibraryPresent(true);
  EXPECT_EQ(GetModuleHandleW(u"hid.dll"), nullptr);
  HMODULE loaded = LoadLibraryW(u"hid.dll");
  EXPECT_NE(loaded, nullptr);
  EXPECT_EQ(GetModuleHandleW(u"hid.dll"), loaded);
}

TEST_F(StandInHidDll, ExportsTheFourteenFunctionsUnderTheirOwnNames) {
  HMODULE module = LoadLibraryW(u"hid.dll");
  ASSERT_NE(module, nullptr);
  std::vector<std::string> asked;
  for (const NamedExport& entry : HidExports()) {
    EXPECT_EQ(GetProcAddress(module, entry.name), entry.address) << entry.name;
    asked.emplace_back(entry.name);
  }
  EXPECT_EQ(standin::TakeHidExportLookups(), asked);
}

TEST_F(StandInHidDll, KnowsNoOtherName) {
  HMODULE module = LoadLibraryW(u"hid.dll");
  ASSERT_NE(module, nullptr);
  const char* const unknown[] = {
      "HidD_GetFeature", "hidd_gethidguid", "HidD_GetHidGuid ", "HidP_GetCap", "", "LoadLibraryW"};
  for (const char* name : unknown) {
    SetLastError(ERROR_SUCCESS);
    EXPECT_EQ(GetProcAddress(module, name), nullptr) << name;
    EXPECT_EQ(GetLastError(), ERROR_PROC_NOT_FOUND) << name;
  }
  SetLastError(ERROR_SUCCESS);
  EXPECT_EQ(GetProcAddress(module, nullptr), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_PROC_NOT_FOUND);
  SetLastError(ERROR_SUCCESS);
  EXPECT_EQ(GetProcAddress(nullptr, "HidD_GetHidGuid"), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_PROC_NOT_FOUND);
}

TEST_F(StandInHidDll, MissingExportIsTheOnlyOneNotFound) {
  HMODULE module = LoadLibraryW(u"hid.dll");
  ASSERT_NE(module, nullptr);
  for (const NamedExport& missing : HidExports()) {
    standin::SetMissingHidExport(missing.name);
    for (const NamedExport& entry : HidExports()) {
      SetLastError(ERROR_SUCCESS);
      const FARPROC found = GetProcAddress(module, entry.name);
      if (std::strcmp(entry.name, missing.name) == 0) {
        EXPECT_EQ(found, nullptr) << entry.name;
        EXPECT_EQ(GetLastError(), ERROR_PROC_NOT_FOUND) << entry.name;
      } else {
        EXPECT_EQ(found, entry.address) << entry.name << " with " << missing.name << " missing";
      }
    }
  }
  standin::SetMissingHidExport(nullptr);
  EXPECT_NE(GetProcAddress(module, HidExports().back().name), nullptr);
}

TEST_F(StandInHidDll, HidGuidIsTheHidInterfaceClass) {
  GUID guid{};
  HidD_GetHidGuid(&guid);
  const GUID hid{0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};
  EXPECT_EQ(std::memcmp(&guid, &hid, sizeof guid), 0);
}

TEST_F(StandInHidDll, AttributesComeFromTheDeviceSizeIncluded) {
  HANDLE handle = PlugAndOpen(kPad);
  ASSERT_NE(handle, INVALID_HANDLE_VALUE);
  HIDD_ATTRIBUTES attributes{};
  ASSERT_TRUE(HidD_GetAttributes(handle, &attributes));
  EXPECT_EQ(attributes.Size, sizeof(HIDD_ATTRIBUTES));
  EXPECT_EQ(attributes.VendorID, 0x045E);
  EXPECT_EQ(attributes.ProductID, 0x028E);
  EXPECT_EQ(attributes.VersionNumber, 0x0114);
  EXPECT_TRUE(CloseHandle(handle));
}

// A device that cannot tell something: the export fails and writes nothing.
TEST_F(StandInHidDll, DeviceThatCannotTellLeavesTheCallersRecordsAlone) {
  standin::ScriptedDevice mute = Described(kPad);
  mute.hasAttributes = false;
  mute.hasProductString = false;
  mute.hasPreparsedData = false;
  devices.Plug(mute);
  devices.Plug(Described(kStick));
  HANDLE muteHandle = Open(kPad);
  HANDLE unpluggedHandle = Open(kStick);
  ASSERT_NE(muteHandle, INVALID_HANDLE_VALUE);
  ASSERT_NE(unpluggedHandle, INVALID_HANDLE_VALUE);
  devices.Unplug(kStick);

  for (HANDLE handle : {muteHandle, unpluggedHandle}) {
    SCOPED_TRACE(handle == muteHandle ? "device without them" : "device unplugged");
    HIDD_ATTRIBUTES attributes{0xABAB, 0xABAB, 0xABAB, 0xABAB};
    EXPECT_FALSE(HidD_GetAttributes(handle, &attributes));
    EXPECT_EQ(attributes.Size, 0xABABU);
    EXPECT_EQ(attributes.VendorID, 0xABAB);
    EXPECT_EQ(attributes.ProductID, 0xABAB);
    EXPECT_EQ(attributes.VersionNumber, 0xABAB);

    WCHAR product[4] = {0xAAAA, 0xAAAA, 0xAAAA, 0xAAAA};
    EXPECT_FALSE(HidD_GetProductString(handle, product, sizeof product));
    EXPECT_EQ(product[0], 0xAAAA);

    int sentinel = 0;
    auto* const before = reinterpret_cast<PHIDP_PREPARSED_DATA>(&sentinel);
    PHIDP_PREPARSED_DATA preparsed = before;
    EXPECT_FALSE(HidD_GetPreparsedData(handle, &preparsed));
    EXPECT_EQ(preparsed, before);
  }
  EXPECT_TRUE(CloseHandle(muteHandle));
  EXPECT_TRUE(CloseHandle(unpluggedHandle));
}

// The product string "Pad" copied into a caller's buffer of some bytes.
struct ProductStringCase {
  const char* what;
  ULONG bufferBytes;
  std::u16string expected;  // the buffer's units written, NUL included when there was room
};

std::ostream& operator<<(std::ostream& out, const ProductStringCase& c) { return out << c.what; }

class StandInProductString : public ScriptedStandIn,
                             public testing::WithParamInterface<ProductStringCase> {};

TEST_P(StandInProductString, CopiesWhatFitsAndTheNulOnlyWhenThereIsRoom) {
  HANDLE handle = PlugAndOpen(kPad);
  ASSERT_NE(handle, INVALID_HANDLE_VALUE);
  constexpr WCHAR kFill = 0xAAAA;
  WCHAR buffer[8];
  std::fill(std::begin(buffer), std::end(buffer), kFill);
  ASSERT_TRUE(HidD_GetProductString(handle, buffer, GetParam().bufferBytes));

  std::u16string expected = GetParam().expected;
  expected.resize(std::size(buffer), kFill);
  EXPECT_EQ(std::u16string(std::begin(buffer), std::end(buffer)), expected);
  EXPECT_TRUE(CloseHandle(handle));
}

const ProductStringCase kProductStrings[] = {
    {"RoomForTheNul", 8, std::u16string(u"Pad\0", 4)},
    {"ExactlyFilledHasNoNul", 6, u"Pad"},
    {"OddByteCountLeavesNoRoomForTheNul", 7, u"Pad"},
    {"ShortBufferTakesThePrefix", 4, u"Pa"},
    {"SingleByteTakesNothing", 1, u""},
    {"LargeBuffer", 16, std::u16string(u"Pad\0", 4)},
};

INSTANTIATE_TEST_SUITE_P(StandIn, StandInProductString, testing::ValuesIn(kProductStrings),
                         testdevices::CaseName<ProductStringCase>);

TEST_F(StandInHidDll, PreparsedDataLivesFromGetUntilFreeEachBlockOnItsOwn) {
  HANDLE handle = PlugAndOpen(kPad);
  ASSERT_NE(handle, INVALID_HANDLE_VALUE);
  PHIDP_PREPARSED_DATA first = nullptr;
  PHIDP_PREPARSED_DATA second = nullptr;
  ASSERT_TRUE(HidD_GetPreparsedData(handle, &first));
  ASSERT_TRUE(HidD_GetPreparsedData(handle, &second));
  // The caller owns the data: it outlives the handle.
  EXPECT_TRUE(CloseHandle(handle));

  HIDP_CAPS caps{};
  ASSERT_EQ(HidP_GetCaps(first, &caps), HIDP_STATUS_SUCCESS);
  const standin::ScriptedDevice described = Described(kPad);
  EXPECT_EQ(std::memcmp(&caps, &described.caps, sizeof caps), 0);

  ASSERT_TRUE(HidD_FreePreparsedData(first));
  EXPECT_EQ(HidP_GetCaps(first, &caps), HIDP_STATUS_INVALID_PREPARSED_DATA);
  EXPECT_FALSE(HidD_FreePreparsedData(first)) << "freed twice";
  EXPECT_EQ(HidP_GetCaps(second, &caps), HIDP_STATUS_SUCCESS) << "freeing one freed the other";
  EXPECT_TRUE(HidD_FreePreparsedData(second));
}

TEST_F(StandInHidDll, GetCapsRefusesDataItDidNotHandOut) {
  HIDP_CAPS caps{};
  caps.Usage = 0x1234;
  HIDP_CAPS foreign{};
  EXPECT_EQ(HidP_GetCaps(nullptr, &caps), HIDP_STATUS_INVALID_PREPARSED_DATA);
  EXPECT_EQ(HidP_GetCaps(reinterpret_cast<PHIDP_PREPARSED_DATA>(&foreign), &caps),
            HIDP_STATUS_INVALID_PREPARSED_DATA);
  EXPECT_EQ(caps.Usage, 0x1234);
  EXPECT_FALSE(HidD_FreePreparsedData(nullptr));
  EXPECT_FALSE(HidD_FreePreparsedData(reinterpret_cast<PHIDP_PREPARSED_DATA>(&foreign)));
}

// Where an export that the tool never calls could write.
struct Scratch {
  Scratch() { std::fill(std::begin(bytes), std::end(bytes), kUntouched); }
  BYTE bytes[64];
  USHORT shortLength = 0xEEEE;
  ULONG longLength = 0xEEEEEEEE;
};

bool SameScratch(const Scratch& left, const Scratch& right) {
  return std::equal(std::begin(left.bytes), std::end(left.bytes), std::begin(right.bytes)) &&
         left.shortLength == right.shortLength && left.longLength == right.longLength;
}

// One of the eight exports the tool never calls.
struct UnusedExportCase {
  const char* what;
  // Calls the export over a live handle and preparsed data and the scratch;
  // true when it answered failure.
  bool (*callFails)(HANDLE handle, PHIDP_PREPARSED_DATA preparsed, Scratch& scratch);
};

std::ostream& operator<<(std::ostream& out, const UnusedExportCase& c) { return out << c.what; }

class StandInUnusedExport : public ScriptedStandIn,
                            public testing::WithParamInterface<UnusedExportCase> {};

TEST_P(StandInUnusedExport, AnswersFailureAndWritesNothing) {
  HANDLE handle = PlugAndOpen(kPad);
  ASSERT_NE(handle, INVALID_HANDLE_VALUE);
  PHIDP_PREPARSED_DATA preparsed = nullptr;
  ASSERT_TRUE(HidD_GetPreparsedData(handle, &preparsed));
  Scratch scratch;
  EXPECT_TRUE(GetParam().callFails(handle, preparsed, scratch));
  EXPECT_TRUE(SameScratch(scratch, Scratch()));
  EXPECT_TRUE(HidD_FreePreparsedData(preparsed));
  EXPECT_TRUE(CloseHandle(handle));
}

PCHAR ReportIn(Scratch& scratch) { return reinterpret_cast<PCHAR>(scratch.bytes); }

const UnusedExportCase kUnusedExports[] = {
    {"HidD_GetManufacturerString",
     [](HANDLE handle, PHIDP_PREPARSED_DATA, Scratch& scratch) {
       return HidD_GetManufacturerString(handle, scratch.bytes, sizeof scratch.bytes) == FALSE;
     }},
    {"HidD_GetSerialNumberString",
     [](HANDLE handle, PHIDP_PREPARSED_DATA, Scratch& scratch) {
       return HidD_GetSerialNumberString(handle, scratch.bytes, sizeof scratch.bytes) == FALSE;
     }},
    {"HidD_GetInputReport",
     [](HANDLE handle, PHIDP_PREPARSED_DATA, Scratch& scratch) {
       return HidD_GetInputReport(handle, scratch.bytes, sizeof scratch.bytes) == FALSE;
     }},
    {"HidP_GetSpecificButtonCaps",
     [](HANDLE, PHIDP_PREPARSED_DATA preparsed, Scratch& scratch) {
       return HidP_GetSpecificButtonCaps(
                  HidP_Input, 0, 0, 0, reinterpret_cast<PHIDP_BUTTON_CAPS>(scratch.bytes),
                  &scratch.shortLength, preparsed) == HIDP_STATUS_NOT_IMPLEMENTED;
     }},
    {"HidP_GetSpecificValueCaps",
     [](HANDLE, PHIDP_PREPARSED_DATA preparsed, Scratch& scratch) {
       return HidP_GetSpecificValueCaps(
                  HidP_Input, 0, 0, 0, reinterpret_cast<PHIDP_VALUE_CAPS>(scratch.bytes),
                  &scratch.shortLength, preparsed) == HIDP_STATUS_NOT_IMPLEMENTED;
     }},
    {"HidP_SetData",
     [](HANDLE, PHIDP_PREPARSED_DATA preparsed, Scratch& scratch) {
       return HidP_SetData(HidP_Output, reinterpret_cast<PHIDP_DATA>(scratch.bytes),
                           &scratch.longLength, preparsed, ReportIn(scratch),
                           sizeof scratch.bytes) == HIDP_STATUS_NOT_IMPLEMENTED;
     }},
    {"HidP_InitializeReportForID",
     [](HANDLE, PHIDP_PREPARSED_DATA preparsed, Scratch& scratch) {
       return HidP_InitializeReportForID(HidP_Output, 0, preparsed, ReportIn(scratch),
                                         sizeof scratch.bytes) == HIDP_STATUS_NOT_IMPLEMENTED;
     }},
    {"HidP_GetData",
     [](HANDLE, PHIDP_PREPARSED_DATA preparsed, Scratch& scratch) {
       return HidP_GetData(HidP_Input, reinterpret_cast<PHIDP_DATA>(scratch.bytes),
                           &scratch.longLength, preparsed, ReportIn(scratch),
                           sizeof scratch.bytes) == HIDP_STATUS_NOT_IMPLEMENTED;
     }},
};

INSTANTIATE_TEST_SUITE_P(StandIn, StandInUnusedExport, testing::ValuesIn(kUnusedExports),
                         testdevices::CaseName<UnusedExportCase>);

// ---- SetupAPI ------------------------------------------------------------------

GUID HidGuid() {
  GUID guid{};
  HidD_GetHidGuid(&guid);
  return guid;
}

HDEVINFO HidDevices() {
  const GUID hid = HidGuid();
  return SetupDiGetClassDevsW(&hid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
}

// Storage for a detail record of some bytes, aligned as the record needs.
class DetailBuffer {
 public:
  explicit DetailBuffer(DWORD bytes) : words((bytes + 7) / 8 + 1, 0) {}
  PSP_DEVICE_INTERFACE_DETAIL_DATA_W Detail() {
    return reinterpret_cast<PSP_DEVICE_INTERFACE_DETAIL_DATA_W>(words.data());
  }
  // The path the detail holds, up to its NUL.
  standin::Path Path() { return standin::Path(Detail()->DevicePath); }
  // Whether nothing past cbSize was written.
  bool PathUntouched() const {
    const auto* bytes = reinterpret_cast<const BYTE*>(words.data());
    return std::all_of(bytes + sizeof(DWORD), bytes + words.size() * sizeof(std::uint64_t),
                       [](BYTE byte) { return byte == 0; });
  }

 private:
  std::vector<std::uint64_t> words;
};

// The paths a HID device information set made now lists, read as a caller
// reads them: enumerate until ERROR_NO_MORE_ITEMS, ask each detail's size,
// then fetch it.
std::vector<standin::Path> ListHidPaths() {
  std::vector<standin::Path> paths;
  HDEVINFO set = HidDevices();
  EXPECT_NE(set, INVALID_HANDLE_VALUE);
  if (set == INVALID_HANDLE_VALUE) {
    return paths;
  }
  const GUID hid = HidGuid();
  for (DWORD index = 0; index < 100; ++index) {
    SP_DEVICE_INTERFACE_DATA data{};
    data.cbSize = sizeof data;
    if (SetupDiEnumDeviceInterfaces(set, nullptr, &hid, index, &data) == FALSE) {
      EXPECT_EQ(GetLastError(), ERROR_NO_MORE_ITEMS);
      break;
    }
    DWORD required = 0;
    EXPECT_FALSE(SetupDiGetDeviceInterfaceDetailW(set, &data, nullptr, 0, &required, nullptr));
    DetailBuffer detail(required);
    detail.Detail()->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
    EXPECT_TRUE(
        SetupDiGetDeviceInterfaceDetailW(set, &data, detail.Detail(), required, nullptr, nullptr));
    paths.push_back(detail.Path());
  }
  EXPECT_TRUE(SetupDiDestroyDeviceInfoList(set));
  return paths;
}

class StandInSetupApi : public ScriptedStandIn {};

TEST_F(StandInSetupApi, ListsThePresentPathsInTheOrderFirstPlugged) {
  EXPECT_EQ(ListHidPaths(), std::vector<standin::Path>{});
  devices.Plug(Described(kPad));
  devices.Plug(Described(kStick));
  devices.Plug(Described(kWheel));
  EXPECT_EQ(ListHidPaths(), (std::vector<standin::Path>{kPad, kStick, kWheel}));
  devices.Unplug(kStick);
  EXPECT_EQ(ListHidPaths(), (std::vector<standin::Path>{kPad, kWheel}));
  devices.Plug(Described(kStick));
  EXPECT_EQ(ListHidPaths(), (std::vector<standin::Path>{kPad, kStick, kWheel}));
}

TEST_F(StandInSetupApi, SetKeepsTheListingItWasMadeWith) {
  devices.Plug(Described(kPad));
  HDEVINFO set = HidDevices();
  ASSERT_NE(set, INVALID_HANDLE_VALUE);
  devices.Plug(Described(kStick));
  devices.Unplug(kPad);

  const GUID hid = HidGuid();
  SP_DEVICE_INTERFACE_DATA data{};
  data.cbSize = sizeof data;
  ASSERT_TRUE(SetupDiEnumDeviceInterfaces(set, nullptr, &hid, 0, &data));
  DetailBuffer detail(512);
  detail.Detail()->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
  ASSERT_TRUE(SetupDiGetDeviceInterfaceDetailW(set, &data, detail.Detail(), 512, nullptr, nullptr));
  EXPECT_EQ(detail.Path(), kPad);
  SetLastError(ERROR_SUCCESS);
  EXPECT_FALSE(SetupDiEnumDeviceInterfaces(set, nullptr, &hid, 1, &data));
  EXPECT_EQ(GetLastError(), ERROR_NO_MORE_ITEMS);
  EXPECT_TRUE(SetupDiDestroyDeviceInfoList(set));
}

// A record whose cbSize is not the size this build gives it.
struct WrongSizeCase {
  const char* what;
  DWORD interfaceSize;
  DWORD detailSize;
};

std::ostream& operator<<(std::ostream& out, const WrongSizeCase& c) { return out << c.what; }

class StandInWrongSize : public ScriptedStandIn,
                         public testing::WithParamInterface<WrongSizeCase> {};

TEST_P(StandInWrongSize, FailsWithInvalidUserBufferAndWritesNoPath) {
  devices.Plug(Described(kPad));
  HDEVINFO set = HidDevices();
  ASSERT_NE(set, INVALID_HANDLE_VALUE);
  const GUID hid = HidGuid();
  SP_DEVICE_INTERFACE_DATA data{};
  data.cbSize = GetParam().interfaceSize;
  SetLastError(ERROR_SUCCESS);
  const BOOL listed = SetupDiEnumDeviceInterfaces(set, nullptr, &hid, 0, &data);
  if (GetParam().interfaceSize != sizeof(SP_DEVICE_INTERFACE_DATA)) {
    EXPECT_FALSE(listed);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_USER_BUFFER);
  } else {
    ASSERT_TRUE(listed);
    DetailBuffer detail(512);
    detail.Detail()->cbSize = GetParam().detailSize;
    DWORD required = 0;
    SetLastError(ERROR_SUCCESS);
    EXPECT_FALSE(
        SetupDiGetDeviceInterfaceDetailW(set, &data, detail.Detail(), 512, &required, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_USER_BUFFER);
    EXPECT_TRUE(detail.PathUntouched());
  }
  EXPECT_TRUE(SetupDiDestroyDeviceInfoList(set));
}

constexpr DWORD kInterfaceSize = sizeof(SP_DEVICE_INTERFACE_DATA);
constexpr DWORD kDetailSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
// The sizes the other word width gives the records: a 64-bit process passing
// 32-bit sizes, or the other way round.
constexpr DWORD kOtherWidthInterfaceSize = sizeof(void*) == 8 ? 28 : 32;
constexpr DWORD kOtherWidthDetailSize = sizeof(void*) == 8 ? 6 : 8;

const WrongSizeCase kWrongSizes[] = {
    {"InterfaceZero", 0, kDetailSize},
    {"InterfaceOfTheOtherWidth", kOtherWidthInterfaceSize, kDetailSize},
    {"InterfaceTooLarge", kInterfaceSize + 8, kDetailSize},
    {"DetailZero", kInterfaceSize, 0},
    {"DetailOfTheOtherWidth", kInterfaceSize, kOtherWidthDetailSize},
    {"DetailCountingThePath", kInterfaceSize, 512},
};

INSTANTIATE_TEST_SUITE_P(StandIn, StandInWrongSize, testing::ValuesIn(kWrongSizes),
                         testdevices::CaseName<WrongSizeCase>);

TEST_F(StandInSetupApi, DetailTooSmallGivesInsufficientBufferAndTheRequiredSize) {
  devices.Plug(Described(kPad));
  HDEVINFO set = HidDevices();
  ASSERT_NE(set, INVALID_HANDLE_VALUE);
  const GUID hid = HidGuid();
  SP_DEVICE_INTERFACE_DATA data{};
  data.cbSize = sizeof data;
  ASSERT_TRUE(SetupDiEnumDeviceInterfaces(set, nullptr, &hid, 0, &data));
  // The fixed part before the path, then the path and its NUL.
  const DWORD needed = static_cast<DWORD>(offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath) +
                                          (kPad.size() + 1) * sizeof(WCHAR));

  DWORD required = 0;
  SetLastError(ERROR_SUCCESS);
  EXPECT_FALSE(SetupDiGetDeviceInterfaceDetailW(set, &data, nullptr, 0, &required, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(required, needed);

  for (const DWORD size : {kDetailSize, needed - 2, needed - 1}) {
    SCOPED_TRACE(testing::Message() << size << " bytes");
    DetailBuffer detail(needed);
    detail.Detail()->cbSize = kDetailSize;
    required = 0;
    SetLastError(ERROR_SUCCESS);
    EXPECT_FALSE(
        SetupDiGetDeviceInterfaceDetailW(set, &data, detail.Detail(), size, &required, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(required, needed);
    EXPECT_TRUE(detail.PathUntouched());
  }
  for (const DWORD size : {needed, needed + 10}) {
    SCOPED_TRACE(testing::Message() << size << " bytes");
    DetailBuffer detail(size);
    detail.Detail()->cbSize = kDetailSize;
    EXPECT_TRUE(
        SetupDiGetDeviceInterfaceDetailW(set, &data, detail.Detail(), size, nullptr, nullptr));
    EXPECT_EQ(detail.Path(), kPad);
  }
  EXPECT_TRUE(SetupDiDestroyDeviceInfoList(set));
}

TEST_F(StandInSetupApi, OtherInterfaceClassListsNothing) {
  devices.Plug(Described(kPad));
  const GUID hid = HidGuid();
  const GUID other{0x53F56307, 0xB6BF, 0x11D0, {0x94, 0xF2, 0x00, 0xA0, 0xC9, 0x1E, 0xFB, 0x8B}};
  HDEVINFO otherSet =
      SetupDiGetClassDevsW(&other, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  ASSERT_NE(otherSet, INVALID_HANDLE_VALUE);
  HDEVINFO hidSet = HidDevices();
  ASSERT_NE(hidSet, INVALID_HANDLE_VALUE);

  SP_DEVICE_INTERFACE_DATA data{};
  data.cbSize = sizeof data;
  for (const GUID* asked : {&other, &hid}) {
    SetLastError(ERROR_SUCCESS);
    EXPECT_FALSE(SetupDiEnumDeviceInterfaces(otherSet, nullptr, asked, 0, &data));
    EXPECT_EQ(GetLastError(), ERROR_NO_MORE_ITEMS);
  }
  // The HID set, asked for another class's interfaces, has none either.
  SetLastError(ERROR_SUCCESS);
  EXPECT_FALSE(SetupDiEnumDeviceInterfaces(hidSet, nullptr, &other, 0, &data));
  EXPECT_EQ(GetLastError(), ERROR_NO_MORE_ITEMS);
  EXPECT_TRUE(SetupDiEnumDeviceInterfaces(hidSet, nullptr, &hid, 0, &data));
  SetLastError(ERROR_SUCCESS);
  EXPECT_FALSE(SetupDiEnumDeviceInterfaces(hidSet, nullptr, &hid, 1000, &data));
  EXPECT_EQ(GetLastError(), ERROR_NO_MORE_ITEMS);

  EXPECT_TRUE(SetupDiDestroyDeviceInfoList(otherSet));
  EXPECT_TRUE(SetupDiDestroyDeviceInfoList(hidSet));
}

TEST_F(StandInSetupApi, SetsAreRefusedWhenNotAsAskedOrAlreadyDestroyed) {
  const GUID hid = HidGuid();
  SetLastError(ERROR_SUCCESS);
  EXPECT_EQ(SetupDiGetClassDevsW(&hid, nullptr, nullptr, DIGCF_PRESENT), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  SetLastError(ERROR_SUCCESS);
  EXPECT_EQ(SetupDiGetClassDevsW(nullptr, nullptr, nullptr, DIGCF_DEVICEINTERFACE),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);

  HDEVINFO set = HidDevices();
  ASSERT_NE(set, INVALID_HANDLE_VALUE);
  ASSERT_TRUE(SetupDiDestroyDeviceInfoList(set));
  SP_DEVICE_INTERFACE_DATA data{};
  data.cbSize = sizeof data;
  for (HDEVINFO unknown : {set, INVALID_HANDLE_VALUE, static_cast<HDEVINFO>(nullptr)}) {
    SetLastError(ERROR_SUCCESS);
    EXPECT_FALSE(SetupDiEnumDeviceInterfaces(unknown, nullptr, &hid, 0, &data));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    SetLastError(ERROR_SUCCESS);
    EXPECT_FALSE(SetupDiDestroyDeviceInfoList(unknown));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  }
}

}  // namespace
