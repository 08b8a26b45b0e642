// Environment variables, the user's locale and debugger output.
//
// Thread safety: the environment is only read; the thread locale is per thread.
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "platform/com/oleauto.h"
#include "platform/text.h"
#include "platform/win32/winbase.h"

extern char** environ;

namespace {

// The platform's variable names ignore case: an exact match wins, otherwise
// the first variable whose name matches without regard to case.
std::optional<std::u16string> Lookup(std::u16string_view name) {
  if (name.empty() || name.find(u'=') != std::u16string_view::npos) return std::nullopt;
  const std::string narrow = vel::ToUtf8(name);
  if (const char* value = std::getenv(narrow.c_str())) return vel::FromUtf8(value);
  for (char** e = environ; e && *e; ++e) {
    const char* eq = std::strchr(*e, '=');
    if (!eq) continue;
    if (vel::CompareNoCase(vel::FromUtf8(std::string_view(*e, static_cast<size_t>(eq - *e))), name) == 0) {
      return vel::FromUtf8(eq + 1);
    }
  }
  return std::nullopt;
}

// The platform's limit for the expanded text, terminator included.
constexpr size_t kMaxExpanded = 32 * 1024;

struct Locale {
  const char* name;  // language_TERRITORY, or the language alone
  LCID lcid;
};

constexpr Locale kLocales[] = {
    {"en_US", 0x0409}, {"en_GB", 0x0809}, {"en_AU", 0x0C09}, {"en_CA", 0x1009}, {"en_NZ", 0x1409},
    {"en_IE", 0x1809}, {"en", 0x0409},    {"de_DE", 0x0407}, {"de_CH", 0x0807}, {"de_AT", 0x0C07},
    {"de", 0x0407},    {"fr_FR", 0x040C}, {"fr_BE", 0x080C}, {"fr_CA", 0x0C0C}, {"fr_CH", 0x100C},
    {"fr", 0x040C},    {"es_ES", 0x0C0A}, {"es", 0x0C0A},    {"it_IT", 0x0410}, {"it", 0x0410},
    {"nl_NL", 0x0413}, {"nl", 0x0413},    {"ja_JP", 0x0411}, {"ja", 0x0411},
};

LCID LcidOf(std::string_view locale) {
  // "de_DE.UTF-8@euro" -> "de_DE"
  locale = locale.substr(0, locale.find_first_of(".@"));
  for (const auto& l : kLocales) {
    if (locale == l.name) return l.lcid;
  }
  const std::string_view language = locale.substr(0, locale.find('_'));
  for (const auto& l : kLocales) {
    if (language == l.name) return l.lcid;
  }
  return 0x0409;
}

bool KnownLcid(LCID lcid) {
  if (lcid == LOCALE_INVARIANT) return true;
  for (const auto& l : kLocales) {
    if (l.lcid == lcid) return true;
  }
  return false;
}

thread_local LCID t_threadLocale = 0;  // 0: the user's

// The ISO 639 language a POSIX locale name spells ("de_DE.UTF-8" -> "de"):
// two or three ASCII letters before the territory, code set or modifier;
// "en" for "C", "POSIX" and anything else that names no language.
std::u16string LanguageOfPosixName(std::string_view locale) {
  const std::string_view language = locale.substr(0, locale.find_first_of("_-.@"));
  std::u16string out;
  for (char c : language) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c < 'a' || c > 'z') return u"en";
    out.push_back(static_cast<char16_t>(c));
  }
  if (out.size() < 2 || out.size() > 3) return u"en";
  return out;
}

// The language of the environment's locale, read as GetUserDefaultLCID reads it.
std::u16string EnvironmentLanguage() {
  for (const char* var : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* value = std::getenv(var);
    if (value && *value) return LanguageOfPosixName(value);
  }
  return u"en";
}

// The language of an LCID the table knows, or of its primary language.
std::optional<std::u16string> LanguageOfLcid(LCID lcid) {
  lcid &= 0xFFFF;
  if (lcid == LOCALE_INVARIANT) return std::u16string(u"iv");
  for (const auto& l : kLocales) {
    if (l.lcid == lcid) return LanguageOfPosixName(l.name);
  }
  for (const auto& l : kLocales) {
    if ((l.lcid & 0x3FF) == (lcid & 0x3FF)) return LanguageOfPosixName(l.name);
  }
  return std::nullopt;
}

void WriteDebug(std::string_view text) {
  const char* on = std::getenv("VEL_DEBUG_OUTPUT");
  if (!on || std::strcmp(on, "1") != 0) return;
  // One write, so lines from several threads do not mix.
  size_t done = 0;
  while (done < text.size()) {
    ssize_t n = write(STDERR_FILENO, text.data() + done, text.size() - done);
    if (n <= 0) return;
    done += static_cast<size_t>(n);
  }
}

}  // namespace

extern "C" {

DWORD GetEnvironmentVariableW(LPCWSTR lpName, LPWSTR lpBuffer, DWORD nSize) {
  if (!lpName) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  auto value = Lookup(lpName);
  if (!value) {
    SetLastError(ERROR_ENVVAR_NOT_FOUND);
    return 0;
  }
  const DWORD length = static_cast<DWORD>(value->size());
  if (!lpBuffer || nSize <= length) return length + 1;  // the size needed, terminator included
  std::memcpy(lpBuffer, value->data(), value->size() * sizeof(WCHAR));
  lpBuffer[length] = 0;
  SetLastError(ERROR_SUCCESS);
  return length;
}

DWORD ExpandEnvironmentStringsW(LPCWSTR lpSrc, LPWSTR lpDst, DWORD nSize) {
  if (!lpSrc) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const std::u16string_view src(lpSrc);
  std::u16string out;
  size_t i = 0;
  while (i < src.size()) {
    const size_t open = src.find(u'%', i);
    if (open == std::u16string_view::npos) {
      out.append(src.substr(i));
      break;
    }
    out.append(src.substr(i, open - i));
    const size_t close = src.find(u'%', open + 1);
    if (close == std::u16string_view::npos) {
      out.append(src.substr(open));
      break;
    }
    const auto name = src.substr(open + 1, close - open - 1);
    if (auto value = Lookup(name)) {
      out.append(*value);
      i = close + 1;
    } else {
      // Unknown names stay as they are; the closing '%' may open the next.
      out.append(src.substr(open, close - open));
      i = close;
    }
    if (out.size() >= kMaxExpanded) break;
  }
  if (out.size() + 1 > kMaxExpanded) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  const DWORD needed = static_cast<DWORD>(out.size() + 1);
  if (!lpDst || nSize < needed) return needed;
  std::memcpy(lpDst, out.c_str(), needed * sizeof(WCHAR));
  return needed;
}

LCID GetUserDefaultLCID() {
  // The same variables, in the same order, that decide the language of messages.
  for (const char* var : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* value = std::getenv(var);
    if (value && *value) return LcidOf(value);
  }
  return 0x0409;
}

LANGID GetUserDefaultLangID() { return static_cast<LANGID>(GetUserDefaultLCID() & 0xFFFF); }

LCID GetSystemDefaultLCID() { return 0x0409; }

LCID GetThreadLocale() { return t_threadLocale ? t_threadLocale : GetUserDefaultLCID(); }

BOOL SetThreadLocale(LCID Locale) {
  if (Locale == LOCALE_USER_DEFAULT) {
    t_threadLocale = 0;
    return TRUE;
  }
  if (Locale == LOCALE_SYSTEM_DEFAULT) Locale = GetSystemDefaultLCID();
  if (!KnownLcid(Locale)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  t_threadLocale = Locale;
  return TRUE;
}

int GetLocaleInfoW(LCID Locale, LCTYPE LCType, LPWSTR lpLCData, int cchData) {
  if (cchData < 0 || (cchData > 0 && lpLCData == nullptr)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  if ((LCType & ~LOCALE_NOUSEROVERRIDE) != LOCALE_SISO639LANGNAME) {
    SetLastError(ERROR_INVALID_FLAGS);
    return 0;
  }
  std::u16string text;
  if (Locale == LOCALE_SYSTEM_DEFAULT || Locale == LOCALE_USER_DEFAULT || Locale == 0) {
    text = EnvironmentLanguage();
  } else if (std::optional<std::u16string> language = LanguageOfLcid(Locale)) {
    text = *language;
  } else {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const int needed = static_cast<int>(text.size()) + 1;
  if (cchData == 0) return needed;
  if (cchData < needed) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  std::memcpy(lpLCData, text.c_str(), static_cast<std::size_t>(needed) * sizeof(WCHAR));
  return needed;
}

void OutputDebugStringW(LPCWSTR lpOutputString) {
  if (lpOutputString) WriteDebug(vel::ToUtf8(lpOutputString));
}

void OutputDebugStringA(LPCSTR lpOutputString) {
  // Narrow text is in the ANSI code page, as on the platform.
  if (!lpOutputString || !*lpOutputString) return;
  int n = MultiByteToWideChar(CP_ACP, 0, lpOutputString, -1, nullptr, 0);
  if (n <= 0) return;
  std::u16string wide(static_cast<size_t>(n), u'\0');
  MultiByteToWideChar(CP_ACP, 0, lpOutputString, -1, wide.data(), n);
  wide.pop_back();
  WriteDebug(vel::ToUtf8(wide));
}

}  // extern "C"
