#include "messaging/MMS/PartFileName.h"

#include <utility>

#include "messaging/MMS/MultipartFile.h"
#include "messaging/MMS/WspCoding.h"
#include "platform/base/Ascii.h"
#include "ylib/YErrorFrame.h"
#include "ylib/YFormat.h"

namespace {
constexpr char16_t kSource[] = u"PartFileName";
}  // namespace

namespace vel::mms {

std::optional<std::u16string_view> UsableLastComponent(std::u16string_view name) noexcept {
  const std::size_t cut = name.find_last_of(u"/\\:");
  const std::u16string_view base = cut == std::u16string_view::npos ? name : name.substr(cut + 1);
  if (base.empty() || base.size() > 200) return std::nullopt;
  for (char16_t c : base) {
    if (c < 0x20 || c == 0x7F) return std::nullopt;
  }
  return base;
}

std::u16string MakeSafePartFileName(std::u16string_view name, std::size_t index, const CMultipartFile& part) {
  return YErrorFrame({u"vel::mms::MakeSafePartFileName", kSource, __LINE__}, [&] {
    if (const auto base = UsableLastComponent(name);
        base && base->find_first_not_of(u". ") != std::u16string_view::npos) {
      return std::u16string(*base);
    }

    std::string_view ext = wsp::ContentTypeFirstExtension(part.contentType);
    if (part.contentType == 0) {
      // Types the table lacks but phones send, so the file still opens by its name.
      static constexpr std::pair<std::string_view, std::string_view> kKnown[] = {
          {"video/3gpp", "3gp"}, {"audio/amr", "amr"}, {"audio/amr-wb", "awb"}, {"application/smil", "smil"}};
      ext = {};
      for (const auto& [type, known] : kKnown) {
        if (AsciiEqualsNoCase(type, part.typeText)) ext = known;
      }
    }
    std::u16string generated = YFormat(u"part%u", static_cast<unsigned>(index));
    if (!ext.empty()) {
      generated += u'.';
      generated.append(ext.begin(), ext.end());
    }
    return generated;
  });
}

}  // namespace vel::mms
