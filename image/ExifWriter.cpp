#include "image/ExifWriter.h"

#include <exiv2/exiv2.hpp>

#include "framework/ItemProperties.h"
#include "image/ExifConversions.h"
#include "image/Exiv2Image.h"
#include "image/GpsTags.h"
#include "image/ImageErrors.h"

namespace vel::image {
namespace {

using vel::framework::Exists;
using vel::framework::ForEachProperty;
using vel::framework::PropertiesOf;
using vel::framework::PropertyName;
using vel::framework::PropertyNamespace;

// A geo coordinate of the item as a double; 0.0 when the item has none.
double Coordinate(IVelProperties* properties, const char16_t* name) {
  if (!Exists(properties, name, kGeoNamespace)) return 0.0;
  _variant_t value;
  YCheckHr(properties->get_Value(_bstr_t(name), _bstr_t(kGeoNamespace), value.GetAddress()));
  if (value.vt == VT_EMPTY) return 0.0;
  value.ChangeType(VT_R8);
  return value.dblVal;
}

}  // namespace

void WriteExifProperties(std::u16string_view path, IVelItem* item, const YFrame& f) {
  ComPtr<IVelProperties> properties = PropertiesOf(item, f);
  try {
    EditExiv2Image(path, f, [&](Exiv2::Image& image) {
      Exiv2::ExifData& data = image.exifData();
      bool changed = false;
      ForEachProperty(properties, f, [&](IVelProperty* property) {
        _variant_t value;
        YCheckHr(property->get_Value(value.GetAddress()));
        if (Prop2Exiv(data, PropertyName(property), PropertyNamespace(property), value)) changed = true;
      });
      const double latitude = Coordinate(properties, u"lat");
      const double longitude = Coordinate(properties, u"long");
      if (WriteGeoTag(latitude, longitude, data)) changed = true;
      return changed;
    });
  } catch (const Exiv2::AnyError& e) {
    LogExiv2Error(e, kCodeExiv2Write, f);
  }
}

}  // namespace vel::image
