// The Win32 subset the module calls: kernel objects (mutexes, events,
// threads), critical sections, code pages, time and zones, environment,
// locale, error texts and debugger output.
//
// Handles from these functions may be used from any thread and are closed
// with CloseHandle. Named mutexes whose name begins with "Global\" are shared
// by every process of the machine (any user); "Local\NAME" and a plain NAME are
// one mutex, shared by the processes of the same user. Named events are known
// inside this process only.
#pragma once

#include "platform/com/types.h"
#include "platform/win32/winerror.h"

struct SECURITY_ATTRIBUTES;
#define INVALID_HANDLE_VALUE (reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-1)))

constexpr DWORD WAIT_OBJECT_0 = 0x00000000;
constexpr DWORD WAIT_ABANDONED = 0x00000080;
constexpr DWORD WAIT_FAILED = 0xFFFFFFFF;
// WAIT_TIMEOUT (258) is in winerror.h.

constexpr int THREAD_PRIORITY_NORMAL = 0;

// void(*)() rather than the platform's INT_PTR(*)(): the compiler lets that one
// type be cast to any function type without a warning.
using FARPROC = void (*)();

constexpr DWORD GET_MODULE_HANDLE_EX_FLAG_PIN = 0x1;
constexpr DWORD GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT = 0x2;
constexpr DWORD GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS = 0x4;

// Code pages.
constexpr UINT CP_ACP = 0;
constexpr UINT CP_OEMCP = 1;
constexpr UINT CP_UTF7 = 65000;
constexpr UINT CP_UTF8 = 65001;
constexpr DWORD MB_PRECOMPOSED = 0x1;
constexpr DWORD MB_ERR_INVALID_CHARS = 0x8;
constexpr DWORD WC_COMPOSITECHECK = 0x200;
constexpr DWORD WC_DISCARDNS = 0x10;
constexpr DWORD WC_SEPCHARS = 0x20;
constexpr DWORD WC_DEFAULTCHAR = 0x40;
constexpr DWORD WC_ERR_INVALID_CHARS = 0x80;
constexpr DWORD WC_NO_BEST_FIT_CHARS = 0x400;

// FormatMessage flags.
constexpr DWORD FORMAT_MESSAGE_ALLOCATE_BUFFER = 0x100;
constexpr DWORD FORMAT_MESSAGE_IGNORE_INSERTS = 0x200;
constexpr DWORD FORMAT_MESSAGE_FROM_STRING = 0x400;
constexpr DWORD FORMAT_MESSAGE_FROM_HMODULE = 0x800;
constexpr DWORD FORMAT_MESSAGE_FROM_SYSTEM = 0x1000;

struct CRITICAL_SECTION {
  void* impl;  // owned by the platform
};
using LPCRITICAL_SECTION = CRITICAL_SECTION*;

struct TIME_ZONE_INFORMATION;

using HLOCAL = void*;
constexpr UINT LMEM_FIXED = 0x0000;
constexpr UINT LMEM_ZEROINIT = 0x0040;
using LPTHREAD_START_ROUTINE = DWORD (*)(LPVOID);

extern "C" {

BOOL CloseHandle(HANDLE hObject);
DWORD WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds);
DWORD WaitForMultipleObjects(DWORD nCount, const HANDLE* lpHandles, BOOL bWaitAll, DWORD dwMilliseconds);

HANDLE CreateMutexW(SECURITY_ATTRIBUTES* lpMutexAttributes, BOOL bInitialOwner, LPCWSTR lpName);
BOOL ReleaseMutex(HANDLE hMutex);
HANDLE CreateEventW(SECURITY_ATTRIBUTES* lpEventAttributes, BOOL bManualReset, BOOL bInitialState, LPCWSTR lpName);
BOOL SetEvent(HANDLE hEvent);
BOOL ResetEvent(HANDLE hEvent);

void InitializeCriticalSection(LPCRITICAL_SECTION lpCriticalSection);
BOOL InitializeCriticalSectionAndSpinCount(LPCRITICAL_SECTION lpCriticalSection, DWORD dwSpinCount);
void EnterCriticalSection(LPCRITICAL_SECTION lpCriticalSection);
BOOL TryEnterCriticalSection(LPCRITICAL_SECTION lpCriticalSection);
void LeaveCriticalSection(LPCRITICAL_SECTION lpCriticalSection);
void DeleteCriticalSection(LPCRITICAL_SECTION lpCriticalSection);

HANDLE CreateThread(SECURITY_ATTRIBUTES* lpThreadAttributes, SIZE_T dwStackSize, LPTHREAD_START_ROUTINE lpStartAddress,
                    LPVOID lpParameter, DWORD dwCreationFlags, LPDWORD lpThreadId);
BOOL SetThreadPriority(HANDLE hThread, int nPriority);
DWORD GetCurrentThreadId();
DWORD GetCurrentProcessId();
void Sleep(DWORD dwMilliseconds);

BOOL QueryPerformanceCounter(LONGLONG* lpPerformanceCount);
BOOL QueryPerformanceFrequency(LONGLONG* lpFrequency);

int MultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCSTR lpMultiByteStr, int cbMultiByte, LPWSTR lpWideCharStr,
                        int cchWideChar);
int WideCharToMultiByte(UINT CodePage, DWORD dwFlags, LPCWSTR lpWideCharStr, int cchWideChar, LPSTR lpMultiByteStr,
                        int cbMultiByte, LPCSTR lpDefaultChar, BOOL* lpUsedDefaultChar);
UINT GetACP();

void GetLocalTime(SYSTEMTIME* lpSystemTime);
void GetSystemTime(SYSTEMTIME* lpSystemTime);
void GetSystemTimeAsFileTime(FILETIME* lpSystemTimeAsFileTime);
BOOL SystemTimeToFileTime(const SYSTEMTIME* lpSystemTime, FILETIME* lpFileTime);
BOOL FileTimeToSystemTime(const FILETIME* lpFileTime, SYSTEMTIME* lpSystemTime);
BOOL FileTimeToLocalFileTime(const FILETIME* lpFileTime, FILETIME* lpLocalFileTime);
// lpTimeZone must be null: the C library's rules for TZ are used, for the given date.
BOOL SystemTimeToTzSpecificLocalTime(const TIME_ZONE_INFORMATION* lpTimeZone, const SYSTEMTIME* lpUniversalTime,
                                     SYSTEMTIME* lpLocalTime);
BOOL TzSpecificLocalTimeToSystemTime(const TIME_ZONE_INFORMATION* lpTimeZone, const SYSTEMTIME* lpLocalTime,
                                     SYSTEMTIME* lpUniversalTime);

DWORD ExpandEnvironmentStringsW(LPCWSTR lpSrc, LPWSTR lpDst, DWORD nSize);
DWORD GetEnvironmentVariableW(LPCWSTR lpName, LPWSTR lpBuffer, DWORD nSize);

LANGID GetUserDefaultLangID();
LCID GetUserDefaultLCID();
LCID GetSystemDefaultLCID();
LCID GetThreadLocale();
BOOL SetThreadLocale(LCID Locale);

// Locale information. Only the language's ISO 639 name is known here.
using LCTYPE = DWORD;
constexpr LCTYPE LOCALE_SISO639LANGNAME = 0x00000059;  // LOCALE_NOUSEROVERRIDE (oleauto.h) may be or-ed in
// lpLCData receives the text with its terminator; cchData 0 asks for the
// number of characters needed (terminator included). A too small buffer is
// ERROR_INSUFFICIENT_BUFFER, another LCType ERROR_INVALID_FLAGS, an LCID
// without a known language ERROR_INVALID_PARAMETER; each answers 0.
// LOCALE_SYSTEM_DEFAULT and LOCALE_USER_DEFAULT both name the language of the
// process's environment (LC_ALL, LC_MESSAGES, LANG, as GetUserDefaultLCID
// reads them; "en" when none names one): a Linux process learns the machine's
// language from the environment its session was given, and any language the
// name spells ("es_ES", "pt_BR.UTF-8") is answered, not only the languages
// whose formats this platform knows. GetSystemDefaultLCID stays en-US: it
// chooses number and date formats, which must not vary between machines.
int GetLocaleInfoW(LCID Locale, LCTYPE LCType, LPWSTR lpLCData, int cchData);

// FORMAT_MESSAGE_FROM_SYSTEM knows the platform's texts for the Win32 errors
// and HRESULTs the module reports; other numbers fail with
// ERROR_MR_MID_NOT_FOUND (317).
DWORD FormatMessageW(DWORD dwFlags, LPCVOID lpSource, DWORD dwMessageId, DWORD dwLanguageId, LPWSTR lpBuffer,
                     DWORD nSize, void* Arguments);
HMODULE GetModuleHandleW(LPCWSTR lpModuleName);
// GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS finds the module holding an address
// (a function of the caller's own shared object, for its own path). Without
// UNCHANGED_REFCOUNT the module gains a reference, as on the platform.
BOOL GetModuleHandleExW(DWORD dwFlags, LPCWSTR lpModuleName, HMODULE* phModule);
// The module's full path; null is the process's executable. A buffer too
// small receives the truncated path and ERROR_INSUFFICIENT_BUFFER.
DWORD GetModuleFileNameW(HMODULE hModule, LPWSTR lpFilename, DWORD nSize);
// Loads a shared object (path text with "/" or "\\"); its symbols stay local
// to it. GetProcAddress finds an exported function; FreeLibrary drops the
// reference LoadLibraryW took.
HMODULE LoadLibraryW(LPCWSTR lpLibFileName);
FARPROC GetProcAddress(HMODULE hModule, LPCSTR lpProcName);
BOOL FreeLibrary(HMODULE hLibModule);
HLOCAL LocalAlloc(UINT uFlags, SIZE_T uBytes);
HLOCAL LocalFree(HLOCAL hMem);

// Goes to standard error when VEL_DEBUG_OUTPUT=1, otherwise nowhere.
void OutputDebugStringW(LPCWSTR lpOutputString);
void OutputDebugStringA(LPCSTR lpOutputString);

}  // extern "C"
