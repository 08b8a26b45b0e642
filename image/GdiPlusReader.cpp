#include "image/GdiPlusReader.h"

#include <cstring>
#include <string>
#include <vector>

#include "framework/ItemProperties.h"
#include "image/ImagePropertyMap.h"
#include "image/MetadataText.h"
#include "platform/base/ByteOrder.h"
#include "platform/base/UniqueAny.h"
#include "platform/gdiplus/gdiplus.h"
#include "ylib/YLogging.h"

namespace vel::image {
namespace {

constexpr char16_t kSource[] = u"GdiPlusReader";

bool IsIntegerType(VARTYPE vt) { return vt == VT_I2 || vt == VT_I4 || (vt >= VT_I1 && vt <= VT_UINT); }

void LogLeftOut(std::uint32_t tag, const char* why) {
  CYLogging::Log(kYLogInfo, u"GDI+ property 0x%04X %S\n", tag, why);
}

// GDI+ hands numbers over in the platform's byte order: little-endian.
std::uint16_t U16(std::span<const std::uint8_t> v) { return vel::LoadU16Unchecked(v.data(), vel::ByteOrder::kLittle); }
std::uint32_t U32(std::span<const std::uint8_t> v, std::size_t at = 0) {
  return vel::LoadU32Unchecked(v.data() + at, vel::ByteOrder::kLittle);
}

// A GDI+ start-up token, shut down when its owner goes.
struct GdiPlusTokenTraits {
  using Type = ULONG_PTR;
  static Type Invalid() noexcept { return 0; }
  static bool IsValid(Type token) noexcept { return token != 0; }
  static void Close(Type token) noexcept { Gdiplus::GdiplusShutdown(token); }
};
using UniqueGdiPlusToken = vel::UniqueAny<GdiPlusTokenTraits>;

}  // namespace

ConvertedProperty GDI2Prop(std::uint32_t tag, std::uint16_t type, std::span<const std::uint8_t> value) {
  return YErrorFrame(VEL_FRAME(u"GDI2Prop"), [&]() {
    ConvertedProperty out;
    const GdiPlusPropertyMapEntry* row = FindGdiPlusRow(tag);
    if (!row) return out;
    out.name = row->name;
    out.nameSpace = row->nameSpace;
    switch (type) {
      case Gdiplus::PropertyTagTypeByte:
        if (!value.empty()) out.value = _variant_t(static_cast<BYTE>(value[0]));
        break;
      case Gdiplus::PropertyTagTypeASCII: {
        const std::string text(reinterpret_cast<const char*>(value.data()), value.size());
        if (row->variantType == VT_DATE)
          out.value = ParseExifDate(text.c_str());
        else
          out.value = _variant_t(std::u16string_view(DecodeMetadataText(text, CP_ACP)));
        break;
      }
      case Gdiplus::PropertyTagTypeShort:
        if (value.size() >= 2) out.value = _variant_t(static_cast<short>(U16(value)));
        break;
      case Gdiplus::PropertyTagTypeLong:
      case Gdiplus::PropertyTagTypeSLONG:
        if (value.size() >= 4) out.value = _variant_t(static_cast<int>(U32(value)), VT_I4);
        break;
      case Gdiplus::PropertyTagTypeRational:
      case Gdiplus::PropertyTagTypeSRational: {
        if (value.size() < 8) break;
        const std::uint32_t n = U32(value), d = U32(value, 4);
        if (d == 0) {
          LogLeftOut(tag, "contained an invalid rational value");
          break;
        }
        out.value = type == Gdiplus::PropertyTagTypeRational
                        ? _variant_t(static_cast<double>(n) / static_cast<double>(d))
                        : _variant_t(static_cast<double>(static_cast<std::int32_t>(n)) /
                                     static_cast<double>(static_cast<std::int32_t>(d)));
        break;
      }
      case Gdiplus::PropertyTagTypeUndefined: {
        if (row->variantType == VT_BSTR) {
          const std::string text(reinterpret_cast<const char*>(value.data()), value.size());
          out.value = _variant_t(std::u16string_view(DecodeMetadataText(text, CP_ACP)));
        } else if (IsIntegerType(row->variantType)) {
          if (value.size() == 4 && row->variantType == VT_UI4)
            out.value = _variant_t(static_cast<unsigned int>(U32(value)), VT_UI4);
          else if (value.size() == 4 && row->variantType == VT_I4)
            out.value = _variant_t(static_cast<int>(U32(value)), VT_I4);
          else
            LogLeftOut(tag, "held an undefined value of no integer size");
        }
        break;
      }
      default:
        LogLeftOut(tag, "has a type the plugin does not read");
        break;
    }
    return out;
  });
}

void ReadGdiPlusProperties(std::u16string_view path, IVelProperties* properties, const YFrame& f) {
  UniqueGdiPlusToken token;
  const Gdiplus::GdiplusStartupInput input;
  if (Gdiplus::GdiplusStartup(token.put(), &input, nullptr) != Gdiplus::Ok) return;
  const std::u16string file(path);
  Gdiplus::Image image(file.c_str());
  const UINT count = image.GetPropertyCount();
  if (count == 0) return;
  std::vector<Gdiplus::PROPID> ids(count);
  if (image.GetPropertyIdList(count, ids.data()) != Gdiplus::Ok) ids.clear();
  for (const Gdiplus::PROPID id : ids) {
    const UINT size = image.GetPropertyItemSize(id);
    if (size < sizeof(Gdiplus::PropertyItem)) continue;
    // Aligned for the record at its start.
    std::vector<std::uint64_t> buffer((size + sizeof(std::uint64_t) - 1) / sizeof(std::uint64_t));
    auto* item = reinterpret_cast<Gdiplus::PropertyItem*>(buffer.data());
    if (image.GetPropertyItem(id, size, item) != Gdiplus::Ok) continue;
    // The value must lie in the buffer; only the bytes it has there are read.
    const auto* begin = reinterpret_cast<const std::uint8_t*>(buffer.data());
    const auto* end = begin + size;
    const auto* value = static_cast<const std::uint8_t*>(item->value);
    if (!value || value < begin || value > end) continue;
    const std::size_t length = std::min<std::size_t>(item->length, static_cast<std::size_t>(end - value));
    const ConvertedProperty property = GDI2Prop(item->id, item->type, {value, length});
    if (property.value.vt != VT_EMPTY) vel::framework::Put(properties, property.name, property.nameSpace, property.value);
  }
  vel::framework::Put(properties, u"ThumbnailPresent", _variant_t(false));
  const UINT dimensions = image.GetFrameDimensionsCount();
  if (dimensions == 0) return;
  std::vector<GUID> list(dimensions);
  if (image.GetFrameDimensionsList(list.data(), dimensions) != Gdiplus::Ok) return;
  vel::framework::Put(properties, u"FrameCount", _variant_t(static_cast<int>(image.GetFrameCount(&list[0])), VT_INT));
}

}  // namespace vel::image
