#include "image/ImageKeywords.h"

#include <exiv2/exiv2.hpp>

#include "image/Exiv2Image.h"
#include "image/ImageErrors.h"
#include "image/IptcKeywords.h"
#include "ylib/YVariant.h"

namespace vel::image {

_variant_t ReadKeywordsOfFile(std::u16string_view path, const YFrame& f) {
  _variant_t result;
  try {
    std::unique_ptr<Exiv2::Image> image = OpenExiv2Image(path, f);
    image->readMetadata();
    const std::vector<std::u16string> keywords = ReadIptcKeywords(image->iptcData());
    if (!keywords.empty()) result = CYVariant::StringVectorToVariant(keywords);
  } catch (const Exiv2::AnyError& e) {
    LogExiv2Error(e, kCodeExiv2Read, f);
  }
  return result;
}

void WriteKeywordsOfFile(std::u16string_view path, const std::vector<std::u16string>& keywords, const YFrame& f) {
  try {
    EditExiv2Image(path, f, [&](Exiv2::Image& image) { return WriteIptcKeywords(image.iptcData(), keywords); });
  } catch (const Exiv2::AnyError& e) {
    LogExiv2Error(e, kCodeExiv2Read, f);
  }
}

}  // namespace vel::image
