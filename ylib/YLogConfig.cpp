#include "ylib/YLogConfig.h"

#include "platform/win32/winbase.h"
#include "ylib/YErrorFrame.h"
#include "ylib/YFileUtilities.h"
#include "ylib/YRegistry.h"
#include "ylib/YString.h"

namespace {

constexpr char16_t kSource[] = u"YLogConfig";
constexpr char16_t kLoggingKey[] = u"HKEY_CURRENT_USER\\Software\\Zandor\\Logging";

}  // namespace

void CYLogConfig::ReadConfig() {
  YErrorFrame(VEL_FRAME(u"CYLogConfig::ReadConfig"), [&] {
    const std::u16string key = CYFileUtilities::ConcatPathname(kLoggingKey, applicationName);
    EventLogLevel = static_cast<int>(CYRegistry::GetDWORDValue(key, u"EventLogLevel", 2, false));
    FileLogLevel = static_cast<int>(CYRegistry::GetDWORDValue(key, u"FileLogLevel", 0, false));
    FileMaxSize = CYRegistry::GetDWORDValue(key, u"FileMaxSize", 0x100000, false);
    std::u16string file = CYStringHelper::ExpandEnvironment(CYRegistry::GetStringValue(key, u"File", u"", false));
    if (file.size() > kMaxFileChars) {
      // A shortened path would name another file; logging into it could
      // overwrite whatever lives there.
      OutputDebugStringW((u"CYLogConfig: log file path longer than 520 characters, file logging off: " + file).c_str());
      file.clear();
    }
    File = std::move(file);
  });
}
