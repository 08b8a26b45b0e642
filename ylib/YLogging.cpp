#include "ylib/YLogging.h"

#include <new>

#include "platform/win32/winbase.h"
#include "ylib/YErrorFrame.h"
#include "ylib/YEventLog.h"
#include "ylib/YFileLog.h"

namespace {

constexpr char16_t kSource[] = u"YLogging";

// Set while this thread initialises, so a sink that logs from its Init is not
// sent into a second initialisation.
thread_local bool t_initialising = false;

void DebugOutput(const std::u16string& text) noexcept { OutputDebugStringW(text.c_str()); }

// The two debugger lines for a failure inside the logging functions.
void ReportLoggingFailure(const char16_t* function) noexcept {
  try {
    try {
      throw;
    } catch (const CYException& x) {
      DebugOutput(std::u16string(u"Error in logging function ") + function + u" : \n" + x.GetText(kYTextForLog));
    } catch (...) {
      DebugOutput(std::u16string(u"Access violation in logging function ") + function);
    }
  } catch (...) {
    OutputDebugStringW(u"Access violation in logging function");
  }
}

}  // namespace

const char16_t* YLogLevelName(int level) noexcept {
  static const char16_t* const names[] = {u"NONE", u"ERROR", u"WARNING", u"INFO", u"DEBUG", u"STACKTRACE"};
  return level >= 0 && level <= 5 ? names[level] : u"UNKNOWN";
}

CYLogging& CYLogging::Instance() noexcept {
  // Never destroyed: destructors of other static objects may still log while
  // the process ends, and the sinks hold nothing the system does not reclaim.
  static CYLogging* const instance = new CYLogging();
  return *instance;
}

CYLogging::CYLogging() noexcept {
  // Created here, once, so that two first log requests never race to create
  // the mutex inside Lock.
  try {
    m_eventSink = std::make_unique<CYEventLog>();
    m_fileSink = std::make_unique<CYFileLog>();
    m_initLock.Init(u"", false);
  } catch (...) {
    ReportLoggingFailure(u"CYLogging::CYLogging");
  }
}

void CYLogging::FormatFailed() noexcept {
  try {
    throw;
  } catch (...) {
    ReportLoggingFailure(u"CYLogging::Log");
  }
}

void CYLogging::Init() noexcept {
  if (t_initialising) return;
  t_initialising = true;
  try {
    YErrorFrame(VEL_FRAME(u"CYLogging::Init"), [&] {
      CYLockHolder hold(m_initLock);
      // Unserialised initialisation could hand a sink two configurations at once.
      if (!hold.IsLocked() || m_initialised.load(std::memory_order_acquire)) return;
      CYLogConfig config;
      if (m_configOverride) {
        config = *m_configOverride;
      } else {
        try {
          config.ReadConfig();
        } catch (...) {
          // Unreadable settings leave the defaults; trying again at every
          // message would repeat the failure without end.
          ReportLoggingFailure(u"CYLogging::Init");
          config = CYLogConfig();
        }
      }
      m_config = config;
      if (m_eventSink) m_eventSink->SetConfig(m_config);
      if (m_fileSink) m_fileSink->SetConfig(m_config);
      if (m_eventSink) m_eventSink->Init();
      if (m_fileSink) m_fileSink->Init();
      m_initialised.store(true, std::memory_order_release);
    });
  } catch (...) {
    ReportLoggingFailure(u"CYLogging::Init");
  }
  t_initialising = false;
}

void CYLogging::LogInternal(int level, const std::u16string& text, bool force) noexcept {
  try {
    YErrorFrame(VEL_FRAME(u"CYLogging::LogInternal"), [&] {
      if (!m_initialised.load(std::memory_order_acquire)) Init();
      if (!m_initialised.load(std::memory_order_acquire)) return;
      if ((m_config.EventLogLevel >= level || force) && m_eventSink) m_eventSink->Log(level, text, force);
      if (m_config.FileLogLevel >= level && !m_config.File.empty() && m_fileSink) m_fileSink->Log(level, text, false);
    });
  } catch (...) {
    ReportLoggingFailure(u"CYLogging::LogInternal");
  }
}

bool CYLogging::IsDebuggingLevelInternal() noexcept {
  try {
    return YErrorFrame(VEL_FRAME(u"CYLogging::IsDebuggingLevelInternal"), [&] {
      if (!m_initialised.load(std::memory_order_acquire)) Init();
      return (m_eventSink && m_eventSink->IsDebuggingLevel()) || (m_fileSink && m_fileSink->IsDebuggingLevel());
    });
  } catch (...) {
    ReportLoggingFailure(u"CYLogging::IsDebuggingLevelInternal");
    return false;
  }
}

void CYLogging::InstallSinks(std::unique_ptr<CYLogBase> eventSink, std::unique_ptr<CYLogBase> fileSink,
                             std::optional<CYLogConfig> config) {
  CYLockHolder hold(m_initLock);
  m_eventSink = std::move(eventSink);
  m_fileSink = std::move(fileSink);
  m_configOverride = std::move(config);
  m_initialised.store(false, std::memory_order_release);
}

void YLogDroppedException(const YFrame& frame, const CYException& report) noexcept {
  CYLogging::Log(kYLogWarning, u"Exception caught in %s (%s : %d)\n", frame.function, frame.source, frame.line);
  // The report text doubles every "%", so it serves as the format itself and
  // a "%" inside a message reaches the log as written.
  std::u16string text;
  try {
    text = report.GetText(kYTextForLog) + u"\n";
  } catch (...) {
    return;
  }
  CYLogging::Log(kYLogWarning, text);
}
