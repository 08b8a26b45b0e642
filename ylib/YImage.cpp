// CYImage: CImage::Load with failures as error reports.
#include "ylib/YImage.h"

#include "ylib/YErrorFrame.h"

namespace {
constexpr char16_t kSource[] = u"YImage";
}

void CYImage::Load(std::u16string_view path) {
  YErrorFrame(VEL_FRAME(u"CYImage::Load"), [&](const YFrame& frame) {
    throw YReport(kYErrOpenFile, frame).AddDetail(u"file", path);
  });
}
