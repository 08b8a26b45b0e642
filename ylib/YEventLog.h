// CYEventLog: the log sink that writes to the system event log under the
// application's name as event source.
//
// Each message becomes one event (identifier 1, category 0) whose single
// insertion string is "<application> <sub-name> (YLib <version>)\n\n<text>";
// level 1 is an error event, level 2 a warning, any other level information.
// InitEventResources registers the source below
//   HKEY_LOCAL_MACHINE\System\CurrentControlSet\Services\EventLog\Application\<source>
// ("EventMessageFile", "TypesSupported" = 7) and creates its message file
// "YEventMessages.dll" in the user's temporary folder: a resource-only DLL
// whose message table (language 1033) holds message 1, "%1\r\n". Failing that
// (writing below HKEY_LOCAL_MACHINE may need rights) costs one debugger line.
//
// Thread safety: Log may be called from any thread; Init and SetConfig must
// not race with it (the front end calls them once, under its own mutex).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/com/types.h"
#include "ylib/YLogging.h"

// The library version text inside event log messages.
constexpr char16_t kYLibVersion[] = u"1.0";
constexpr char16_t kYEventMessageFile[] = u"YEventMessages.dll";

class CYEventLog : public CYLogBase {
 public:
  CYEventLog() = default;
  ~CYEventLog() override;  // deregisters the source
  CYEventLog(const CYEventLog&) = delete;
  CYEventLog& operator=(const CYEventLog&) = delete;

  // Closes a previous source, writes the event resources, registers the source.
  void Init() override;
  // Reports when level <= EventLogLevel and the source is registered, or when forced.
  void Log(int level, const std::u16string& text, bool force) override;
  bool IsDebuggingLevel() const override { return m_config.EventLogLevel >= kYLogDebug; }

  // Registry values and message file for the source; failures only reach the debugger output.
  void InitEventResources() noexcept;

  // The message file's bytes: a 1536-byte resource-only DLL.
  static std::vector<std::uint8_t> MessageFileContent();

 private:
  void Close() noexcept;

  HANDLE m_hEventSource = nullptr;
};
