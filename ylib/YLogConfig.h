// CYLogConfig: the logging configuration of one front end, copied into each
// sink. ReadConfig takes it from the user's registry:
//
//   HKEY_CURRENT_USER\Software\Zandor\Logging\<application name>
//     "EventLogLevel" DWORD  (2)        highest level sent to the event log
//     "FileLogLevel"  DWORD  (0)        highest level written to the file (0: none)
//     "File"          string ("")       log file; environment variables expanded
//     "FileMaxSize"   DWORD  (1048576)  size above which the file is rotated
//
// A missing key or value, or a value of another type, leaves the default.
//
// Thread safety: a plain value; ReadConfig touches only this object.
#pragma once

#include <string>

#include "platform/com/types.h"

struct CYLogConfig {
  std::u16string applicationName = u"Zandor software";
  std::u16string subName;
  int EventLogLevel = 2;         // highest level sent to the event log
  int FileLogLevel = 0;          // highest level written to the file (0: none)
  std::u16string File;           // log file path, environment variables expanded
  DWORD FileMaxSize = 1048576;   // size above which the file is rotated

  // Longest "File" text after expansion; a longer one leaves file logging off.
  static constexpr std::size_t kMaxFileChars = 520;

  // Reads the values below the application's logging key (see above).
  void ReadConfig();
};
