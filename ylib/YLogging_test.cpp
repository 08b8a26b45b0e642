#include "ylib/YLogging.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "testing/TempStore.h"
#include "ylib/YErrorFrame.h"
#include "ylib/YUtf8.h"

using namespace vel::testing;

namespace {

struct Record {
  int level;
  std::string text;
  bool force;
};

// A sink that keeps what reaches it; shared state outlives the sink the front end owns.
struct SinkState {
  std::vector<Record> records;
  bool debugging = false;
  int inits = 0;
  CYLogConfig config;
  bool throwOnLog = false;
};

class CaptureSink : public CYLogBase {
 public:
  explicit CaptureSink(SinkState& state) : m_state(state) {}
  void Init() override { ++m_state.inits; }
  void Log(int level, const std::u16string& text, bool force) override {
    if (m_state.throwOnLog) throw CYException(u"sink broke", 7, u"YTest", 1, u"CaptureSink::Log");
    m_state.records.push_back({level, YUtf16ToUtf8(text), force});
  }
  void SetConfig(const CYLogConfig& config) override {
    CYLogBase::SetConfig(config);
    m_state.config = config;
  }
  bool IsDebuggingLevel() const override { return m_state.debugging; }

 private:
  SinkState& m_state;
};

// Counts how often it is formatted.
struct Counter {
  int* formatted;
};
std::u16string YFormatText(const Counter& c) {
  ++*c.formatted;
  return u"counted";
}

// Each test has a store of its own: without a configuration given, the front
// end reads the logging key from the registry.
class CYLoggingTest : public TempStore {
 protected:
  void Install(std::optional<CYLogConfig> config = std::nullopt) {
    CYLogging::Instance().InstallSinks(std::make_unique<CaptureSink>(event), std::make_unique<CaptureSink>(file),
                                       config);
  }
  void TearDown() override {
    CYLogging::Instance().InstallSinks(nullptr, nullptr);
    TempStore::TearDown();
  }

  SinkState event;
  SinkState file;
};

TEST_F(CYLoggingTest, DebugMessagesAreNotFormattedUnlessASinkDebugs) {
  Install();
  int formatted = 0;
  CYLogging::Log(kYLogDebug, u"%s", Counter{&formatted});
  CYLogging::Log(kYLogStackTrace, u"%s", Counter{&formatted});
  EXPECT_EQ(formatted, 0);
  CYLogging::Log(kYLogInfo, u"%s", Counter{&formatted});
  EXPECT_EQ(formatted, 1) << "levels below 4 are always formatted";

  file.debugging = true;
  CYLogging::Log(kYLogDebug, u"%s", Counter{&formatted});
  EXPECT_EQ(formatted, 2);
}

TEST_F(CYLoggingTest, DefaultConfigurationSendsErrorsAndWarningsToTheEventSinkOnly) {
  Install();
  CYLogging::Log(kYLogError, u"e %d", 1);
  CYLogging::Log(kYLogWarning, u"w %s", u"2");
  CYLogging::Log(kYLogInfo, u"i");
  CYLogging::Log(CYLogLevel(kYLogInfo, true), u"forced");
  ASSERT_EQ(event.records.size(), 3u);
  EXPECT_EQ(event.records[0].text, "e 1");
  EXPECT_EQ(event.records[1].text, "w 2");
  EXPECT_EQ(event.records[2].text, "forced");
  EXPECT_TRUE(event.records[2].force);
  EXPECT_TRUE(file.records.empty());
  EXPECT_EQ(event.inits, 1);
  EXPECT_EQ(file.inits, 1);
  EXPECT_EQ(event.config.EventLogLevel, 2);
  EXPECT_EQ(event.config.FileLogLevel, 0);
  EXPECT_EQ(event.config.FileMaxSize, 1048576u);
  EXPECT_EQ(YUtf16ToUtf8(event.config.applicationName), "Zandor software");
}

TEST_F(CYLoggingTest, FileSinkTakesLevelsUpToItsLevelWhenAFileIsSet) {
  CYLogConfig config;
  config.EventLogLevel = 0;
  config.FileLogLevel = 3;
  config.File = u"/tmp/never-written.log";
  Install(config);
  CYLogging::Log(kYLogWarning, u"w");
  CYLogging::Log(kYLogInfo, u"i");
  CYLogging::Log(kYLogDebug, u"d");
  CYLogging::Log(CYLogLevel(kYLogError, true), u"forced");
  ASSERT_EQ(file.records.size(), 3u);
  EXPECT_EQ(file.records[2].text, "forced");
  EXPECT_FALSE(file.records[2].force) << "the file sink never gets the force flag";
  ASSERT_EQ(event.records.size(), 1u);
  EXPECT_EQ(event.records[0].text, "forced");

  config.File.clear();
  Install(config);
  CYLogging::Log(kYLogError, u"nowhere");
  EXPECT_EQ(file.records.size(), 3u);
}

TEST_F(CYLoggingTest, DroppedExceptionsAreLoggedAsTwoWarnings) {
  Install();
  const bool completed = YErrorFrameNoThrow({u"CTest::~CTest", u"YTest", 12}, [](const YFrame& frame) {
    YThrow(u"disk 100% full", 2, frame);
  });
  EXPECT_FALSE(completed);
  ASSERT_EQ(event.records.size(), 2u);
  EXPECT_EQ(event.records[0].level, kYLogWarning);
  EXPECT_EQ(event.records[0].text, "Exception caught in CTest::~CTest (YTest : 12)\n");
  EXPECT_EQ(event.records[1].text, "disk 100% full\n\terrorcode:\t2\n\nStack trace:\n\tYTest(12) : CTest::~CTest"
                                   "\n\tYTest(12) : CTest::~CTest\n\n");
  EXPECT_TRUE(YErrorFrameNoThrow({u"CTest::Fine", u"YTest", 1}, [] {}));
}

TEST_F(CYLoggingTest, SinkFailuresNeverReachTheCaller) {
  Install();
  event.throwOnLog = true;
  testing::internal::CaptureStderr();
  CYLogging::Log(kYLogError, u"lost");
  const std::string debugOutput = testing::internal::GetCapturedStderr();
  EXPECT_NE(debugOutput.find("Error in logging function CYLogging::LogInternal : \nsink broke"), std::string::npos)
      << debugOutput;
  event.throwOnLog = false;
  CYLogging::Log(kYLogError, u"kept");
  ASSERT_EQ(event.records.size(), 1u);
  EXPECT_EQ(event.records[0].text, "kept");
}

TEST(YLogLevelName, Names) {
  EXPECT_EQ(YUtf16ToUtf8(YLogLevelName(0)), "NONE");
  EXPECT_EQ(YUtf16ToUtf8(YLogLevelName(2)), "WARNING");
  EXPECT_EQ(YUtf16ToUtf8(YLogLevelName(5)), "STACKTRACE");
  EXPECT_EQ(YUtf16ToUtf8(YLogLevelName(9)), "UNKNOWN");
}

}  // namespace
