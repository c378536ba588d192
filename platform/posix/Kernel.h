// The stand-in's kernel objects, shared by its files, threads and reads.
#pragma once

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>

#include "platform/WinApi.h"
#include "platform/posix/DeviceSource.h"

namespace standin {

// What a HANDLE stands for. A handle is the object's address; the handle
// table keeps the object alive until CloseHandle, and a read in flight keeps
// its file alive until it completes or is dropped.
class KernelObject {
 public:
  KernelObject() = default;
  virtual ~KernelObject() = default;
  KernelObject(const KernelObject&) = delete;
  KernelObject& operator=(const KernelObject&) = delete;
  KernelObject(KernelObject&&) = delete;
  KernelObject& operator=(KernelObject&&) = delete;
};

// An interface opened by CreateFileW.
class FileObject final : public KernelObject {
 public:
  FileObject(std::unique_ptr<OpenInterface> opened, DWORD access, DWORD flags);
  ~FileObject() override;
  FileObject(const FileObject&) = delete;
  FileObject& operator=(const FileObject&) = delete;
  FileObject(FileObject&&) = delete;
  FileObject& operator=(FileObject&&) = delete;

  // Marks the handle closed and wakes the alertable waits of its reads.
  void Close();

  const std::unique_ptr<OpenInterface> device;
  const bool readable;
  const bool overlapped;
  // Readable once the handle has been closed.
  const int closedDescriptor;
  std::atomic<bool> closed{false};
  // The device went away: no read starts any more.
  std::atomic<bool> gone{false};
};

// A thread started by CreateThread.
class ThreadObject final : public KernelObject {
 public:
  void Finish();
  // True when the thread ended within the time (INFINITE: no limit).
  bool WaitFinished(DWORD milliseconds);

 private:
  std::mutex mutex;
  std::condition_variable finishedChanged;
  bool finished = false;
};

// Enters an object in the handle table and returns its handle.
HANDLE AddHandle(const std::shared_ptr<KernelObject>& object);
// The object of a handle in the table, else null.
std::shared_ptr<KernelObject> FindHandle(HANDLE handle);
// The file of a handle in the table, else null with ERROR_INVALID_HANDLE set.
std::shared_ptr<FileObject> FindFile(HANDLE handle);
// Takes a handle out of the table; its object, or null when unknown.
std::shared_ptr<KernelObject> RemoveHandle(HANDLE handle);

// Drops the calling thread's reads in flight without running their routines.
void DropThreadReads();

}  // namespace standin
