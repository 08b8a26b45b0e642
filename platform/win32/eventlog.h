// The event log, written to syslog (facility LOG_USER) with the event source as
// identity. An event's text is its insertion strings, one a line; the message
// file the platform would format them with is not read, since the module's only
// message is "%1" followed by a line end. Types map to priorities: error
// LOG_ERR, warning LOG_WARNING, audit failure LOG_NOTICE, anything else LOG_INFO.
//
// Thread safety: any thread; a source handle may be shared.
#pragma once

#include <string>

#include "platform/com/types.h"

constexpr WORD EVENTLOG_SUCCESS = 0x0000;
constexpr WORD EVENTLOG_ERROR_TYPE = 0x0001;
constexpr WORD EVENTLOG_WARNING_TYPE = 0x0002;
constexpr WORD EVENTLOG_INFORMATION_TYPE = 0x0004;
constexpr WORD EVENTLOG_AUDIT_SUCCESS = 0x0008;
constexpr WORD EVENTLOG_AUDIT_FAILURE = 0x0010;

using PSID = void*;

extern "C" {

// Only the local computer (null or empty server name); a remote one fails
// with ERROR_NOT_SUPPORTED.
HANDLE RegisterEventSourceW(LPCWSTR lpUNCServerName, LPCWSTR lpSourceName);
BOOL ReportEventW(HANDLE hEventLog, WORD wType, WORD wCategory, DWORD dwEventID, PSID lpUserSid, WORD wNumStrings,
                  DWORD dwDataSize, LPCWSTR* lpStrings, LPVOID lpRawData);
BOOL DeregisterEventSource(HANDLE hEventLog);

}  // extern "C"

namespace vel::win32 {
// What ReportEventW hands to syslog, exposed for tests.
int EventSyslogPriority(WORD type);
std::string EventSyslogText(WORD numStrings, const LPCWSTR* strings);
}  // namespace vel::win32
