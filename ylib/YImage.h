// CYImage: a bitmap decoded from an image file, to learn its pixel size. It
// adds to the platform's CImage only a Load that reports failures as error
// reports. It may be loaded again; the previous bitmap is released first.
//
//   CYImage image;
//   image.Load(path);                       // throws CYException
//   int w = image.GetWidth(), h = image.GetHeight();
//
// Thread safety: one object per call; objects on different threads are
// independent.
#pragma once

#include <string_view>

#include "platform/gdiplus/atlimage.h"
#include "ylib/YException.h"

constexpr YErrorDef kYErrOpenFile{1016, u"Failed to open file."};

class CYImage : public CImage {
 public:
  // Loads path (BMP, GIF, JPEG, PNG, TIFF). A missing file is reported as
  // CYFileUtilities::CheckFileExists reports it; a file the decoder cannot
  // read as the system text of the decoder's HRESULT (code = the HRESULT)
  // followed by "Failed to open file." (1016) with the detail "file" = path.
  void Load(std::u16string_view path);
};
