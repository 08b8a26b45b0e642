// Item property -> EXIF datum (Prop2Exiv).
#include <exiv2/exiv2.hpp>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>

#include "contract/VelItemsLib.h"
#include "image/ExifConversions.h"
#include "image/ExifValues.h"
#include "image/ImageErrors.h"
#include "image/ImagePropertyMap.h"
#include "image/Rationals.h"
#include "platform/com/oleauto.h"
#include "ylib/YBufMalloc.h"
#include "ylib/YErrorFrame.h"
#include "ylib/YString.h"
#include "ylib/YTime.h"
#include "ylib/YVariant.h"

namespace vel::image {
namespace {

constexpr char16_t kSource[] = u"PropertyToExif";

// Text in the ANSI code page, as EXIF ASCII values hold it.
std::string AnsiBytes(std::u16string_view text) {
  if (text.empty()) return {};
  CYBufMalloc buffer;
  CYStringHelper::StringToMultiByte(text, buffer, CP_ACP);
  return std::string(static_cast<const char*>(buffer.GetBuf()), static_cast<std::size_t>(buffer.GetSize()));
}

// The first component of the datum as an integer; -1 without one.
long OldLong(const Exiv2::Exifdatum* old) {
  if (!old || old->count() == 0) return -1;
  return old->toLong(0);
}

RationalParts OldRational(const Exiv2::Exifdatum* old) {
  if (!old || old->count() == 0) return {-1, 1};
  if (const std::optional<RationalParts> r = RationalAt(old->value(), 0)) return *r;
  return {old->toLong(0), 1};
}

bool SameRational(RationalParts o, RationalParts n) {
  if (o.numerator == 0 && n.numerator == 0) return true;
  if (o.numerator == n.numerator && o.denominator == n.denominator) return true;
  if (o.denominator == 0 || n.denominator == 0) return false;
  const double a = static_cast<double>(o.numerator) / static_cast<double>(o.denominator);
  const double b = static_cast<double>(n.numerator) / static_cast<double>(n.denominator);
  return std::fabs(a - b) < kRationalTolerance;
}

// A value set from text takes the type the library gives the tag (ASCII for
// Make, Model and the dates).
void SetFromText(Exiv2::ExifData& data, const char* key, const std::string& text) {
  Exiv2::Exifdatum fresh{Exiv2::ExifKey(key)};
  fresh.setValue(text);
  data[key].setValue(&fresh.value());
}

std::u16string VariantText(const VARIANT& value) {
  try {
    std::u16string type;
    return CYVariant::ToXSDString(value, type);
  } catch (...) {
    return {};
  }
}

}  // namespace

bool Prop2Exiv(Exiv2::ExifData& data, std::u16string_view name, std::u16string_view ns, const VARIANT& value) {
  return YErrorFrame(VEL_FRAME(u"Prop2Exiv"), [&](const YFrame& f) {
    const ExifPropertyMapEntry* row = FindExifRowByName(name, ns);
    if (!row) return false;
    _variant_t v(value);
    const Exiv2::ExifKey key(row->key);
    const auto found = data.findKey(key);
    const Exiv2::Exifdatum* old = found != data.end() ? &*found : nullptr;

    if (v.vt == VT_EMPTY || v.vt == VT_NULL) {
      if (!old) return false;
      data.erase(found);
      return true;
    }
    const bool core = ns == kCoreNamespace;
    // A rating of several ISO values says more than one number can.
    if (core && name == u"ISOSpeedRatings" && old && old->count() > 1) return false;
    if (core && name == u"FocalLengthIn35mmFilm") {
      _variant_t wide;
      wide.ChangeType(VT_I8, &v);
      v = _variant_t(static_cast<long long>(std::min<long long>(wide.llVal, 65535)));
    }
    if (v.vt != row->variantType) {
      const VARTYPE before = v.vt;
      try {
        v.ChangeType(row->variantType);
      } catch (...) {
        CYException caught = YCurrentExceptionAsReport(f);
        CYException details = YReport(kErrConvertProperty, f)
                                  .AddDetail(u"PropertyType", before, false)
                                  .AddDetail(u"PropertyValue", VariantText(value))
                                  .AddDetail(u"ExifType", row->variantType, false)
                                  .AddDetail(u"ExifTag", std::u16string(row->key, row->key + std::char_traits<char>::length(row->key)));
        caught.AppendEntries(details);
        throw caught;
      }
    }

    switch (v.vt) {
      case VT_I1:
      case VT_UI1:
      case VT_I2:
      case VT_UI2: {
        if (row->isUndefined) return false;
        const std::int64_t n = CYVariant::ToInt(v);
        long now = 0;
        if (row->isSigned) {
          const auto s = static_cast<std::int16_t>(n);
          now = s;
          if (now == OldLong(old)) return false;
          Exiv2::ShortValue nv;
          nv.value_.push_back(s);
          data[row->key].setValue(&nv);
        } else {
          const auto u = static_cast<std::uint16_t>(n);
          now = u;
          if (now == OldLong(old)) return false;
          Exiv2::UShortValue nv;
          nv.value_.push_back(u);
          data[row->key].setValue(&nv);
        }
        return true;
      }
      case VT_I4:
      case VT_UI4:
      case VT_INT:
      case VT_UINT: {
        const auto bits = static_cast<std::uint32_t>(CYVariant::ToInt(v));
        if (row->isUndefined) {
          const Exiv2::byte bytes[4] = {static_cast<Exiv2::byte>(bits), static_cast<Exiv2::byte>(bits >> 8),
                                        static_cast<Exiv2::byte>(bits >> 16), static_cast<Exiv2::byte>(bits >> 24)};
          const long size = row->byteCount > 0 && row->byteCount <= 4 ? static_cast<long>(row->byteCount) : 4;
          // Only the first byte counts, as the library reads an UNDEFINED value as a number.
          if (static_cast<long>(bytes[0]) == OldLong(old)) return false;
          Exiv2::DataValue nv(Exiv2::undefined);
          nv.read(bytes, size, Exiv2::invalidByteOrder);
          data[row->key].setValue(&nv);
        } else if (row->isSigned) {
          const auto s = static_cast<std::int32_t>(bits);
          if (static_cast<long>(s) == OldLong(old)) return false;
          Exiv2::LongValue nv;
          nv.value_.push_back(s);
          data[row->key].setValue(&nv);
        } else {
          if (static_cast<long>(bits) == OldLong(old)) return false;
          Exiv2::ULongValue nv;
          nv.value_.push_back(bits);
          data[row->key].setValue(&nv);
        }
        return true;
      }
      case VT_R4:
      case VT_R8: {
        const double x = v.vt == VT_R4 ? v.fltVal : v.dblVal;
        if (row->isSigned) {
          const SignedRational r = Float2SRational(x);
          if (SameRational(OldRational(old), {r.numerator, r.denominator})) return false;
          Exiv2::RationalValue nv;
          nv.value_.push_back({r.numerator, r.denominator});
          data[row->key].setValue(&nv);
        } else {
          const UnsignedRational r = Float2URational(x);
          if (SameRational(OldRational(old), {r.numerator, r.denominator})) return false;
          Exiv2::URationalValue nv;
          nv.value_.push_back({r.numerator, r.denominator});
          data[row->key].setValue(&nv);
        }
        return true;
      }
      case VT_DATE: {
        SYSTEMTIME st{};
        CYTime::VariantTimeToSystemTime(v.date, st);
        char text[64];
        std::snprintf(text, sizeof text, "%04d:%02d:%02d %02d:%02d:%02d", st.wYear, st.wMonth, st.wDay, st.wHour,
                      st.wMinute, st.wSecond);
        if (old && old->toString() == text) return false;
        SetFromText(data, row->key, text);
        return true;
      }
      case VT_BSTR: {
        std::string text = AnsiBytes(v.bstrVal ? std::u16string_view(v.bstrVal, SysStringLen(v.bstrVal))
                                               : std::u16string_view());
        if (row->isUndefined) {
          if (row->byteCount > 0) text.resize(row->byteCount, '\0');
          if (old && ValueBytes(old->value()) == text) return false;
          Exiv2::DataValue nv(Exiv2::undefined);
          nv.read(reinterpret_cast<const Exiv2::byte*>(text.data()), static_cast<long>(text.size()),
                  Exiv2::invalidByteOrder);
          data[row->key].setValue(&nv);
          return true;
        }
        if (old && old->toString() == text) return false;
        SetFromText(data, row->key, text);
        return true;
      }
      default:
        YThrow(kErrUnimplemented, f);
    }
  });
}

}  // namespace vel::image
