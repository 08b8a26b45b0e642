// CYLogging: the logging front end every part of the module writes through.
//
//   CYLogging::Log(kYLogWarning, u"Exception caught in %s (%s : %d)\n", function, source, line);
//   CYLogging::Log(kYLogDebug, u"==TIMER==\t%s\t%.8f\tms\n", name, ms);   // free unless a sink debugs
//
// One process-wide front end holds the configuration and two sinks (event log
// and file). Messages of level 4 and above are not even formatted unless a sink
// is configured for debugging. The configuration is taken at the first log
// request of the process.
//
// Logging never throws to its caller: failures inside it go to the debugger
// output ("Error in logging function ..." / "Access violation in logging function ...").
//
// Thread safety: Log may be called from any thread; initialisation runs once
// under the front end's mutex. InstallSinks is for tests and start-up only and
// must not race with logging.
#pragma once

#include <atomic>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/com/types.h"
#include "ylib/YFormat.h"
#include "ylib/YLock.h"
#include "ylib/YLogConfig.h"

constexpr int kYLogNone = 0;  // configuration value: sink off
constexpr int kYLogError = 1;
constexpr int kYLogWarning = 2;
constexpr int kYLogInfo = 3;
constexpr int kYLogDebug = 4;
constexpr int kYLogStackTrace = 5;

// "NONE", "ERROR", "WARNING", "INFO", "DEBUG", "STACKTRACE"; "UNKNOWN" otherwise.
const char16_t* YLogLevelName(int level) noexcept;

// A log request's level; force makes the event log take it whatever its level.
struct CYLogLevel {
  constexpr CYLogLevel(int l, bool f = false) noexcept : level(l), force(f) {}  // NOLINT: implicit from int
  int level;
  bool force;
};

// A log sink. Sinks are called under no lock of the front end; a sink
// serialises its own output.
class CYLogBase {
 public:
  virtual ~CYLogBase() = default;
  virtual void Init() = 0;
  virtual void Log(int level, const std::u16string& text, bool force) = 0;
  virtual void SetConfig(const CYLogConfig& config) { m_config = config; }
  virtual bool IsDebuggingLevel() const = 0;

 protected:
  CYLogConfig m_config;
};

class CYLogging {
 public:
  // The process-wide front end.
  static CYLogging& Instance() noexcept;

  template <class... Args>
  static void Log(CYLogLevel level, std::u16string_view format, const Args&... args) noexcept;

  // Initialises if needed, then hands text to the sinks the configuration selects.
  void LogInternal(int level, const std::u16string& text, bool force) noexcept;
  // Initialises if needed; true when a sink is configured for debugging.
  bool IsDebuggingLevelInternal() noexcept;
  // Once per process: configuration into the sinks, sinks initialised.
  void Init() noexcept;

  // Replaces the sinks (either may be null) and, when given, the configuration
  // that Init would otherwise read from the registry; the next log request
  // initialises again. For tests and start-up.
  void InstallSinks(std::unique_ptr<CYLogBase> eventSink, std::unique_ptr<CYLogBase> fileSink,
                    std::optional<CYLogConfig> config = std::nullopt);

  const CYLogConfig& GetConfig() const noexcept { return m_config; }

 private:
  CYLogging() noexcept;
  static void FormatFailed() noexcept;

  CYLogConfig m_config;
  std::optional<CYLogConfig> m_configOverride;
  std::unique_ptr<CYLogBase> m_eventSink;
  std::unique_ptr<CYLogBase> m_fileSink;
  std::atomic<bool> m_initialised{false};
  CYMutexLock m_initLock;
};

template <class... Args>
void CYLogging::Log(CYLogLevel level, std::u16string_view format, const Args&... args) noexcept {
  CYLogging& self = Instance();
  if (level.level >= kYLogDebug && !self.IsDebuggingLevelInternal()) return;
  std::u16string text;
  try {
    text = YFormat(format, args...);
  } catch (...) {
    FormatFailed();
    return;
  }
  self.LogInternal(level.level, text, level.force);
}
