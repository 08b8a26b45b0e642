// The reports the image plugin raises or logs.
//
// Thread safety: constants.
#pragma once

#include "ylib/YException.h"

namespace vel::image {

constexpr YErrorDef kErrUndefined{1006, u"Undefined error."};
constexpr YErrorDef kErrUnimplemented{1012, u"Unimplemented."};
constexpr YErrorDef kErrConvertProperty{1015, u"Failed to convert property to correct exif type"};
// Codes of the library's own errors (their message is the library's text):
// reading metadata and keywords, and writing metadata.
constexpr std::int32_t kCodeExiv2Read = 61001;
constexpr std::int32_t kCodeExiv2Write = 61002;

}  // namespace vel::image
