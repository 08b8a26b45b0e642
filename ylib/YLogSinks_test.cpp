// The logging configuration read from the registry, the file sink with its
// rotation (also with two processes writing one file), and the event sink's
// resources. Each test has its own store, temporary folder and mutex folder.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "testing/ChildProcess.h"
#include "testing/TempStore.h"
#include "ylib/YEventLog.h"
#include "ylib/YFileLog.h"
#include "ylib/YLogConfig.h"
#include "ylib/YLogging.h"
#include "ylib/YRegistry.h"
#include "ylib/YUtf8.h"

using namespace vel::testing;

namespace {

namespace fs = std::filesystem;

constexpr char16_t kLoggingKey[] = u"HKEY_CURRENT_USER\\Software\\Zandor\\Logging\\Zandor software";

struct Record {
  int level;
  std::string text;
};

class CaptureSink : public CYLogBase {
 public:
  explicit CaptureSink(std::vector<Record>& records) : m_records(records) {}
  void Init() override {}
  void Log(int level, const std::u16string& text, bool) override { m_records.push_back({level, YUtf16ToUtf8(text)}); }
  bool IsDebuggingLevel() const override { return m_config.EventLogLevel >= kYLogDebug; }

 private:
  std::vector<Record>& m_records;
};

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// The lines of a log file (byte order mark dropped), each with its "\r" but without "\n".
std::vector<std::string> Lines(const fs::path& path, std::string* rest = nullptr) {
  std::string text = ReadAll(path);
  if (text.rfind("\xEF\xBB\xBF", 0) == 0) text.erase(0, 3);
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t nl; (nl = text.find('\n', start)) != std::string::npos; start = nl + 1) {
    lines.push_back(text.substr(start, nl - start));
  }
  if (rest) *rest = text.substr(start);
  return lines;
}

class LogSinksTest : public TempStore {
 protected:
  void SetUp() override {
    TempStore::SetUp();
    tmp_ = fs::path(dir_) / "tmp";
    fs::create_directories(tmp_);
    const char* oldTmp = std::getenv("TMPDIR");
    if (oldTmp) savedTmp_ = oldTmp;
    hadTmp_ = oldTmp != nullptr;
    setenv("TMPDIR", tmp_.c_str(), 1);
    setenv("VEL_MUTEX_DIR", (fs::path(dir_) / "locks").c_str(), 1);
    setenv("VELLOGTEST_DIR", dir_.c_str(), 1);
  }
  void TearDown() override {
    CYLogging::Instance().InstallSinks(nullptr, nullptr);
    if (hadTmp_) {
      setenv("TMPDIR", savedTmp_.c_str(), 1);
    } else {
      unsetenv("TMPDIR");
    }
    unsetenv("VEL_MUTEX_DIR");
    unsetenv("VELLOGTEST_DIR");
    TempStore::TearDown();
  }

  fs::path tmp_;
  std::string savedTmp_;
  bool hadTmp_ = false;
};

TEST_F(LogSinksTest, ReadConfigTakesTheLoggingKeyWithDefaults) {
  const std::u16string longName(600, u'x');
  struct Case {
    const char* label;
    std::function<void()> setUp;
    int eventLevel, fileLevel;
    std::string file;
    DWORD maxSize;
  } cases[] = {
      {"no key", [] {}, 2, 0, "", 1048576},
      {"all values", [] {
         CYRegistry::SetValue(kLoggingKey, u"EventLogLevel", DWORD{1});
         CYRegistry::SetValue(kLoggingKey, u"FileLogLevel", DWORD{4});
         CYRegistry::SetValue(kLoggingKey, u"File", u"%VELLOGTEST_DIR%/logs/app.log");
         CYRegistry::SetValue(kLoggingKey, u"FileMaxSize", DWORD{4096});
       }, 1, 4, "<dir>/logs/app.log", 4096},
      {"values of other types keep the defaults", [&] {
         HKEY key = Create(u"Software\\Zandor\\Logging\\Zandor software");
         RegDeleteValueW(key, u"EventLogLevel");
         RegDeleteValueW(key, u"FileMaxSize");
         SetString(key, u"EventLogLevel", u"5");
         SetDword(key, u"File", 7);
         RegCloseKey(key);
       }, 2, 4, "", 1048576},
      {"a path longer than 520 characters leaves file logging off", [&] {
         CYRegistry::SetValue(kLoggingKey, u"File", (u"/tmp/" + longName).c_str());
       }, 2, 4, "", 1048576},
  };
  for (const Case& c : cases) {
    c.setUp();
    CYLogConfig config;
    config.ReadConfig();
    EXPECT_EQ(config.EventLogLevel, c.eventLevel) << c.label;
    EXPECT_EQ(config.FileLogLevel, c.fileLevel) << c.label;
    EXPECT_EQ(YUtf16ToUtf8(config.File), std::regex_replace(c.file, std::regex("<dir>"), dir_)) << c.label;
    EXPECT_EQ(config.FileMaxSize, c.maxSize) << c.label;
  }
}

TEST_F(LogSinksTest, WithoutALoggingKeyWarningsGoToTheEventSinkOnlyAndInfoNowhere) {
  std::vector<Record> event, file;
  CYLogging::Instance().InstallSinks(std::make_unique<CaptureSink>(event), std::make_unique<CaptureSink>(file));
  CYLogging::Log(kYLogWarning, u"warned");
  CYLogging::Log(kYLogInfo, u"informed");
  ASSERT_EQ(event.size(), 1u);
  EXPECT_EQ(event[0].text, "warned");
  EXPECT_TRUE(file.empty());
  EXPECT_EQ(CYLogging::Instance().GetConfig().FileLogLevel, 0);
}

TEST_F(LogSinksTest, FileLinesAndRotationToTheOldFile) {
  const fs::path log = fs::path(dir_) / "logs" / "app.log";
  const fs::path old = fs::path(dir_) / "logs" / "app_old.log";
  CYRegistry::SetValue(kLoggingKey, u"EventLogLevel", DWORD{0});
  CYRegistry::SetValue(kLoggingKey, u"FileLogLevel", DWORD{4});
  CYRegistry::SetValue(kLoggingKey, u"File", u"%VELLOGTEST_DIR%\\logs\\app.log");
  CYRegistry::SetValue(kLoggingKey, u"FileMaxSize", DWORD{300});
  std::vector<Record> event;
  CYLogging::Instance().InstallSinks(std::make_unique<CaptureSink>(event), std::make_unique<CYFileLog>());

  CYLogging::Log(kYLogWarning, u"first\nsecond\r\nthird");
  CYLogging::Log(kYLogDebug, u"debug %d%%", 4);
  CYLogging::Log(kYLogStackTrace, u"too detailed");
  std::string rest;
  std::vector<std::string> lines = Lines(log, &rest);
  EXPECT_EQ(ReadAll(log).rfind("\xEF\xBB\xBF", 0), 0u) << "UTF-8 with a byte order mark";
  EXPECT_EQ(rest, "") << "the file ends with a whole line";
  ASSERT_EQ(lines.size(), 4u);
  const std::string tid = "TID:" + std::to_string(GetCurrentThreadId()) + " : ";
  EXPECT_TRUE(std::regex_match(lines[0], std::regex(".+ \\[WARNING   \\] " + tid + "first\r"))) << lines[0];
  EXPECT_EQ(lines[1], "second\r");
  EXPECT_EQ(lines[2], "third\r");
  EXPECT_TRUE(std::regex_match(lines[3], std::regex(".+ \\[DEBUG     \\] " + tid + "debug 4%\r"))) << lines[3];
  EXPECT_FALSE(fs::exists(old));

  // Grow the file beyond 300 bytes: the next line first moves it to the old name.
  while (fs::file_size(log) <= 300) CYLogging::Log(kYLogInfo, u"filler");
  const std::string full = ReadAll(log);
  CYLogging::Log(kYLogError, u"after rotation");
  EXPECT_EQ(ReadAll(old), full);
  lines = Lines(log);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_TRUE(std::regex_match(lines[0], std::regex(".+ \\[ERROR     \\] " + tid + "after rotation\r"))) << lines[0];

  // A second rotation replaces the older file.
  while (fs::file_size(log) <= 300) CYLogging::Log(kYLogInfo, u"more");
  const std::string second = ReadAll(log);
  CYLogging::Log(kYLogInfo, u"third file");
  EXPECT_EQ(ReadAll(old), second);
  EXPECT_TRUE(event.empty());
}

TEST_F(LogSinksTest, OldFileNames) {
  const std::pair<const char16_t*, const char*> cases[] = {
      {u"C:\\Logs\\app.log", "C:\\Logs\\app_old.log"},
      {u"/var/log/app.txt", "/var/log/app_old.txt"},
      {u"/var/log/app", "/var/log/app_old"},
      {u"/var/log.d/app", "/var/log.d/app_old"},
      {u"/var/log/app.tar.gz", "/var/log/app.tar_old.gz"},
  };
  for (const auto& [path, expected] : cases) EXPECT_EQ(YUtf16ToUtf8(CYFileLog::OldFileName(path)), expected) << expected;
}

TEST_F(LogSinksTest, TwoProcessesShareOneFileWithoutTornLinesAndRotateOnce) {
  constexpr int kLines = 500;
  const fs::path log = fs::path(dir_) / "shared.log";
  const fs::path old = fs::path(dir_) / "shared_old.log";

  // The size of one line decides the size limit: the 1000 lines fill about
  // 1.6 limits, so the file rotates exactly once.
  {
    CYLogConfig probe;
    probe.FileLogLevel = kYLogInfo;
    probe.File = YUtf8ToUtf16((fs::path(dir_) / "probe.log").string());
    CYFileLog sink;
    sink.SetConfig(probe);
    sink.Init();
    sink.Log(kYLogInfo, u"B line 250", false);
  }
  const std::size_t lineSize = Lines(fs::path(dir_) / "probe.log").at(0).size() + 1;
  const DWORD limit = static_cast<DWORD>(lineSize * 2 * kLines * 10 / 16);

  CYRegistry::SetValue(kLoggingKey, u"EventLogLevel", DWORD{0});
  CYRegistry::SetValue(kLoggingKey, u"FileLogLevel", DWORD{3});
  CYRegistry::SetValue(kLoggingKey, u"File", YUtf8ToUtf16(log.string()).c_str());
  CYRegistry::SetValue(kLoggingKey, u"FileMaxSize", limit);

  const pid_t a = SpawnChild("ylib_log_child", {"A", std::to_string(kLines)});
  const pid_t b = SpawnChild("ylib_log_child", {"B", std::to_string(kLines)});
  ASSERT_EQ(WaitChild(a), 0);
  ASSERT_EQ(WaitChild(b), 0);

  ASSERT_TRUE(fs::exists(old)) << "the file did not rotate";
  std::map<std::string, int> seen;
  const std::regex shape("[^\\[\r\n]+ \\[INFO      \\] TID:[0-9]+ : ([AB] line [0-9]+)\r");
  for (const fs::path& p : {old, log}) {
    std::string rest;
    for (const std::string& line : Lines(p, &rest)) {
      std::smatch m;
      ASSERT_TRUE(std::regex_match(line, m, shape)) << p << ": torn or interleaved line: " << line;
      ++seen[m[1]];
    }
    EXPECT_EQ(rest, "") << p;
  }
  EXPECT_EQ(seen.size(), 2u * kLines);
  for (const char* tag : {"A", "B"}) {
    for (int i = 0; i < kLines; ++i) {
      const std::string text = std::string(tag) + " line " + std::to_string(i);
      EXPECT_EQ(seen[text], 1) << text;
    }
  }
  // Rotated once: the current file holds the rest, which is below the limit.
  EXPECT_LE(fs::file_size(log), limit);
  EXPECT_GT(fs::file_size(old), limit);
}

// Reads a little-endian field of the image.
std::uint32_t U32(const std::vector<std::uint8_t>& b, std::size_t at) {
  if (at + 4 > b.size()) throw std::out_of_range("U32");
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}
std::uint16_t U16(const std::vector<std::uint8_t>& b, std::size_t at) {
  if (at + 2 > b.size()) throw std::out_of_range("U16");
  return static_cast<std::uint16_t>(b[at] | b[at + 1] << 8);
}

// The first entry of a resource directory with the given id: its offset field.
std::uint32_t ResourceEntry(const std::vector<std::uint8_t>& b, std::size_t section, std::uint32_t dir,
                            std::uint32_t id) {
  const std::uint32_t count = U16(b, section + dir + 12) + U16(b, section + dir + 14);
  for (std::uint32_t i = 0; i < count; ++i) {
    const std::size_t entry = section + dir + 16 + 8 * i;
    if (U32(b, entry) == id) return U32(b, entry + 4);
  }
  throw std::runtime_error("resource id " + std::to_string(id) + " missing");
}

TEST_F(LogSinksTest, EventResourcesRegisterTheSourceAndAResourceOnlyMessageDll) {
  CYEventLog sink;
  CYLogConfig config;
  sink.SetConfig(config);
  sink.InitEventResources();
  const std::u16string key =
      u"HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\EventLog\\Application\\Zandor software";
  const fs::path dll = tmp_ / "YEventMessages.dll";
  // The platform's own path text: separators may be backslashes.
  std::string registered = YUtf16ToUtf8(CYRegistry::GetStringValue(key, u"EventMessageFile", nullptr));
  std::replace(registered.begin(), registered.end(), '\\', '/');
  EXPECT_EQ(registered, dll.string());
  EXPECT_EQ(CYRegistry::GetDWORDValue(key, u"TypesSupported", 0, true), 7u);
  ASSERT_TRUE(fs::exists(dll));

  const std::string bytes = ReadAll(dll);
  const std::vector<std::uint8_t> b(bytes.begin(), bytes.end());
  ASSERT_EQ(b.size(), 1536u);
  ASSERT_EQ(bytes.substr(0, 2), "MZ");
  const std::uint32_t pe = U32(b, 0x3C);
  ASSERT_EQ(bytes.substr(pe, 4), std::string("PE\0\0", 4));
  EXPECT_EQ(U16(b, pe + 4), 0x014C);
  EXPECT_NE(U16(b, pe + 4 + 18) & 0x2000, 0) << "a DLL";
  const std::size_t optional = pe + 24;
  EXPECT_EQ(U16(b, optional), 0x010B);
  EXPECT_EQ(U32(b, optional + 16), 0u) << "no entry point";
  const std::uint32_t resourceRva = U32(b, optional + 96 + 16);
  const std::uint32_t sizeOfHeaders = U32(b, optional + 60);
  ASSERT_EQ(U16(b, pe + 6), 1) << "one section";
  const std::size_t sectionHeader = optional + U16(b, pe + 20);
  EXPECT_EQ(bytes.substr(sectionHeader, 6), std::string(".rsrc\0", 6));
  const std::uint32_t sectionRva = U32(b, sectionHeader + 12);
  const std::uint32_t sectionRaw = U32(b, sectionHeader + 20);
  ASSERT_EQ(resourceRva, sectionRva);
  ASSERT_GE(sectionRaw, sizeOfHeaders);
  ASSERT_LE(sectionRaw + U32(b, sectionHeader + 16), b.size());

  // Message table -> id 1 -> language 1033 -> data entry.
  const std::uint32_t names = ResourceEntry(b, sectionRaw, 0, 11);
  ASSERT_NE(names & 0x80000000u, 0u);
  const std::uint32_t languages = ResourceEntry(b, sectionRaw, names & 0x7FFFFFFFu, 1);
  ASSERT_NE(languages & 0x80000000u, 0u);
  const std::uint32_t dataEntry = ResourceEntry(b, sectionRaw, languages & 0x7FFFFFFFu, 1033);
  ASSERT_EQ(dataEntry & 0x80000000u, 0u);
  const std::size_t table = U32(b, sectionRaw + dataEntry) - sectionRva + sectionRaw;
  const std::uint32_t tableSize = U32(b, sectionRaw + dataEntry + 4);
  ASSERT_LE(table + tableSize, b.size());
  ASSERT_EQ(U32(b, table), 1u) << "one block";
  EXPECT_EQ(U32(b, table + 4), 1u);
  EXPECT_EQ(U32(b, table + 8), 1u);
  const std::size_t entry = table + U32(b, table + 12);
  const std::uint16_t length = U16(b, entry);
  EXPECT_EQ(length % 4, 0);
  EXPECT_EQ(U16(b, entry + 2), 1) << "Unicode";
  std::u16string text;
  for (std::size_t at = entry + 4; at < entry + length && U16(b, at) != 0; at += 2) text.push_back(U16(b, at));
  EXPECT_EQ(text, u"%1\r\n");

  // An existing file is left alone.
  std::ofstream(dll, std::ios::binary | std::ios::trunc) << "kept";
  sink.InitEventResources();
  EXPECT_EQ(ReadAll(dll), "kept");
  for (const auto& e : fs::directory_iterator(tmp_)) EXPECT_EQ(e.path().filename(), "YEventMessages.dll");
}

TEST_F(LogSinksTest, EventSinkFailuresOnlyReachTheDebuggerOutput) {
  // A temporary "folder" that is a file: the message file cannot be made.
  const fs::path notAFolder = fs::path(dir_) / "plain-file";
  std::ofstream(notAFolder) << "x";
  setenv("TMPDIR", notAFolder.c_str(), 1);
  CYEventLog sink;
  CYLogConfig config;
  sink.SetConfig(config);
  testing::internal::CaptureStderr();
  sink.Init();
  sink.Log(kYLogWarning, u"reaches syslog", false);
  sink.Log(kYLogInfo, u"above the level", false);
  std::string output = testing::internal::GetCapturedStderr();
  EXPECT_NE(output.find("CYEventLog: Failed to create event source file and registry resources"), std::string::npos)
      << output;
  EXPECT_EQ(output.find("ReportEvent failed"), std::string::npos) << output;

  // Forced without a registered source: the failed report is named.
  CYEventLog unregistered;
  unregistered.SetConfig(config);
  testing::internal::CaptureStderr();
  unregistered.Log(kYLogInfo, u"forced", true);
  output = testing::internal::GetCapturedStderr();
  EXPECT_NE(output.find("ReportEvent failed, error: 6"), std::string::npos) << output;
}

}  // namespace
