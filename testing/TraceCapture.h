// Trace lines (level 4, and level 3 apart) that reach the log while a TraceCapture lives: it
// installs a capturing sink in the logging front end and a quiet one when it
// goes.
//
// Thread safety: one at a time per process; lines are appended on the
// logging thread and read by the test after the logging calls returned.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace vel::testing {

class TraceCapture {
 public:
  TraceCapture();
  ~TraceCapture();
  TraceCapture(const TraceCapture&) = delete;
  TraceCapture& operator=(const TraceCapture&) = delete;

  std::vector<std::string> lines;
  // Level 3 (INFO) lines, where libraries' warnings and logged reports go.
  std::vector<std::string> info;
  bool Has(std::string_view line) const;
};

}  // namespace vel::testing
