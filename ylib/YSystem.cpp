#include "ylib/YSystem.h"

#include "ylib/YErrorFrame.h"

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
