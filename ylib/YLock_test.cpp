#include "ylib/YLock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "platform/com/hresult.h"
#include "platform/win32/winerror.h"
#include "ylib/YException.h"
#include "ylib/YFormat.h"

namespace {

// Passes calls on and counts Unlock, to see what a holder does.
class SpyLock : public CYLock {
 public:
  explicit SpyLock(CYLock& inner) : m_inner(inner) {}
  bool Lock() override { return m_inner.Lock(); }
  void Unlock() override {
    ++unlocks;
    m_inner.Unlock();
  }
  int unlocks = 0;

 private:
  CYLock& m_inner;
};

std::u16string UniqueName(const char16_t* what) {
  return YFormat(u"vel-ylib-test-%s-%d-%p", what, GetCurrentProcessId(), static_cast<const void*>(&what));
}

TEST(CYMutexLock, LockWithoutInitCreatesAnUnnamedMutex) {
  CYMutexLock lock;
  EXPECT_TRUE(lock.Lock());
  EXPECT_TRUE(lock.IsLocked());
  lock.Unlock();
  EXPECT_FALSE(lock.IsLocked());
}

TEST(CYMutexLock, HolderWhoseWaitTimesOutDoesNotUnlock) {
  const std::u16string name = UniqueName(u"timeout");
  CYMutexLock owner;
  owner.Init(name, false);
  std::atomic<bool> held{false}, release{false};
  std::thread t([&] {
    CYLockHolder hold(owner);
    held = true;
    while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  });
  while (!held) std::this_thread::sleep_for(std::chrono::milliseconds(1));

  CYMutexLock waiter;  // the same named mutex, through a second handle
  waiter.Init(name, false);
  waiter.SetTimeout(50);
  SpyLock spy(waiter);
  {
    CYLockHolder hold(spy);
    EXPECT_FALSE(hold.IsLocked());
  }
  EXPECT_EQ(spy.unlocks, 0);
  release = true;
  t.join();

  {
    CYLockHolder hold(spy);
    EXPECT_TRUE(hold.IsLocked());
  }
  EXPECT_EQ(spy.unlocks, 1);
}

TEST(CYMutexLock, MutexOfADeadOwnerIsObtained) {
  CYMutexLock lock;
  lock.Init(UniqueName(u"abandoned"), true);
  std::thread([&] { EXPECT_TRUE(lock.Lock()); }).join();  // ends without Unlock
  lock.SetTimeout(1000);
  EXPECT_TRUE(lock.Lock());
  lock.Unlock();
}

TEST(CYMutexLock, UnlockWithoutOwnershipRaisesTheSystemError) {
  CYMutexLock lock;
  lock.Init(UniqueName(u"notowner"), false);
  try {
    lock.Unlock();
    FAIL() << "no exception";
  } catch (const CYException& x) {
    EXPECT_EQ(x.GetCode(), HRESULT_FROM_WIN32(ERROR_NOT_OWNER));
  }
  lock.Clear();
  lock.Unlock();  // no mutex: nothing to release
}

TEST(CYCOMLock, IsRecursiveAndExcludesOtherThreads) {
  CYCOMLock lock;
  ASSERT_TRUE(lock.Lock());
  ASSERT_TRUE(lock.Lock());
  std::atomic<bool> entered{false};
  std::thread t([&] {
    CYLockHolder hold(lock);
    entered = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  lock.Unlock();
  EXPECT_FALSE(entered) << "entered while still held once";
  lock.Unlock();
  t.join();
  EXPECT_TRUE(entered);
}

}  // namespace
