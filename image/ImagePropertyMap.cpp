#include "image/ImagePropertyMap.h"

#include "contract/VelItemsLib.h"

namespace {
constexpr const char16_t* kCore = kCoreNamespace;
}  // namespace

const ExifPropertyMapEntry kExifPropertyMap[] = {
    {u"PixelXDimension", kCore, "Exif.Photo.PixelXDimension", VT_UI4, 0, 0, 0},
    {u"PixelYDimension", kCore, "Exif.Photo.PixelYDimension", VT_UI4, 0, 0, 0},
    {u"Model", kCore, "Exif.Image.Model", VT_BSTR, 0, 0, 0},
    {u"Make", kCore, "Exif.Image.Make", VT_BSTR, 0, 0, 0},
    {u"FocalPlaneResolutionUnit", kCore, "Exif.Photo.FocalPlaneResolutionUnit", VT_UI2, 0, 0, 0},
    {u"FocalPlaneXResolution", kCore, "Exif.Photo.FocalPlaneXResolution", VT_R8, 0, 0, 0},
    {u"FocalPlaneYResolution", kCore, "Exif.Photo.FocalPlaneYResolution", VT_R8, 0, 0, 0},
    {u"ExposureTime", kCore, "Exif.Photo.ExposureTime", VT_R8, 0, 0, 0},
    {u"ExposureBiasValue", kCore, "Exif.Photo.ExposureBiasValue", VT_R8, 1, 0, 0},
    {u"ExposureProgram", kCore, "Exif.Photo.ExposureProgram", VT_UI2, 0, 0, 0},
    {u"FNumber", kCore, "Exif.Photo.FNumber", VT_R8, 0, 0, 0},
    {u"FocalLength", kCore, "Exif.Photo.FocalLength", VT_R8, 0, 0, 0},
    {u"FocalLengthIn35mmFilm", kCore, "Exif.Photo.FocalLengthIn35mmFilm", VT_UI2, 0, 0, 0},
    {u"ApertureValue", kCore, "Exif.Photo.ApertureValue", VT_R8, 0, 0, 0},
    {u"MaxAperture", kCore, "Exif.Photo.MaxApertureValue", VT_R8, 0, 0, 0},
    {u"ShutterSpeedValue", kCore, "Exif.Photo.ShutterSpeedValue", VT_R8, 1, 0, 0},
    {u"ISOSpeedRatings", kCore, "Exif.Photo.ISOSpeedRatings", VT_UI2, 0, 0, 0},
    {u"MeteringMode", kCore, "Exif.Photo.MeteringMode", VT_UI2, 0, 0, 0},
    {u"WhiteBalance", kCore, "Exif.Photo.WhiteBalance", VT_UI2, 0, 0, 0},
    {u"Flash", kCore, "Exif.Photo.Flash", VT_UI2, 0, 0, 0},
    {u"ExifVersion", kCore, "Exif.Photo.ExifVersion", VT_UI4, 0, 1, 4},
    {u"Orientation", kCore, "Exif.Image.Orientation", VT_UI2, 0, 0, 0},
    {u"XResolution", kCore, "Exif.Image.XResolution", VT_R8, 0, 0, 0},
    {u"YResolution", kCore, "Exif.Image.YResolution", VT_R8, 0, 0, 0},
    {u"SamplesPerPixel", kCore, "Exif.Image.SamplesPerPixel", VT_UI2, 0, 0, 0},
    {u"BitsPerSample", kCore, "Exif.Image.BitsPerSample", VT_UI2, 0, 0, 0},
    {u"ComponentsConfiguration", kCore, "Exif.Photo.ComponentsConfiguration", VT_UI4, 0, 1, 4},
    {u"FlashPixVersion", kCore, "Exif.Photo.FlashpixVersion", VT_UI4, 0, 1, 4},
    {u"YCbCrPositioning", kCore, "Exif.Image.YCbCrPositioning", VT_UI2, 0, 0, 0},
    {u"ThumbCompression", kCore, "Exif.Thumbnail.Compression", VT_UI2, 0, 0, 0},
    {u"ThumbResolutionUnit", kCore, "Exif.Thumbnail.ResolutionUnit", VT_UI2, 0, 0, 0},
    {u"ThumbOrientation", kCore, "Exif.Thumbnail.Orientation", VT_UI2, 0, 0, 0},
    {u"DateTimeOriginal", kCore, "Exif.Photo.DateTimeOriginal", VT_DATE, 0, 0, 0},
    {u"DateTimeDigitized", kCore, "Exif.Photo.DateTimeDigitized", VT_DATE, 0, 0, 0},
    {nullptr, nullptr, nullptr, VT_EMPTY, 0, 0, 0},
};

const GdiPlusPropertyMapEntry kGdiPlusPropertyMap[] = {
    {u"PixelXDimension", kCore, 0xA002, VT_UI4, 0, 0, 0},
    {u"PixelYDimension", kCore, 0xA003, VT_UI4, 0, 0, 0},
    {u"Model", kCore, 0x0110, VT_BSTR, 0, 0, 0},
    {u"Make", kCore, 0x010F, VT_BSTR, 0, 0, 0},
    {u"FocalPlaneResolutionUnit", kCore, 0xA210, VT_UI2, 0, 0, 0},
    {u"FocalPlaneXResolution", kCore, 0xA20E, VT_R8, 0, 0, 0},
    {u"FocalPlaneYResolution", kCore, 0xA20F, VT_R8, 0, 0, 0},
    {u"ExposureTime", kCore, 0x829A, VT_R8, 0, 0, 0},
    {u"ExposureBiasValue", kCore, 0x9204, VT_R8, 1, 0, 0},
    {u"ExposureProgram", kCore, 0x8822, VT_UI2, 0, 0, 0},
    {u"FNumber", kCore, 0x829D, VT_R8, 0, 0, 0},
    {u"FocalLength", kCore, 0x920A, VT_R8, 0, 0, 0},
    {u"FocalLengthIn35mmFilm", kCore, 0xA405, VT_UI2, 0, 0, 0},
    {u"ApertureValue", kCore, 0x9202, VT_R8, 0, 0, 0},
    {u"MaxAperture", kCore, 0x9205, VT_R8, 0, 0, 0},
    {u"ShutterSpeedValue", kCore, 0x9201, VT_R8, 1, 0, 0},
    {u"ISOSpeedRatings", kCore, 0x8827, VT_UI2, 0, 0, 0},
    {u"MeteringMode", kCore, 0x9207, VT_UI2, 0, 0, 0},
    {u"WhiteBalance", kCore, 0xA403, VT_UI2, 0, 0, 0},
    {u"Flash", kCore, 0x9209, VT_UI2, 0, 0, 0},
    {u"ExifVersion", kCore, 0x9000, VT_UI4, 0, 0, 4},
    {u"Orientation", kCore, 0x0112, VT_UI2, 0, 0, 0},
    {u"XResolution", kCore, 0x011A, VT_R8, 0, 0, 0},
    {u"YResolution", kCore, 0x011B, VT_R8, 0, 0, 0},
    {u"SamplesPerPixel", kCore, 0x0115, VT_UI2, 0, 0, 0},
    {u"BitsPerSample", kCore, 0x0102, VT_UI2, 0, 0, 0},
    {u"ComponentsConfiguration", kCore, 0x9101, VT_UI4, 0, 0, 4},
    {u"FlashPixVersion", kCore, 0xA000, VT_UI4, 0, 0, 4},
    {u"YCbCrPositioning", kCore, 0x0213, VT_UI2, 0, 0, 0},
    {u"ThumbCompression", kCore, 0x5023, VT_UI2, 0, 0, 0},
    {u"ThumbResolutionUnit", kCore, 0x5030, VT_UI2, 0, 0, 0},
    {u"ThumbOrientation", kCore, 0x5029, VT_UI2, 0, 0, 0},
    {u"DateTimeOriginal", kCore, 0x9003, VT_DATE, 0, 0, 0},
    {u"DateTimeDigitized", kCore, 0x9004, VT_DATE, 0, 0, 0},
    {nullptr, nullptr, 0, VT_EMPTY, 0, 0, 0},
};

namespace vel::image {

const ExifPropertyMapEntry* FindExifRow(std::string_view key) {
  for (const ExifPropertyMapEntry* row = kExifPropertyMap; row->name; ++row) {
    if (key == row->key) return row;
  }
  return nullptr;
}

const GdiPlusPropertyMapEntry* FindGdiPlusRow(std::uint32_t tag) {
  for (const GdiPlusPropertyMapEntry* row = kGdiPlusPropertyMap; row->name; ++row) {
    if (row->key == tag) return row;
  }
  return nullptr;
}

const ExifPropertyMapEntry* FindExifRowByName(std::u16string_view name, std::u16string_view ns) {
  for (const ExifPropertyMapEntry* row = kExifPropertyMap; row->name; ++row) {
    if (name == row->name && ns == row->nameSpace) return row;
  }
  return nullptr;
}

}  // namespace vel::image
