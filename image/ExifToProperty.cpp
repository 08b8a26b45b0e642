// EXIF datum -> item property (Exiv2Prop) and the EXIF date text.
#include <exiv2/exiv2.hpp>

#include <cstdint>
#include <cstdio>
#include <string>

#include "image/ExifConversions.h"
#include "image/ExifValues.h"
#include "image/ImagePropertyMap.h"
#include "image/MetadataText.h"
#include "ylib/YErrorFrame.h"
#include "ylib/YLogging.h"
#include "ylib/YTime.h"

namespace vel::image {
namespace {

constexpr char16_t kSource[] = u"ExifToProperty";

bool IsIntegerType(VARTYPE vt) {
  return vt == VT_I2 || vt == VT_I4 || (vt >= VT_I1 && vt <= VT_UINT);
}

// An UNDEFINED value read as the integer its size allows (4 bytes little
// endian, 3 bytes big endian, 2 and 1 bytes signed); nothing for other sizes
// and row types.
_variant_t UndefinedInteger(const std::string& bytes, VARTYPE rowType) {
  const auto b = [&](std::size_t i) { return static_cast<std::uint8_t>(bytes[i]); };
  std::uint32_t number = 0;
  switch (bytes.size()) {
    case 4:
      number = b(0) | (std::uint32_t{b(1)} << 8) | (std::uint32_t{b(2)} << 16) | (std::uint32_t{b(3)} << 24);
      break;
    case 3:
      number = (std::uint32_t{b(0)} << 16) | (std::uint32_t{b(1)} << 8) | b(2);
      break;
    case 2:
      number = static_cast<std::uint32_t>(static_cast<std::int32_t>(static_cast<std::int16_t>(b(0) | (b(1) << 8))));
      break;
    case 1:
      number = static_cast<std::uint32_t>(static_cast<std::int32_t>(static_cast<std::int8_t>(b(0))));
      break;
    default:
      return {};
  }
  if (rowType == VT_UI4) return _variant_t(static_cast<unsigned int>(number), VT_UI4);
  if (rowType == VT_I4) return _variant_t(static_cast<int>(number), VT_I4);
  return {};
}

void LogLeftOut(std::string_view key, const char* why, const std::string& text) {
  CYLogging::Log(kYLogInfo, u"Exif property \"%S\" %S: %S\n", key, why, text);
}

}  // namespace

_variant_t ParseExifDate(std::string_view text) {
  const std::string zeroEnded(text);
  unsigned short year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  if (std::sscanf(zeroEnded.c_str(), "%hu:%hu:%hu %hu:%hu:%hu", &year, &month, &day, &hour, &minute, &second) != 6)
    return {};
  SYSTEMTIME st{};
  st.wYear = year;
  st.wMonth = month;
  st.wDay = day;
  st.wHour = hour;
  st.wMinute = minute;
  st.wSecond = second;
  try {
    return _variant_t(CYTime::SystemTimeToVariantTime(st), VT_DATE);
  } catch (const CYException&) {
    // A camera that never had its clock set writes zeros: no date, not a failed read.
    return {};
  }
}

ConvertedProperty Exiv2Prop(std::string_view key, const Exiv2::Value& value) {
  return YErrorFrame(VEL_FRAME(u"Exiv2Prop"), [&]() {
    ConvertedProperty out;
    const ExifPropertyMapEntry* row = FindExifRow(key);
    if (!row) return out;
    out.name = row->name;
    out.nameSpace = row->nameSpace;
    const bool any = value.count() > 0;
    switch (value.typeId()) {
      case Exiv2::unsignedByte:
      case Exiv2::unsignedShort:
        if (any) out.value = _variant_t(static_cast<unsigned short>(value.toLong(0)));
        break;
      case Exiv2::asciiString: {
        const std::string text = value.toString();
        if (row->variantType == VT_DATE)
          out.value = ParseExifDate(text);
        else
          out.value = _variant_t(std::u16string_view(DecodeMetadataText(text, CP_ACP)));
        break;
      }
      case Exiv2::unsignedLong:
        if (any) out.value = _variant_t(static_cast<unsigned int>(value.toLong(0)), VT_UI4);
        break;
      case Exiv2::unsignedRational:
      case Exiv2::signedRational: {
        if (!any) break;
        // A rational focal length in 35 mm film is no whole number of millimetres.
        if (std::u16string_view(row->name) == u"FocalLengthIn35mmFilm") break;
        const std::optional<RationalParts> r = RationalAt(value, 0);
        if (!r || r->denominator == 0) {
          LogLeftOut(key, "contained an invalid rational value", value.toString());
          break;
        }
        out.value = _variant_t(static_cast<double>(r->numerator) / static_cast<double>(r->denominator));
        break;
      }
      case Exiv2::undefined: {
        const std::string bytes = ValueBytes(value);
        if (row->variantType == VT_BSTR) {
          out.value = _variant_t(std::u16string_view(DecodeMetadataText(bytes, CP_ACP)));
        } else if (IsIntegerType(row->variantType)) {
          out.value = UndefinedInteger(bytes, row->variantType);
          if (out.value.vt == VT_EMPTY) LogLeftOut(key, "held an undefined value of no integer size", value.toString());
        }
        break;
      }
      case Exiv2::signedShort:
        if (any) out.value = _variant_t(static_cast<short>(value.toLong(0)));
        break;
      case Exiv2::signedLong:
        if (any) out.value = _variant_t(static_cast<int>(value.toLong(0)), VT_I4);
        break;
      default:
        LogLeftOut(key, "has a type the plugin does not read", Exiv2::TypeInfo::typeName(value.typeId())
                                                                     ? Exiv2::TypeInfo::typeName(value.typeId())
                                                                     : "unknown");
        break;
    }
    return out;
  });
}

}  // namespace vel::image
