// CYFileLog: the log sink that appends lines to a size-limited text file.
//
//   "<local time> [<LEVEL, padded to 10>] TID:<thread id> : <text>\r\n"
//
// Every line end of the text becomes "\r\n". Before a line is appended, a file
// grown beyond FileMaxSize is renamed to its "_old" name in the same folder
// (app.log -> app_old.log, replacing an older one), so the next line starts a
// new file. The file is UTF-8 with a byte order mark.
//
// Thread safety: any thread and any process. Writers of one file serialise on
// a machine-wide mutex named after the file path, held while the size is
// checked, the file rotated and the line appended, so no line is torn or
// interleaved and no rotation is lost.
#pragma once

#include <string>

#include "ylib/YLock.h"
#include "ylib/YLogging.h"

class CYFileLog : public CYLogBase {
 public:
  CYFileLog() = default;

  // Opens the file's named mutex (global, named after the file path).
  void Init() override;
  // Writes when level <= FileLogLevel and a file is configured, or when forced.
  void Log(int level, const std::u16string& text, bool force) override;
  bool IsDebuggingLevel() const override { return m_config.FileLogLevel >= kYLogDebug; }

  // The file's rotated name: the name without its extension + "_old" + the extension.
  static std::u16string OldFileName(const std::u16string& path);

 private:
  CYMutexLock m_lock;
};
