// The stand-in's kernel services: last error, critical sections, time,
// threads and the handle table.
#include "platform/posix/Kernel.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <chrono>
#include <ctime>
#include <new>
#include <thread>
#include <unordered_map>

namespace standin {

namespace {

thread_local DWORD lastError = ERROR_SUCCESS;

// The handle table. Never destroyed: threads that outlive main's return may
// still close or look up handles while the process ends.
struct HandleTable {
  std::mutex mutex;
  std::unordered_map<HANDLE, std::shared_ptr<KernelObject>> objects;
};

HandleTable& Handles() {
  static auto* table = new HandleTable;
  return *table;
}

}  // namespace

FileObject::FileObject(std::unique_ptr<OpenInterface> opened, DWORD access, DWORD flags)
    : device(std::move(opened)),
      readable((access & GENERIC_READ) != 0),
      overlapped((flags & FILE_FLAG_OVERLAPPED) != 0),
      closedDescriptor(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

FileObject::~FileObject() {
  if (closedDescriptor >= 0) {
    (void)close(closedDescriptor);
  }
}

void FileObject::Close() {
  closed = true;
  const std::uint64_t one = 1;
  const ssize_t written = write(closedDescriptor, &one, sizeof one);
  (void)written;  // an eventfd that is readable already stays so
}

void ThreadObject::Finish() {
  {
    const std::lock_guard<std::mutex> hold(mutex);
    finished = true;
  }
  finishedChanged.notify_all();
}

bool ThreadObject::WaitFinished(DWORD milliseconds) {
  std::unique_lock<std::mutex> hold(mutex);
  if (milliseconds == INFINITE) {
    finishedChanged.wait(hold, [this] { return finished; });
    return true;
  }
  return finishedChanged.wait_for(hold, std::chrono::milliseconds(milliseconds),
                                  [this] { return finished; });
}

HANDLE AddHandle(const std::shared_ptr<KernelObject>& object) {
  HandleTable& table = Handles();
  const std::lock_guard<std::mutex> hold(table.mutex);
  HANDLE handle = object.get();
  table.objects[handle] = object;
  return handle;
}

std::shared_ptr<KernelObject> FindHandle(HANDLE handle) {
  HandleTable& table = Handles();
  const std::lock_guard<std::mutex> hold(table.mutex);
  auto found = table.objects.find(handle);
  return found == table.objects.end() ? nullptr : found->second;
}

std::shared_ptr<FileObject> FindFile(HANDLE handle) {
  auto file = std::dynamic_pointer_cast<FileObject>(FindHandle(handle));
  if (!file) {
    SetLastError(ERROR_INVALID_HANDLE);
  }
  return file;
}

std::shared_ptr<KernelObject> RemoveHandle(HANDLE handle) {
  HandleTable& table = Handles();
  const std::lock_guard<std::mutex> hold(table.mutex);
  auto found = table.objects.find(handle);
  if (found == table.objects.end()) {
    return nullptr;
  }
  std::shared_ptr<KernelObject> object = std::move(found->second);
  table.objects.erase(found);
  return object;
}

}  // namespace standin

using standin::FindHandle;
using standin::ThreadObject;

DWORD GetLastError() { return standin::lastError; }

void SetLastError(DWORD dwErrCode) { standin::lastError = dwErrCode; }

// ---- Critical sections ------------------------------------------------------

namespace {

std::recursive_mutex& MutexOf(LPCRITICAL_SECTION section) {
  return *static_cast<std::recursive_mutex*>(section->Implementation);
}

}  // namespace

void InitializeCriticalSection(LPCRITICAL_SECTION lpCriticalSection) {
  lpCriticalSection->Implementation = new std::recursive_mutex;
}

void DeleteCriticalSection(LPCRITICAL_SECTION lpCriticalSection) {
  delete &MutexOf(lpCriticalSection);
  lpCriticalSection->Implementation = nullptr;
}

void EnterCriticalSection(LPCRITICAL_SECTION lpCriticalSection) {
  MutexOf(lpCriticalSection).lock();
}

BOOL TryEnterCriticalSection(LPCRITICAL_SECTION lpCriticalSection) {
  return MutexOf(lpCriticalSection).try_lock() ? TRUE : FALSE;
}

void LeaveCriticalSection(LPCRITICAL_SECTION lpCriticalSection) {
  MutexOf(lpCriticalSection).unlock();
}

// ---- Time -------------------------------------------------------------------

DWORD GetTickCount() {
  timespec now{};
  // The boot-time clock counts from system start, suspended time included.
  (void)clock_gettime(CLOCK_BOOTTIME, &now);
  const auto milliseconds = static_cast<std::uint64_t>(now.tv_sec) * 1000U +
                            static_cast<std::uint64_t>(now.tv_nsec) / 1000000U;
  return static_cast<DWORD>(milliseconds);  // wraps, as on Windows
}

void Sleep(DWORD dwMilliseconds) {
  if (dwMilliseconds == INFINITE) {
    for (;;) {
      std::this_thread::sleep_for(std::chrono::hours(24));
    }
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(dwMilliseconds));
}

// ---- Threads ----------------------------------------------------------------

HANDLE CreateThread(LPSECURITY_ATTRIBUTES /*lpThreadAttributes*/, SIZE_T /*dwStackSize*/,
                    LPTHREAD_START_ROUTINE lpStartAddress, LPVOID lpParameter,
                    DWORD /*dwCreationFlags*/, LPDWORD lpThreadId) {
  static std::atomic<DWORD> nextId{1};
  auto thread = std::make_shared<ThreadObject>();
  try {
    std::thread([thread, lpStartAddress, lpParameter] {
      (void)lpStartAddress(lpParameter);
      // Windows cancels the reads of a thread that ends.
      standin::DropThreadReads();
      thread->Finish();
    }).detach();
  } catch (const std::system_error&) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  if (lpThreadId != nullptr) {
    *lpThreadId = nextId++;
  }
  return standin::AddHandle(thread);
}

DWORD WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds) {
  auto thread = std::dynamic_pointer_cast<ThreadObject>(FindHandle(hHandle));
  if (!thread) {
    SetLastError(ERROR_INVALID_HANDLE);
    return WAIT_FAILED;
  }
  return thread->WaitFinished(dwMilliseconds) ? WAIT_OBJECT_0 : WAIT_TIMEOUT;
}

BOOL CloseHandle(HANDLE hObject) {
  std::shared_ptr<standin::KernelObject> object = standin::RemoveHandle(hObject);
  if (!object) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (auto* file = dynamic_cast<standin::FileObject*>(object.get())) {
    file->Close();
  }
  return TRUE;
}
