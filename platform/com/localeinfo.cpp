#include "platform/com/localeinfo.h"

#include <cstdlib>
#include <cstring>

namespace vel {
namespace {

constexpr const char16_t* kEnglishMonths[12] = {u"January",   u"February", u"March",    u"April",
                                                u"May",       u"June",     u"July",     u"August",
                                                u"September", u"October",  u"November", u"December"};

const LocaleInfo kLocales[] = {
    {0x0409,
     "en-US",
     u'.',
     u',',
     DateOrder::MDY,
     u'/',
     false,
     true,
     u"AM",
     u"PM",
     u"True",
     u"False",
     {kEnglishMonths[0], kEnglishMonths[1], kEnglishMonths[2], kEnglishMonths[3], kEnglishMonths[4], kEnglishMonths[5],
      kEnglishMonths[6], kEnglishMonths[7], kEnglishMonths[8], kEnglishMonths[9], kEnglishMonths[10],
      kEnglishMonths[11]}},
    {0x0809,
     "en-GB",
     u'.',
     u',',
     DateOrder::DMY,
     u'/',
     true,
     false,
     u"AM",
     u"PM",
     u"True",
     u"False",
     {kEnglishMonths[0], kEnglishMonths[1], kEnglishMonths[2], kEnglishMonths[3], kEnglishMonths[4], kEnglishMonths[5],
      kEnglishMonths[6], kEnglishMonths[7], kEnglishMonths[8], kEnglishMonths[9], kEnglishMonths[10],
      kEnglishMonths[11]}},
    {0x0407,
     "de-DE",
     u',',
     u'.',
     DateOrder::DMY,
     u'.',
     true,
     false,
     u"",
     u"",
     u"Wahr",
     u"Falsch",
     {u"Januar", u"Februar", u"M\u00e4rz", u"April", u"Mai", u"Juni", u"Juli", u"August", u"September", u"Oktober",
      u"November", u"Dezember"}},
    {0x040C,
     "fr-FR",
     u',',
     u'\u00a0',
     DateOrder::DMY,
     u'/',
     true,
     false,
     u"",
     u"",
     u"Vrai",
     u"Faux",
     {u"janvier", u"f\u00e9vrier", u"mars", u"avril", u"mai", u"juin", u"juillet", u"ao\u00fbt", u"septembre",
      u"octobre", u"novembre", u"d\u00e9cembre"}},
    {0x007F,
     "invariant",
     u'.',
     u',',
     DateOrder::MDY,
     u'/',
     true,
     false,
     u"AM",
     u"PM",
     u"True",
     u"False",
     {kEnglishMonths[0], kEnglishMonths[1], kEnglishMonths[2], kEnglishMonths[3], kEnglishMonths[4], kEnglishMonths[5],
      kEnglishMonths[6], kEnglishMonths[7], kEnglishMonths[8], kEnglishMonths[9], kEnglishMonths[10],
      kEnglishMonths[11]}},
};

const LocaleInfo& EnUs() noexcept { return kLocales[0]; }

const LocaleInfo* Find(LCID lcid) noexcept {
  for (const LocaleInfo& info : kLocales) {
    if (info.lcid == lcid) return &info;
  }
  return nullptr;
}

}  // namespace

LCID LcidFromPosixName(const char* name) noexcept {
  if (name == nullptr || *name == 0) return 0x0409;
  // Language and territory only: "de_DE.UTF-8@euro" -> "de", "DE".
  char lang[8] = {};
  char territory[8] = {};
  std::size_t i = 0;
  for (; name[i] != 0 && name[i] != '_' && name[i] != '-' && name[i] != '.' && name[i] != '@'; ++i) {
    if (i < sizeof lang - 1) lang[i] = name[i];
  }
  if (name[i] == '_' || name[i] == '-') {
    std::size_t k = 0;
    for (++i; name[i] != 0 && name[i] != '.' && name[i] != '@'; ++i, ++k) {
      if (k < sizeof territory - 1) territory[k] = name[i];
    }
  }
  if (std::strcmp(lang, "de") == 0) return 0x0407;
  if (std::strcmp(lang, "fr") == 0) return 0x040C;
  if (std::strcmp(lang, "en") == 0 && std::strcmp(territory, "GB") == 0) return 0x0809;
  return 0x0409;
}

LCID UserDefaultLcid(LocaleCategory category) noexcept {
  const char* candidates[] = {"LC_ALL", category == LocaleCategory::Time ? "LC_TIME" : "LC_NUMERIC", "LANG"};
  for (const char* var : candidates) {
    const char* value = std::getenv(var);
    if (value != nullptr && *value != 0) return LcidFromPosixName(value);
  }
  return 0x0409;
}

const LocaleInfo& LocaleInfoFor(LCID lcid, LocaleCategory category) noexcept {
  lcid &= 0xFFFF;  // sort identifiers do not change formats
  if (lcid == LOCALE_USER_DEFAULT || lcid == 0) lcid = UserDefaultLcid(category);
  if (lcid == LOCALE_SYSTEM_DEFAULT) return EnUs();
  if (const LocaleInfo* exact = Find(lcid)) return *exact;
  // Same primary language, default sub-language.
  if (const LocaleInfo* lang = Find(0x0400 | (lcid & 0x3FF))) return *lang;
  return EnUs();
}

}  // namespace vel
