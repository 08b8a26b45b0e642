#include "ylib/YPerformanceTimer.h"

#include <gtest/gtest.h>

#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "ylib/YLogging.h"
#include "platform/text.h"

namespace {

struct Record {
  int level;
  std::string text;
};

// Takes every message the front end hands it; debugs so level 4 is formatted.
class CaptureSink : public CYLogBase {
 public:
  explicit CaptureSink(std::vector<Record>& records) : m_records(records) {}
  void Init() override {}
  void Log(int level, const std::u16string& text, bool) override { m_records.push_back({level, vel::ToUtf8(text)}); }
  bool IsDebuggingLevel() const override { return m_config.EventLogLevel >= kYLogDebug; }

 private:
  std::vector<Record>& m_records;
};

class CYPerformanceTimerTest : public ::testing::Test {
 protected:
  void Install(int eventLevel) {
    CYLogConfig config;
    config.EventLogLevel = eventLevel;
    CYLogging::Instance().InstallSinks(std::make_unique<CaptureSink>(records), nullptr, config);
  }
  void TearDown() override { CYLogging::Instance().InstallSinks(nullptr, nullptr); }

  std::vector<Record> records;
};

TEST_F(CYPerformanceTimerTest, ZeroThresholdLogsOneLineAtLevel4AndASecondStopNothing) {
  Install(kYLogDebug);
  CYPerformanceTimer timer(u"Step one", 0.0, false);
  const double ms = timer.Stop();
  EXPECT_GT(ms, 0.0);
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].level, kYLogDebug);
  // The timer's own line ends in "\n" and is logged through "%s\n".
  EXPECT_TRUE(std::regex_match(records[0].text, std::regex("==TIMER==\tStep one\t[0-9]+\\.[0-9]{8}\tms\n\n")))
      << records[0].text;
  EXPECT_EQ(vel::ToUtf8(timer.GetLine()) + "\n", records[0].text);
  EXPECT_NEAR(std::stod(records[0].text.substr(19)), ms, 1e-7);

  EXPECT_EQ(timer.Stop(), 0.0);
  EXPECT_EQ(records.size(), 1u) << "a stopped timer logs nothing";
}

TEST_F(CYPerformanceTimerTest, LevelChoiceThresholdAndDestructor) {
  Install(kYLogDebug);
  {
    CYPerformanceTimer timer(u"info", 0.0, true);
  }
  ASSERT_EQ(records.size(), 1u) << "the destructor stops the timer";
  EXPECT_EQ(records[0].level, kYLogInfo);
  EXPECT_EQ(records[0].text.rfind("==TIMER==\tinfo\t", 0), 0u) << records[0].text;

  CYPerformanceTimer slowEnough(u"below", 60000.0, false);
  EXPECT_GE(slowEnough.Stop(), 0.0);
  EXPECT_TRUE(slowEnough.GetLine().empty());
  EXPECT_EQ(records.size(), 1u) << "time below the threshold is not logged";

  // At level 3 the line reaches a sink that does not debug; at level 4 it does not.
  Install(kYLogInfo);
  CYPerformanceTimer level3(u"three", 0.0, true);
  CYPerformanceTimer level4(u"four", 0.0, false);
  level3.Stop();
  level4.Stop();
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[1].text.rfind("==TIMER==\tthree\t", 0), 0u) << records[1].text;
}

}  // namespace
