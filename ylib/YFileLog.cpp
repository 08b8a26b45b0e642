#include "ylib/YFileLog.h"

#include "platform/com/oleauto.h"
#include "platform/win32/winbase.h"
#include "ylib/YErrorFrame.h"
#include "ylib/YFileUtilities.h"
#include "ylib/YFormat.h"
#include "ylib/YString.h"
#include "ylib/YTime.h"

namespace {

constexpr char16_t kSource[] = u"YFileLog";

// The current local time as the user's locale writes a date and time.
std::u16string LocalTimeText() {
  BSTR text = nullptr;
  if (FAILED(VarBstrFromDate(CYTime::GetLocalTimeAsOleDate(), LOCALE_USER_DEFAULT, 0, &text))) return u"";
  std::u16string result(text ? text : u"", SysStringLen(text));
  SysFreeString(text);
  return result;
}

}  // namespace

void CYFileLog::Init() {
  YErrorFrame(VEL_FRAME(u"CYFileLog::Init"), [&] { m_lock.Init(m_config.File, true); });
}

std::u16string CYFileLog::OldFileName(const std::u16string& path) {
  return YErrorFrame(VEL_FRAME(u"CYFileLog::OldFileName"), [&] {
    const std::u16string extension = CYFileUtilities::GetFileExtension(path);
    return path.substr(0, path.size() - extension.size()) + u"_old" + extension;
  });
}

void CYFileLog::Log(int level, const std::u16string& text, bool force) {
  YErrorFrame(VEL_FRAME(u"CYFileLog::Log"), [&](const YFrame& frame) {
    if (!((level <= m_config.FileLogLevel && !m_config.File.empty()) || force)) return;
    // A forced line has nowhere to go without a file.
    if (m_config.File.empty()) return;
    const std::u16string line = CYStringHelper::ConvertNewlinesTo(
        YFormat(u"%s [%-10s] TID:%d : %s\n", LocalTimeText(), YLogLevelName(level), GetCurrentThreadId(), text),
        u"\r\n");

    CYLockHolder hold(m_lock);
    // Appending without the mutex could interleave with another writer's line.
    if (!hold.IsLocked()) YThrowWin32(ERROR_TIMEOUT, frame);
    if (CYFileUtilities::GetFileSize(m_config.File) > m_config.FileMaxSize) {
      try {
        CYFileUtilities::MoveFileW(m_config.File, OldFileName(m_config.File), false);
      } catch (const CYException& x) {
        // The line still goes into the oversized file rather than being lost.
        OutputDebugStringW((u"CYFileLog: Failed to rotate the log file:\n" + x.GetText(kYTextForLog)).c_str());
      }
    }
    CYFileUtilities::WriteTextFile(m_config.File, line, true, TextFileEncoding_Utf8);
  });
}
