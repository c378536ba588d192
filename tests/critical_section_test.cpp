// The recursive critical section and its scoped holder: a section is free for
// other threads exactly when every ownership its owner took has been given up.
#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <stdexcept>
#include <thread>

#include "platform/WinApi.h"
#include "sync/CriticalSection.h"
#include "tests/TestDevices.h"

namespace {

// Whether another thread can take the section right now. The other thread
// gives it back at once if it got it.
bool OtherThreadCanEnter(CRITICAL_SECTION& section) {
  bool entered = false;
  std::thread([&] {
    entered = TryEnterCriticalSection(&section) != FALSE;
    if (entered) {
      LeaveCriticalSection(&section);
    }
  }).join();
  return entered;
}

class CriticalSectionApi : public testing::Test {
 protected:
  void SetUp() override { InitializeCriticalSection(&section); }
  void TearDown() override { DeleteCriticalSection(&section); }

  CRITICAL_SECTION section{};
};

TEST_F(CriticalSectionApi, ThreeDeepIsFreeForOthersOnlyAfterTheThirdLeave) {
  EnterCriticalSection(&section);
  EnterCriticalSection(&section);
  // The owner's TryEnter succeeds and counts as one more ownership.
  ASSERT_TRUE(TryEnterCriticalSection(&section));
  for (int held = 3; held > 0; --held) {
    EXPECT_FALSE(OtherThreadCanEnter(section)) << "with " << held << " ownerships left";
    LeaveCriticalSection(&section);
  }
  EXPECT_TRUE(OtherThreadCanEnter(section));
}

TEST_F(CriticalSectionApi, EnterWaitsForTheOwnerToLeave) {
  EnterCriticalSection(&section);
  std::atomic<bool> ownerLeft{false};
  bool enteredAfterOwnerLeft = false;
  std::thread waiter([&] {
    EnterCriticalSection(&section);
    enteredAfterOwnerLeft = ownerLeft.load();
    LeaveCriticalSection(&section);
  });
  Sleep(20);  // lets the waiter reach EnterCriticalSection
  ownerLeft = true;
  LeaveCriticalSection(&section);
  waiter.join();
  EXPECT_TRUE(enteredAfterOwnerLeft);
  EXPECT_TRUE(OtherThreadCanEnter(section));
}

// A second thread that waits in Lock for a section the test holds, and
// records whether it got in before the test declared the section given up.
// A section given up too early lets it in too soon; one never given up keeps
// it waiting, and the test hangs in Join.
class Contender {
 public:
  explicit Contender(Kettrin::OrmCriticalSection& section) : started(waiting.get_future()) {
    thread = std::thread([this, &section] {
      waiting.set_value();
      section.Lock();
      enteredTooSoon = !letIn.load();
      section.Unlock();
    });
    started.wait();
    Sleep(20);  // lets it reach Lock
  }
  ~Contender() {
    if (thread.joinable()) {
      thread.join();
    }
  }
  Contender(const Contender&) = delete;
  Contender& operator=(const Contender&) = delete;
  Contender(Contender&&) = delete;
  Contender& operator=(Contender&&) = delete;

  // Called just before the test gives up its last ownership.
  void LetIn() { letIn = true; }

  // Waits for it to have entered and left; true when it entered only after LetIn.
  bool EnteredOnlyAfterLetIn() {
    thread.join();
    return !enteredTooSoon;
  }

 private:
  std::promise<void> waiting;
  std::future<void> started;
  std::atomic<bool> letIn{false};
  bool enteredTooSoon = false;
  std::thread thread;
};

TEST(CriticalSectionOrm, ThreeLocksNeedThreeUnlocks) {
  Kettrin::OrmCriticalSection section;
  section.Lock();
  section.Lock();
  section.Lock();
  Contender contender(section);
  section.Unlock();
  section.Unlock();
  contender.LetIn();
  section.Unlock();
  EXPECT_TRUE(contender.EnteredOnlyAfterLetIn());
}

TEST(CriticalSectionLock, HoldsTheSectionUntilReleased) {
  Kettrin::OrmCriticalSection section;
  Kettrin::CriticalSectionLock lock(section);
  Contender contender(section);
  contender.LetIn();
  lock.Release();
  EXPECT_TRUE(contender.EnteredOnlyAfterLetIn());
}

// One way of leaving a block that holds a scoped lock.
struct LeaveCase {
  const char* what;
  void (*block)(Kettrin::OrmCriticalSection& section);
};

std::ostream& operator<<(std::ostream& out, const LeaveCase& c) { return out << c.what; }

// However the block is left, the scoped lock gives up exactly the one
// ownership it took: the test's own earlier Lock still holds the section
// afterwards, and its one Unlock frees it.
class CriticalSectionLockLeaving : public testing::TestWithParam<LeaveCase> {};

TEST_P(CriticalSectionLockLeaving, ReleasesExactlyOnce) {
  Kettrin::OrmCriticalSection section;
  section.Lock();
  try {
    GetParam().block(section);
  } catch (const std::runtime_error&) {
    // The block's way out; what matters is the section afterwards.
  }
  Contender contender(section);
  contender.LetIn();
  section.Unlock();
  EXPECT_TRUE(contender.EnteredOnlyAfterLetIn());
}

const LeaveCase kLeaveCases[] = {
    {"BlockEnds",
     [](Kettrin::OrmCriticalSection& section) {
       const Kettrin::CriticalSectionLock lock(section);
     }},
    {"ExceptionLeavesTheBlock",
     [](Kettrin::OrmCriticalSection& section) {
       const Kettrin::CriticalSectionLock lock(section);
       throw std::runtime_error("leaving");
     }},
    {"ReleasedTwiceThenBlockEnds",
     [](Kettrin::OrmCriticalSection& section) {
       Kettrin::CriticalSectionLock lock(section);
       lock.Release();
       lock.Release();
     }},
    {"ReleasedThenExceptionLeaves",
     [](Kettrin::OrmCriticalSection& section) {
       Kettrin::CriticalSectionLock lock(section);
       lock.Release();
       throw std::runtime_error("leaving");
     }},
    {"NestedLocksExceptionLeavesBoth",
     [](Kettrin::OrmCriticalSection& section) {
       const Kettrin::CriticalSectionLock outer(section);
       const Kettrin::CriticalSectionLock inner(section);
       throw std::runtime_error("leaving");
     }},
};

INSTANTIATE_TEST_SUITE_P(CriticalSection, CriticalSectionLockLeaving,
                         testing::ValuesIn(kLeaveCases), testdevices::CaseName<LeaveCase>);

}  // namespace
