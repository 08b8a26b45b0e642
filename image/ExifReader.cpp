#include "image/ExifReader.h"

#include <exiv2/exiv2.hpp>

#include <limits>

#include "framework/ItemProperties.h"
#include "image/ExifConversions.h"
#include "image/Exiv2Image.h"
#include "image/GpsTags.h"
#include "image/ImageErrors.h"
#include "ylib/YLogging.h"

namespace vel::image {

using vel::framework::Put;

void ReadExifProperties(std::u16string_view path, IVelProperties* properties, const YFrame& f) {
  try {
    std::unique_ptr<Exiv2::Image> image = OpenExiv2Image(path, f);
    image->readMetadata();
    Exiv2::ExifData& data = image->exifData();
    if (data.empty()) return;
    GeoTriple geo{std::numeric_limits<double>::quiet_NaN(), 0.0, 0.0};
    bool gpsSeen = false;
    // Sorted by key, every GPS value comes before its reference.
    data.sortByKey();
    const bool debug = CYLogging::Instance().IsDebuggingLevelInternal();
    for (const Exiv2::Exifdatum& datum : data) {
      const std::string key = datum.key();
      if (debug) CYLogging::Log(kYLogDebug, u"Found EXIF\n- Tag: %S\n- Value: %S\n", key, datum.toString());
      const ConvertedProperty property = Exiv2Prop(key, datum.value());
      if (property.value.vt != VT_EMPTY) Put(properties, property.name, property.nameSpace, property.value);
      if (ReadGeoTag(data, datum, geo)) gpsSeen = true;
    }
    const auto thumbnail = data.findKey(Exiv2::ExifKey("Exif.Thumbnail.JPEGInterchangeFormatLength"));
    if (thumbnail != data.end() && thumbnail->count() > 0 && thumbnail->toLong(0) > 0)
      Put(properties, u"ThumbnailPresent", _variant_t(true));
    if (gpsSeen) {
      Put(properties, u"lat", kGeoNamespace, _variant_t(geo.latitude));
      Put(properties, u"long", kGeoNamespace, _variant_t(geo.longitude));
    }
  } catch (const Exiv2::AnyError& e) {
    LogExiv2Error(e, kCodeExiv2Read, f);
  }
}

}  // namespace vel::image
