// The listener and its worker thread against a registry store of the test's own,
// with changes made by a second process.
#include "ylib/YRegistryListener.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/win32/winbase.h"
#include "testing/ChildProcess.h"
#include "testing/TempStore.h"
#include "ylib/YErrorFrame.h"
#include "ylib/YLogging.h"
#include "ylib/YUtf8.h"

using namespace vel::testing;

namespace {

using namespace std::chrono_literals;

constexpr DWORD kFilter = REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_LAST_SET;

struct Record {
  int level;
  std::string text;
};

// Keeps what the front end hands it; debugs, so level-4 lines arrive too.
class CaptureSink : public CYLogBase {
 public:
  CaptureSink(std::mutex& m, std::vector<Record>& records) : m_mutex(m), m_records(records) {}
  void Init() override {}
  void Log(int level, const std::u16string& text, bool) override {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_records.push_back({level, YUtf16ToUtf8(text)});
  }
  bool IsDebuggingLevel() const override { return true; }

 private:
  std::mutex& m_mutex;
  std::vector<Record>& m_records;
};

// Counts callbacks; can be told to throw from the next one.
class Target : public CYRegistryListenerNotify {
 public:
  void OnRegistryChange(const std::u16string& keyPath) override {
    std::unique_lock<std::mutex> lock(m_mutex);
    paths.push_back(YUtf16ToUtf8(keyPath));
    threads.push_back(GetCurrentThreadId());
    const bool fail = throwNext;
    throwNext = false;
    m_changed.notify_all();
    lock.unlock();
    if (fail) YThrow(u"reload failed at 100%", 61001, {u"CTarget::OnRegistryChange", u"YTest", 7});
  }
  // Waits until at least n callbacks happened.
  bool WaitFor(std::size_t n, std::chrono::milliseconds limit = 5s) {
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_changed.wait_for(lock, limit, [&] { return paths.size() >= n; });
  }
  std::size_t Count() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return paths.size();
  }

  std::vector<std::string> paths;
  std::vector<DWORD> threads;
  bool throwNext = false;

 private:
  std::mutex m_mutex;
  std::condition_variable m_changed;
};

class CYRegistryListenerTest : public TempStore {
 protected:
  void SetUp() override {
    TempStore::SetUp();
    CYLogConfig config;
    config.EventLogLevel = kYLogDebug;
    CYLogging::Instance().InstallSinks(std::make_unique<CaptureSink>(logMutex, log), nullptr, config);
    RegCloseKey(Create(u"Software\\Zandor\\Watched\\Child"));
  }
  void TearDown() override {
    CYLogging::Instance().InstallSinks(nullptr, nullptr);
    TempStore::TearDown();
  }
  // A value written below HKCU by another process.
  static void SetFromOtherProcess(const char* key, const char* name, const char* text) {
    ASSERT_EQ(WaitChild(SpawnChild("registry_test_helper", {"set", key, name, text})), 0);
  }
  std::vector<Record> Log() {
    std::lock_guard<std::mutex> lock(logMutex);
    return log;
  }

  const std::u16string watched = u"HKEY_CURRENT_USER\\Software\\Zandor\\Watched";
  std::mutex logMutex;
  std::vector<Record> log;
};

TEST_F(CYRegistryListenerTest, AChangeByAnotherProcessCallsBackOnceOnTheListenerThread) {
  Target target;
  CYRegistryListener listener;
  listener.StartListening(watched, &target, true, kFilter);
  EXPECT_TRUE(listener.IsListening());
  std::this_thread::sleep_for(100ms);  // let the wait take its starting point

  SetFromOtherProcess("Software\\Zandor\\Watched\\Child", "Value", "1");
  ASSERT_TRUE(target.WaitFor(1));
  std::this_thread::sleep_for(300ms);
  ASSERT_EQ(target.Count(), 1u) << "one change, one callback";
  EXPECT_EQ(target.paths[0], YUtf16ToUtf8(watched));
  EXPECT_NE(target.threads[0], GetCurrentThreadId());
  EXPECT_EQ(target.threads[0], listener.GetThreadId());

  char entered[80];
  std::snprintf(entered, sizeof entered, "0x%04x\t\tCYWorkerThreadHost::WorkerThreadRunner() Entered\n",
                static_cast<unsigned>(listener.GetThreadId()));
  const auto records = Log();
  ASSERT_FALSE(records.empty());
  EXPECT_EQ(records[0].level, kYLogDebug);
  EXPECT_EQ(records[0].text, entered);

  // Without the subtree flag a change of a child key goes unnoticed.
  listener.StartListening(watched, &target, false, kFilter);
  std::this_thread::sleep_for(100ms);
  SetFromOtherProcess("Software\\Zandor\\Watched\\Child", "Value", "2");
  SetFromOtherProcess("Software\\Zandor\\Watched", "Own", "3");
  ASSERT_TRUE(target.WaitFor(2));
  std::this_thread::sleep_for(200ms);
  EXPECT_EQ(target.Count(), 2u);
  listener.StopListening();
  EXPECT_FALSE(listener.IsListening());
  EXPECT_FALSE(listener.IsRunning());
}

TEST_F(CYRegistryListenerTest, StopListeningIsPromptWhileTheThreadWaits) {
  Target target;
  CYRegistryListener listener;
  listener.StartListening(watched, &target, true, kFilter);
  std::this_thread::sleep_for(200ms);
  ASSERT_TRUE(listener.IsRunning());
  const auto start = std::chrono::steady_clock::now();
  listener.StopListening();
  EXPECT_LT(std::chrono::steady_clock::now() - start, 500ms);
  EXPECT_FALSE(listener.IsRunning());
  EXPECT_EQ(target.Count(), 0u);
  EXPECT_FALSE(listener.GetWorkerError().has_value());

  // The destructor stops a waiting listener as promptly.
  const auto again = std::chrono::steady_clock::now();
  {
    CYRegistryListener other;
    other.StartListening(watched, &target, true, kFilter);
    std::this_thread::sleep_for(100ms);
  }
  EXPECT_LT(std::chrono::steady_clock::now() - again, 600ms);
}

TEST_F(CYRegistryListenerTest, AThrowingCallbackIsLoggedAndTheListenerKeepsWatching) {
  Target target;
  target.throwNext = true;
  CYRegistryListener listener;
  listener.StartListening(watched, &target, true, kFilter);
  std::this_thread::sleep_for(100ms);
  SetFromOtherProcess("Software\\Zandor\\Watched", "A", "1");
  ASSERT_TRUE(target.WaitFor(1));
  std::this_thread::sleep_for(200ms);
  SetFromOtherProcess("Software\\Zandor\\Watched", "B", "2");
  ASSERT_TRUE(target.WaitFor(2)) << "the listener stopped after the callback threw";
  EXPECT_TRUE(listener.IsRunning());

  std::vector<std::string> warnings;
  for (const Record& r : Log()) {
    if (r.level == kYLogWarning) warnings.push_back(r.text);
  }
  ASSERT_EQ(warnings.size(), 1u);
  EXPECT_EQ(warnings[0].rfind("reload failed at 100%\n\terrorcode:\t61001\n", 0), 0u) << warnings[0];
  EXPECT_NE(warnings[0].find("CYRegistryListener::WorkerProc"), std::string::npos) << warnings[0];
  EXPECT_FALSE(listener.GetWorkerError().has_value()) << "the callback's report is not the worker's";
}

TEST_F(CYRegistryListenerTest, DeletingTheKeyEndsTheThreadSilently) {
  Target target;
  CYRegistryListener listener;
  listener.StartListening(watched, &target, false, REG_NOTIFY_CHANGE_LAST_SET);
  std::this_thread::sleep_for(100ms);
  HKEY parent = Create(u"Software\\Zandor");
  ASSERT_EQ(RegDeleteTreeW(parent, u"Watched"), ERROR_SUCCESS);
  RegCloseKey(parent);
  const auto start = std::chrono::steady_clock::now();
  while (listener.IsRunning() && std::chrono::steady_clock::now() - start < 5s) std::this_thread::sleep_for(10ms);
  EXPECT_FALSE(listener.IsRunning());
  EXPECT_FALSE(listener.GetWorkerError().has_value());
  for (const Record& r : Log()) EXPECT_NE(r.level, kYLogWarning) << r.text;
  listener.StopListening();

  // Once the key is gone, listening again fails with the report of the open.
  try {
    listener.StartListening(watched, &target, true, kFilter);
    ADD_FAILURE() << "a missing key must raise";
  } catch (const CYException& x) {
    const std::string xml = YUtf16ToUtf8(x.GetXml());
    EXPECT_NE(xml.find("Failed to open registry key."), std::string::npos) << xml;
    EXPECT_NE(xml.find("CYRegistryListener::StartListening"), std::string::npos) << xml;
  }
  EXPECT_FALSE(listener.IsRunning());
}

// A worker whose procedure fails.
class FailingWorker : public CYWorkerThreadHost {
 protected:
  void WorkerProc(void* parameter) override {
    YErrorFrame({u"CFailingWorker::WorkerProc", u"YTest", 3}, [&](const YFrame& frame) {
      YThrow(*static_cast<const char16_t* const*>(parameter), 42, frame);
    });
  }
};

TEST_F(CYRegistryListenerTest, AFailedWorkerProcIsLoggedAndKept) {
  FailingWorker worker;
  const char16_t* message = u"worker broke";
  worker.StartWorkerThread(&message);
  worker.StopWorkerThread();
  EXPECT_FALSE(worker.IsRunning());
  const auto error = worker.GetWorkerError();
  ASSERT_TRUE(error.has_value());
  EXPECT_EQ(error->GetCode(), 42);
  const std::string text = YUtf16ToUtf8(error->GetText(kYTextForLog));
  EXPECT_NE(text.find("CYWorkerThreadHost::WorkerThreadRunner"), std::string::npos) << text;
  bool logged = false;
  for (const Record& r : Log()) logged |= r.level == kYLogWarning && r.text.rfind("worker broke\n", 0) == 0;
  EXPECT_TRUE(logged);

  // Starting again forgets the old error.
  const char16_t* second = u"second";
  worker.StartWorkerThread(&second);
  worker.StopWorkerThread();
  ASSERT_TRUE(worker.GetWorkerError().has_value());
  EXPECT_EQ(YUtf16ToUtf8(worker.GetWorkerError()->GetText(1)).rfind("second\n", 0), 0u);
  worker.Clear();
  EXPECT_FALSE(worker.GetWorkerError().has_value());
}

}  // namespace
