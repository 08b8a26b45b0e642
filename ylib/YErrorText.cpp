#include "ylib/YErrorText.h"

#include "platform/com/hresult.h"
#include "platform/win32/winbase.h"
#include "ylib/YErrorFrame.h"
#include "ylib/YFormat.h"

namespace {

bool FromSource(DWORD flags, const void* source, DWORD error, DWORD language, std::u16string& text) {
  char16_t buffer[2048];
  const DWORD n = FormatMessageW(flags | FORMAT_MESSAGE_IGNORE_INSERTS, source, error, language, buffer,
                                 sizeof buffer / sizeof buffer[0], nullptr);
  if (n == 0 || n > sizeof buffer / sizeof buffer[0]) return false;
  text.assign(buffer, n);
  while (!text.empty() && (text.back() == u' ' || text.back() == u'\t' || text.back() == u'\r' ||
                           text.back() == u'\n')) {
    text.pop_back();
  }
  return true;
}

}  // namespace

std::u16string FormatErrorMessage(DWORD error, DWORD language) {
  std::u16string text;
  if (FromSource(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, error, language ? language : LANG_USER_DEFAULT, text)) {
    return text;
  }
  if (FromSource(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, error, LANG_USER_DEFAULT, text)) return text;
  if (HMODULE winhttp = GetModuleHandleW(u"winhttp.dll")) {
    if (FromSource(FORMAT_MESSAGE_FROM_HMODULE, winhttp, error, LANG_USER_DEFAULT, text)) return text;
  }
  return YFormat(u"Unable to format error message from error number %d", error);
}

CYException YReportWin32(DWORD error, const YFrame& frame) {
  return YReport(FormatErrorMessage(error), HRESULT_FROM_WIN32(static_cast<LONG>(error)), frame);
}

void YThrowWin32(DWORD error, const YFrame& frame) { throw YReportWin32(error, frame); }

CYException YReportHr(HRESULT hr, const YFrame& frame) {
  return YReport(FormatErrorMessage(static_cast<DWORD>(hr)), hr, frame);
}

void YThrowHr(HRESULT hr, const YFrame& frame) { throw YReportHr(hr, frame); }
