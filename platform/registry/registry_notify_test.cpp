// RegNotifyChangeKeyValue and several processes sharing the store.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <thread>

#include "testing/ChildProcess.h"
#include "testing/TempStore.h"

using namespace vel::testing;

namespace {

using namespace std::chrono_literals;
using RegistryNotifyTest = TempStore;

// Starts a synchronous wait on another thread.
std::future<LONG> Watch(HKEY key, bool subtree, DWORD filter) {
  auto f = std::async(std::launch::async,
                      [=] { return RegNotifyChangeKeyValue(key, subtree ? TRUE : FALSE, filter, nullptr, FALSE); });
  std::this_thread::sleep_for(50ms);  // let it take its starting point
  return f;
}

constexpr DWORD kAll = REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_ATTRIBUTES | REG_NOTIFY_CHANGE_LAST_SET |
                       REG_NOTIFY_CHANGE_SECURITY;

TEST_F(RegistryNotifyTest, WakesForWatchedChangesOnly) {
  HKEY key = Create(u"Software\\Watched");
  HKEY child = Create(u"Software\\Watched\\Child");
  HKEY writer = Create(u"Software\\Watched");
  struct Case {
    const char* label;
    bool subtree;
    DWORD filter;
    // A change that must not wake the waiter (null: none), then one that must.
    std::function<void()> ignored, wakes;
  } cases[] = {
      {"value on key, LAST_SET", false, REG_NOTIFY_CHANGE_LAST_SET, nullptr,
       [&] { SetDword(writer, u"v", 1); }},
      {"NAME ignores values", false, REG_NOTIFY_CHANGE_NAME, [&] { SetDword(writer, u"v", 2); },
       [&] { RegCloseKey(Create(u"Software\\Watched\\New")); }},
      {"NAME sees deletion", false, REG_NOTIFY_CHANGE_NAME, nullptr,
       [&] { RegDeleteKeyW(writer, u"New"); }},
      {"no subtree ignores child", false, kAll, [&] { SetDword(child, u"c", 1); },
       [&] { RegDeleteValueW(writer, u"v"); }},
      {"subtree sees child", true, REG_NOTIFY_CHANGE_LAST_SET, nullptr, [&] { SetDword(child, u"c", 2); }},
      {"subtree sees grandchild key", true, REG_NOTIFY_CHANGE_NAME, [&] { SetDword(child, u"c", 3); },
       [&] { RegCloseKey(Create(u"Software\\Watched\\Child\\Grand")); }},
      {"other key ignored", true, kAll, [&] { RegCloseKey(Create(u"Software\\Elsewhere")); },
       [&] { SetDword(writer, nullptr, 4); }},
  };
  for (const Case& c : cases) {
    auto wait = Watch(key, c.subtree, c.filter);
    if (c.ignored) {
      c.ignored();
      EXPECT_EQ(wait.wait_for(150ms), std::future_status::timeout) << c.label;
    }
    c.wakes();
    ASSERT_EQ(wait.wait_for(5s), std::future_status::ready) << c.label;
    EXPECT_EQ(wait.get(), ERROR_SUCCESS) << c.label;
  }
  RegCloseKey(writer);
  RegCloseKey(child);
  RegCloseKey(key);
}

// A caller handles one change and then waits again on the same handle: what
// changed in between must not be lost (the factory reloads its configuration
// between two waits).
TEST_F(RegistryNotifyTest, AChangeBetweenTwoWaitsOnOneHandleIsReported) {
  HKEY key = Create(u"Software\\Between");
  HKEY writer = Create(u"Software\\Between");
  auto first = Watch(key, true, kAll);
  SetDword(writer, u"v", 1);
  ASSERT_EQ(first.wait_for(5s), std::future_status::ready);
  EXPECT_EQ(first.get(), ERROR_SUCCESS);

  SetDword(writer, u"v", 2);  // while nobody waits
  auto second = std::async(std::launch::async, [=] { return RegNotifyChangeKeyValue(key, TRUE, kAll, nullptr, FALSE); });
  ASSERT_EQ(second.wait_for(5s), std::future_status::ready) << "the change made between the waits was lost";
  EXPECT_EQ(second.get(), ERROR_SUCCESS);

  // Nothing new since: the next wait sleeps until the next change.
  auto third = Watch(key, true, kAll);
  EXPECT_EQ(third.wait_for(150ms), std::future_status::timeout);
  SetDword(writer, u"v", 3);
  ASSERT_EQ(third.wait_for(5s), std::future_status::ready);
  EXPECT_EQ(third.get(), ERROR_SUCCESS);
  RegCloseKey(writer);
  RegCloseKey(key);
}

// A listener opens its key, then starts the thread that waits: a change made
// in between must be reported by that first wait.
TEST_F(RegistryNotifyTest, AChangeBetweenOpeningAndTheFirstWaitIsReported) {
  HKEY key = Create(u"Software\\Opened");
  HKEY writer = Create(u"Software\\Opened");
  SetDword(writer, u"v", 1);
  auto first = std::async(std::launch::async, [=] { return RegNotifyChangeKeyValue(key, TRUE, kAll, nullptr, FALSE); });
  ASSERT_EQ(first.wait_for(5s), std::future_status::ready) << "the change made after the open was lost";
  EXPECT_EQ(first.get(), ERROR_SUCCESS);
  RegCloseKey(writer);
  RegCloseKey(key);
}

TEST_F(RegistryNotifyTest, ClosingTheHandleOrDeletingTheKeyEndsTheWaitWithAnError) {
  HKEY key = Create(u"Software\\Closing");
  auto wait = Watch(key, true, kAll);
  auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(RegCloseKey(key), ERROR_SUCCESS);
  ASSERT_EQ(wait.wait_for(5s), std::future_status::ready);
  EXPECT_EQ(wait.get(), ERROR_INVALID_HANDLE);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);

  key = Create(u"Software\\Closing");
  wait = Watch(key, false, REG_NOTIFY_CHANGE_LAST_SET);
  ASSERT_EQ(RegDeleteKeyW(HKEY_CURRENT_USER, u"Software\\Closing"), ERROR_SUCCESS);
  ASSERT_EQ(wait.wait_for(5s), std::future_status::ready);
  EXPECT_EQ(wait.get(), ERROR_KEY_DELETED);
  // Waiting on a deleted key fails at once.
  EXPECT_EQ(RegNotifyChangeKeyValue(key, FALSE, kAll, nullptr, FALSE), ERROR_KEY_DELETED);
  RegCloseKey(key);
}

TEST_F(RegistryNotifyTest, UnsupportedRequests) {
  HKEY key = Create(u"Software\\Requests");
  EXPECT_EQ(RegNotifyChangeKeyValue(key, FALSE, kAll, nullptr, TRUE), ERROR_CALL_NOT_IMPLEMENTED);
  EXPECT_EQ(RegNotifyChangeKeyValue(key, FALSE, 0, nullptr, FALSE), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegNotifyChangeKeyValue(key, FALSE, 0x40, nullptr, FALSE), ERROR_INVALID_PARAMETER);
  HKEY noNotify = nullptr;
  ASSERT_EQ(RegOpenKeyExW(key, nullptr, 0, KEY_QUERY_VALUE, &noNotify), ERROR_SUCCESS);
  EXPECT_EQ(RegNotifyChangeKeyValue(noNotify, FALSE, kAll, nullptr, FALSE), ERROR_ACCESS_DENIED);
  RegCloseKey(noNotify);
  RegCloseKey(key);
}

TEST_F(RegistryNotifyTest, AChangeByAnotherProcessWakesTheWaiter) {
  HKEY key = Create(u"Software\\Zandor\\VelPlatform\\ItemPlugins");
  auto wait = Watch(key, true, kAll);
  pid_t pid = SpawnChild("registry_test_helper", {"set", "Software\\Zandor\\VelPlatform\\ItemPlugins\\{AB}", "SupportedMIMEs", "audio/mp4"});
  ASSERT_GT(pid, 0);
  EXPECT_EQ(WaitChild(pid), 0);
  ASSERT_EQ(wait.wait_for(5s), std::future_status::ready);
  EXPECT_EQ(wait.get(), ERROR_SUCCESS);
  EXPECT_EQ(GetString(key, u"x"), u"<error 2>");
  HKEY plugin = nullptr;
  ASSERT_EQ(RegOpenKeyExW(key, u"{ab}", 0, KEY_READ, &plugin), ERROR_SUCCESS);
  EXPECT_EQ(GetString(plugin, u"SupportedMIMEs"), u"audio/mp4");
  RegCloseKey(plugin);
  RegCloseKey(key);
}

TEST_F(RegistryNotifyTest, TwoProcessesWritingAtOnceLoseNothing) {
  // This process opens the store first, so the helpers meet an existing file
  // as well as each other.
  HKEY key = Create(u"Software\\Race");
  pid_t a = SpawnChild("registry_test_helper", {"fill", "Software\\Race", "a", "1000"});
  pid_t b = SpawnChild("registry_test_helper", {"fill", "Software\\Race", "b", "1000"});
  ASSERT_GT(a, 0);
  ASSERT_GT(b, 0);
  EXPECT_EQ(WaitChild(a), 0);
  EXPECT_EQ(WaitChild(b), 0);
  DWORD values = 0;
  ASSERT_EQ(RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, nullptr, nullptr,
                             nullptr, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(values, 2000u);
  for (const char16_t* name : {u"a0", u"a999", u"b0", u"b999"}) {
    EXPECT_EQ(RegQueryValueExW(key, name, nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
  }
  RegCloseKey(key);
}

}  // namespace
