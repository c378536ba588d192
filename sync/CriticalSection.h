// The recursive lock of the HID library and its scoped holder.
#pragma once

#include "platform/WinApi.h"

namespace Kettrin {

// A Windows critical section: recursive, so the thread that holds it may
// take it again; it is free for others once every Lock has been matched by
// an Unlock.
class OrmCriticalSection {
 public:
  OrmCriticalSection() { InitializeCriticalSection(&section); }
  virtual ~OrmCriticalSection() { DeleteCriticalSection(&section); }

  OrmCriticalSection(const OrmCriticalSection&) = delete;
  OrmCriticalSection& operator=(const OrmCriticalSection&) = delete;
  OrmCriticalSection(OrmCriticalSection&&) = delete;
  OrmCriticalSection& operator=(OrmCriticalSection&&) = delete;

  // Blocks until the calling thread owns the section.
  void Lock() { EnterCriticalSection(&section); }
  void Unlock() { LeaveCriticalSection(&section); }

 private:
  CRITICAL_SECTION section{};
};

// Holds a section from construction to the end of the block, however the
// block is left. Lives on the stack only.
class CriticalSectionLock {
 public:
  explicit CriticalSectionLock(OrmCriticalSection& held) : section(&held) {
    held.Lock();
    locked = true;
  }
  ~CriticalSectionLock() { Release(); }

  CriticalSectionLock(const CriticalSectionLock&) = delete;
  CriticalSectionLock& operator=(const CriticalSectionLock&) = delete;
  CriticalSectionLock(CriticalSectionLock&&) = delete;
  CriticalSectionLock& operator=(CriticalSectionLock&&) = delete;

  // Unlocks once: a second Release, or the destructor after it, does nothing.
  void Release() {
    if (locked) {
      locked = false;
      section->Unlock();
    }
  }

 private:
  OrmCriticalSection* section;
  bool locked = false;
};

}  // namespace Kettrin
