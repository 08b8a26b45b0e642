#include "ylib/YSystem.h"

#include "platform/win32/winbase.h"
#include "ylib/YErrorFrame.h"
#include "ylib/YErrorText.h"
#include "ylib/YLogging.h"

namespace {

constexpr char16_t kSource[] = u"YSystem";
constexpr std::size_t kMaxName = 260;
constexpr std::u16string_view kGlobalPrefix = u"Global\\";

// Upper-case form of a letter or digit, or 0 for any other character.
char16_t UpperAlnum(char16_t c) {
  if ((c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'Z')) return c;
  if (c >= u'a' && c <= u'z') return static_cast<char16_t>(c - 0x20);
  if (c == 0xAA || c == 0xB5 || c == 0xBA || c == 0xDF) return c;  // no upper-case form of their own
  if ((c >= 0xC0 && c <= 0xDE) && c != 0xD7) return c;
  if ((c >= 0xE0 && c <= 0xFE) && c != 0xF7) return static_cast<char16_t>(c - 0x20);
  if (c == 0xFF) return 0x178;
  return 0;
}

}  // namespace

std::u16string CYSystem::MakeKernelObjectName(std::u16string_view name, bool bGlobal) {
  return YErrorFrame(VEL_FRAME(u"CYSystem::MakeKernelObjectName"), [&] {
    std::u16string out;
    out.reserve(name.size() + kGlobalPrefix.size());
    for (char16_t c : name) {
      const char16_t upper = UpperAlnum(c);
      out.push_back(upper ? upper : u'_');
    }
    const std::size_t limit = bGlobal ? kMaxName - kGlobalPrefix.size() : kMaxName;
    if (out.size() > limit) out.erase(0, out.size() - limit);
    if (bGlobal) out.insert(0, kGlobalPrefix);
    return out;
  });
}

std::u16string CYSystem::GetOSLanguage() {
  return YErrorFrame(VEL_FRAME(u"CYSystem::GetOSLanguage"), [&] {
    WCHAR buffer[3] = {};
    if (GetLocaleInfoW(LOCALE_SYSTEM_DEFAULT, LOCALE_SISO639LANGNAME, buffer, 3) == 0) {
      CYLogging::Log(kYLogWarning, u"%s", FormatErrorMessage(GetLastError()));
      return std::u16string();
    }
    std::u16string_view language(buffer);
    constexpr std::u16string_view kSpace = u" \t\r\n\v\f";
    const std::size_t first = language.find_first_not_of(kSpace);
    if (first == std::u16string_view::npos) return std::u16string();
    return std::u16string(language.substr(first, language.find_last_not_of(kSpace) - first + 1));
  });
}
