#include "platform/win32/winerror.h"

namespace {
thread_local DWORD t_lastError = 0;
}

extern "C" DWORD GetLastError() { return t_lastError; }
extern "C" void SetLastError(DWORD error) { t_lastError = error; }
