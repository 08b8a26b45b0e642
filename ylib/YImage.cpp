// CYImage: CImage::Load with failures as error reports.
#include "ylib/YImage.h"

#include <string>

#include "ylib/YErrorFrame.h"
#include "ylib/YFileUtilities.h"

namespace {
constexpr char16_t kSource[] = u"YImage";
}

void CYImage::Load(std::u16string_view path) {
  YErrorFrame(VEL_FRAME(u"CYImage::Load"), [&](const YFrame& frame) {
    Destroy();
    CYFileUtilities::CheckFileExists(path);
    const std::u16string unicodePath = CYFileUtilities::GetUnicodePath(path);
    const HRESULT hr = CImage::Load(unicodePath.c_str());
    if (hr < 0) {
      CYException report = YReportHr(hr, frame);
      report.AppendEntries(YReport(kYErrOpenFile, frame));
      report.AddDetail(u"file", path);
      throw report;
    }
  });
}
