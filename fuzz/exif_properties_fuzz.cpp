// libFuzzer target for the image plugin's EXIF-to-property conversions:
// arbitrary bytes parsed as an EXIF (TIFF-structured) block by the library,
// every datum turned into a property and offered to the GPS reader, then the
// data written back through the property writer and the GPS writer; and the
// same bytes read as each value type and converted directly, so odd counts,
// sizes and denominators reach the converters whatever the parser keeps.
#include <exiv2/exiv2.hpp>

#include <cstddef>
#include <cstdint>
#include <limits>

#include "image/ExifConversions.h"
#include "image/GpsTags.h"
#include "image/ImagePropertyMap.h"
#include "ylib/YException.h"

namespace {

void Convert(const Exiv2::ExifData& data, const Exiv2::Exifdatum& datum, vel::image::GeoTriple& geo) {
  try {
    const vel::image::ConvertedProperty p = vel::image::Exiv2Prop(datum.key(), datum.value());
    vel::image::ReadGeoTag(data, datum, geo);
    if (p.name) {
      Exiv2::ExifData copy;
      vel::image::Prop2Exiv(copy, p.name, p.nameSpace, p.value);
    }
  } catch (const CYException&) {
    // A report is a clean end.
  } catch (const Exiv2::AnyError&) {
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Exiv2::LogMsg::setLevel(Exiv2::LogMsg::mute);
  if (size > 0 && size < static_cast<std::size_t>(std::numeric_limits<long>::max())) {
    // The first byte picks a row and a type; the rest is the value.
    const ExifPropertyMapEntry& row = kExifPropertyMap[data[0] % 34];
    static const Exiv2::TypeId kTypes[] = {Exiv2::unsignedByte,     Exiv2::asciiString, Exiv2::unsignedShort,
                                           Exiv2::unsignedLong,     Exiv2::unsignedRational, Exiv2::undefined,
                                           Exiv2::signedShort,      Exiv2::signedLong,  Exiv2::signedRational,
                                           Exiv2::tiffFloat};
    const Exiv2::TypeId type = kTypes[(data[0] / 34) % std::size(kTypes)];
    auto value = Exiv2::Value::create(type);
    value->read(data + 1, static_cast<long>(size - 1), (data[0] & 1) ? Exiv2::littleEndian : Exiv2::bigEndian);
    Exiv2::ExifData one;
    one[row.key].setValue(value.get());
    vel::image::GeoTriple geo{0.0, 0.0, 0.0};
    for (const Exiv2::Exifdatum& datum : one) Convert(one, datum, geo);
  }
  try {
    Exiv2::ExifData exif;
    Exiv2::ExifParser::decode(exif, data, static_cast<std::uint32_t>(size));
    exif.sortByKey();
    vel::image::GeoTriple geo{0.0, 0.0, 0.0};
    for (const Exiv2::Exifdatum& datum : exif) Convert(exif, datum, geo);
    vel::image::WriteGeoTag(geo.latitude, geo.longitude, exif);
  } catch (const Exiv2::AnyError&) {
  } catch (const CYException&) {
  }
  return 0;
}
