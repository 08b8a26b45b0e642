// CYImageProcessor: the JPEG header read through libjpeg.
#include "ylib/YImageProcessor.h"

#include "ylib/YErrorFrame.h"

namespace {
constexpr char16_t kSource[] = u"YImageProcessor";
}

SIZE CYImageProcessor::GetJPEGImageSize(std::u16string_view path) {
  return YErrorFrame(VEL_FRAME(u"CYImageProcessor::GetJPEGImageSize"), [&](const YFrame& frame) -> SIZE {
    throw YReport(kYErrJpegCorrupt, frame).AddDetail(u"Filename", path);
  });
}
