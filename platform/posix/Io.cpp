// The stand-in's device files: opening, overlapped reads with completion
// routines, and the alertable wait that runs them.
#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <vector>

#include "platform/posix/Kernel.h"

namespace standin {

namespace {

// A read started by ReadFileEx on this thread and not completed yet.
struct PendingRead {
  std::shared_ptr<FileObject> file;
  BYTE* buffer;
  DWORD size;
  LPOVERLAPPED overlapped;
  LPOVERLAPPED_COMPLETION_ROUTINE routine;
};

// A read that has completed; its routine runs in the alertable wait.
struct CompletedRead {
  DWORD error;
  DWORD bytes;
  LPOVERLAPPED overlapped;
  LPOVERLAPPED_COMPLETION_ROUTINE routine;
};

// Reads belong to the thread that started them: only its alertable waits
// complete them, and they are dropped when it ends.
thread_local std::vector<PendingRead> threadReads;

constexpr ULONG_PTR kStatusPending = 0x103;

// Storage the alertable wait reuses, so that a steady stream of reports
// costs no heap allocation. A routine that waits again while its own wait
// runs routines finds the spare list taken and makes its own.
thread_local std::vector<CompletedRead> spareCompleted;
thread_local std::vector<pollfd> pollDescriptors;

// The list of completed reads of one alertable wait: the thread's spare one,
// given back, emptied, however the wait ends.
class CompletedList {
 public:
  CompletedList() : reads(std::move(spareCompleted)) { reads.clear(); }
  ~CompletedList() {
    reads.clear();
    spareCompleted = std::move(reads);
  }
  CompletedList(const CompletedList&) = delete;
  CompletedList& operator=(const CompletedList&) = delete;
  CompletedList(CompletedList&&) = delete;
  CompletedList& operator=(CompletedList&&) = delete;

  std::vector<CompletedRead> reads;
};

// Moves into 'completed' every read of 'reads' that has completed, in the
// order started.
void TakeCompleted(std::vector<PendingRead>& reads, std::vector<CompletedRead>& completed) {
  auto stillPending = std::remove_if(reads.begin(), reads.end(), [&](PendingRead& read) {
    if (read.file->closed) {
      completed.push_back({ERROR_OPERATION_ABORTED, 0, read.overlapped, read.routine});
      return true;
    }
    const ReadResult result = read.file->device->TakeReport(read.buffer, read.size);
    switch (result.status) {
      case ReadResult::kNotReady: return false;
      case ReadResult::kDone:
        completed.push_back({result.error, result.bytes, read.overlapped, read.routine});
        return true;
      case ReadResult::kGone:
        read.file->gone = true;
        completed.push_back({ERROR_DEVICE_NOT_CONNECTED, 0, read.overlapped, read.routine});
        return true;
    }
    return false;
  });
  reads.erase(stillPending, reads.end());
}

// Milliseconds left until 'deadline', for poll(): -1 for no deadline.
int PollTimeout(bool forever, std::chrono::steady_clock::time_point deadline) {
  if (forever) {
    return -1;
  }
  const auto left =
      std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
  return static_cast<int>(std::clamp<std::chrono::milliseconds::rep>(left.count(), 0, INT_MAX));
}

}  // namespace

void DropThreadReads() { threadReads.clear(); }

}  // namespace standin

using standin::FileObject;

HANDLE CreateFileW(LPCWSTR lpFileName, DWORD dwDesiredAccess, DWORD /*dwShareMode*/,
                   LPSECURITY_ATTRIBUTES /*lpSecurityAttributes*/, DWORD dwCreationDisposition,
                   DWORD dwFlagsAndAttributes, HANDLE /*hTemplateFile*/) {
  if (lpFileName == nullptr || dwCreationDisposition != OPEN_EXISTING) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  DWORD error = ERROR_FILE_NOT_FOUND;
  std::unique_ptr<standin::OpenInterface> opened =
      standin::CurrentDeviceSource().Open(lpFileName, error);
  if (!opened) {
    SetLastError(error);
    return INVALID_HANDLE_VALUE;
  }
  return standin::AddHandle(
      std::make_shared<FileObject>(std::move(opened), dwDesiredAccess, dwFlagsAndAttributes));
}

BOOL ReadFileEx(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead,
                LPOVERLAPPED lpOverlapped, LPOVERLAPPED_COMPLETION_ROUTINE lpCompletionRoutine) {
  std::shared_ptr<FileObject> file = standin::FindFile(hFile);
  if (!file) {
    return FALSE;
  }
  if (!file->overlapped || lpOverlapped == nullptr || lpCompletionRoutine == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (!file->readable) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  if (lpBuffer == nullptr && nNumberOfBytesToRead != 0) {
    SetLastError(ERROR_NOACCESS);
    return FALSE;
  }
  if (file->gone) {
    SetLastError(ERROR_DEVICE_NOT_CONNECTED);
    return FALSE;
  }
  DWORD error = ERROR_SUCCESS;
  if (!file->device->StartRead(error)) {
    SetLastError(error);
    return FALSE;
  }
  lpOverlapped->Internal = standin::kStatusPending;
  lpOverlapped->InternalHigh = 0;
  standin::threadReads.push_back({std::move(file), static_cast<BYTE*>(lpBuffer),
                                  nNumberOfBytesToRead, lpOverlapped, lpCompletionRoutine});
  return TRUE;
}

DWORD SleepEx(DWORD dwMilliseconds, BOOL bAlertable) {
  if (bAlertable == FALSE) {
    Sleep(dwMilliseconds);
    return 0;
  }
  const bool forever = dwMilliseconds == INFINITE;
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(forever ? 0 : dwMilliseconds);
  standin::CompletedList completed;
  for (;;) {
    standin::TakeCompleted(standin::threadReads, completed.reads);
    if (!completed.reads.empty()) {
      // Routines may start new reads: those join threadReads for the next wait.
      for (const standin::CompletedRead& read : completed.reads) {
        read.overlapped->Internal = read.error;
        read.overlapped->InternalHigh = read.bytes;
        read.routine(read.error, read.bytes, read.overlapped);
      }
      return WAIT_IO_COMPLETION;
    }
    const int timeout = standin::PollTimeout(forever, deadline);
    if (timeout == 0) {
      return 0;
    }
    // No routine runs between here and poll, so no nested wait shares these.
    std::vector<pollfd>& descriptors = standin::pollDescriptors;
    descriptors.clear();
    for (const standin::PendingRead& read : standin::threadReads) {
      descriptors.push_back({read.file->device->ReadyDescriptor(), POLLIN, 0});
      descriptors.push_back({read.file->closedDescriptor, POLLIN, 0});
    }
    // Sleeps in the kernel until a read has something or the time is up.
    if (poll(descriptors.data(), descriptors.size(), timeout) < 0 && errno != EINTR) {
      Sleep(static_cast<DWORD>(timeout < 0 ? INFINITE : static_cast<DWORD>(timeout)));
      return 0;
    }
  }
}
