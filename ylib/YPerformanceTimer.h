// CYPerformanceTimer: a scoped stopwatch on the high-resolution performance
// counter. When the measured time is above its threshold it logs one line
//   "==TIMER==\t<name>\t<ms with 8 decimals>\tms\n"
// at level 4 (or level 3 when asked), so timings cost nothing unless a log
// sink is configured to take them.
//
//   {
//     CYPerformanceTimer timer(u"RegisteredExt2MimeType", 5.0, false);
//     ...                                // logged on leaving the block when above 5 ms
//   }
//
// Stop may be called early; a stopped timer's Stop returns 0.0 and logs nothing.
// The timer never fails: logging errors stay inside the logging front end.
//
// Thread safety: a timer belongs to the code block that created it; different
// timers may run on any threads at once.
#pragma once

#include <string>
#include <string_view>

#include "platform/com/types.h"

class CYPerformanceTimer {
 public:
  CYPerformanceTimer(std::u16string_view name, double thresholdMs, bool logAtLevel3);
  ~CYPerformanceTimer();  // Stop
  CYPerformanceTimer(const CYPerformanceTimer&) = delete;
  CYPerformanceTimer& operator=(const CYPerformanceTimer&) = delete;

  // Milliseconds since construction (0.0 when already stopped); logs the
  // timer line when they exceed the threshold.
  double Stop();

  bool IsStopped() const noexcept { return m_stopped; }
  // The line formed by the last Stop that exceeded the threshold, or empty.
  const std::u16string& GetLine() const noexcept { return m_line; }

 private:
  std::u16string m_name;
  double m_thresholdMs;
  bool m_logAtLevel3;
  LONGLONG m_start = 0;
  bool m_stopped = false;
  std::u16string m_line;
};
