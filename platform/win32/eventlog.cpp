// Event log over syslog.
#include "platform/win32/eventlog.h"

#include <syslog.h>

#include <memory>
#include <mutex>
#include <string>

#include "platform/text.h"
#include "platform/win32/handles.h"
#include "platform/win32/winbase.h"

namespace vel::win32 {
namespace {

class EventSource : public KernelObject {
 public:
  explicit EventSource(std::string ident) : ident(std::move(ident)) {}
  bool Waitable() const override { return false; }
  Claim TryClaim(DWORD) override { return Claim::kNotSignalled; }
  const std::string ident;
};

// syslog keeps one identity per process: each report sets its own under this lock.
std::mutex& SyslogLock() {
  static std::mutex* lock = new std::mutex;
  return *lock;
}

}  // namespace

int EventSyslogPriority(WORD type) {
  switch (type) {
    case EVENTLOG_ERROR_TYPE: return LOG_ERR;
    case EVENTLOG_WARNING_TYPE: return LOG_WARNING;
    case EVENTLOG_AUDIT_FAILURE: return LOG_NOTICE;
    default: return LOG_INFO;
  }
}

std::string EventSyslogText(WORD numStrings, const LPCWSTR* strings) {
  std::string text;
  for (WORD i = 0; strings && i < numStrings; ++i) {
    if (!strings[i]) continue;
    if (!text.empty()) text += '\n';
    text += ToUtf8(strings[i]);
  }
  // Line ends as syslog readers expect them, and no empty last line.
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    out += text[i] == '\r' ? '\n' : text[i];
  }
  while (!out.empty() && out.back() == '\n') out.pop_back();
  return out;
}

}  // namespace vel::win32

using namespace vel::win32;

extern "C" {

HANDLE RegisterEventSourceW(LPCWSTR lpUNCServerName, LPCWSTR lpSourceName) {
  if (lpUNCServerName && *lpUNCServerName) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return nullptr;
  }
  if (!lpSourceName || !*lpSourceName) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  HANDLE h = InsertHandle(std::make_shared<EventSource>(vel::ToUtf8(lpSourceName)));
  if (!h) SetLastError(ERROR_NOT_ENOUGH_MEMORY);
  return h;
}

BOOL ReportEventW(HANDLE hEventLog, WORD wType, WORD, DWORD, PSID, WORD wNumStrings, DWORD, LPCWSTR* lpStrings,
                  LPVOID) {
  auto source = LookupHandleAs<EventSource>(hEventLog);
  if (!source) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (wNumStrings && !lpStrings) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const std::string text = EventSyslogText(wNumStrings, lpStrings);
  std::lock_guard<std::mutex> guard(SyslogLock());
  openlog(source->ident.c_str(), LOG_PID, LOG_USER);
  syslog(EventSyslogPriority(wType), "%s", text.c_str());
  closelog();
  return TRUE;
}

BOOL DeregisterEventSource(HANDLE hEventLog) {
  if (!LookupHandleAs<EventSource>(hEventLog)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return CloseHandle(hEventLog);
}

}  // extern "C"
