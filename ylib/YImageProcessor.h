// CYImageProcessor: the pixel size of a JPEG file from its header alone,
// without decoding any image data.
//
//   SIZE size = CYImageProcessor::GetJPEGImageSize(path);   // throws CYException
//
// Errors:
// - a file that cannot be opened (whatever the reason): the system text of
//   ERROR_FILE_NOT_FOUND, code 0x80070002, detail "File" = path;
// - data the JPEG library rejects: "Error occured loading JPEG with jpegtran
//   library. Image is corrupted." (35003) with the details "LibJPEGErrorCode"
//   (the library's message code), "LibJPEGErrorMessage" (the message
//   template, its placeholders not filled in) and "Filename" = path.
// A stream holding only tables (no frame header) is no error: its size is 0 x 0.
// The library's warnings are not printed anywhere.
//
// Thread safety: no state; each call keeps its own error state, so calls may
// run on any threads at once.
#pragma once

#include <cstdint>
#include <string_view>

#include "platform/win32/windef.h"
#include "ylib/YException.h"

constexpr YErrorDef kYErrJpegCorrupt{35003, u"Error occured loading JPEG with jpegtran library. Image is corrupted."};

class CYImageProcessor {
 public:
  // {cx = image width, cy = image height} from the frame header.
  static SIZE GetJPEGImageSize(std::u16string_view path);
};
