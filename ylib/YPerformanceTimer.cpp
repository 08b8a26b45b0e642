#include "ylib/YPerformanceTimer.h"

#include "platform/win32/winbase.h"
#include "ylib/YErrorFrame.h"
#include "ylib/YFormat.h"
#include "ylib/YLogging.h"

namespace {

constexpr char16_t kSource[] = u"YPerformanceTimer";

}  // namespace

CYPerformanceTimer::CYPerformanceTimer(std::u16string_view name, double thresholdMs, bool logAtLevel3)
    : m_thresholdMs(thresholdMs), m_logAtLevel3(logAtLevel3) {
  YErrorFrame(VEL_FRAME(u"CYPerformanceTimer::CYPerformanceTimer"), [&] {
    m_name = name;
    // Read last, so the name's allocation is not part of what is measured.
    QueryPerformanceCounter(&m_start);
  });
}

CYPerformanceTimer::~CYPerformanceTimer() {
  YErrorFrameNoThrow(VEL_FRAME(u"CYPerformanceTimer::~CYPerformanceTimer"), [&] { Stop(); });
}

double CYPerformanceTimer::Stop() {
  return YErrorFrame(VEL_FRAME(u"CYPerformanceTimer::Stop"), [&] {
    if (m_stopped) return 0.0;
    LONGLONG now = 0;
    LONGLONG frequency = 0;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    m_stopped = true;
    // A counter without frequency cannot measure anything; report no time rather than divide by zero.
    const double ms = frequency > 0 ? static_cast<double>(now - m_start) * 1000.0 / static_cast<double>(frequency) : 0.0;
    if (ms > m_thresholdMs) {
      m_line = YFormat(u"==TIMER==\t%s\t%.8f\tms\n", m_name, ms);
      CYLogging::Log(m_logAtLevel3 ? kYLogInfo : kYLogDebug, u"%s\n", m_line);
    }
    return ms;
  });
}
