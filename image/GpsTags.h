// GPS positions in EXIF: reading the latitude, longitude and altitude tags
// into decimal degrees (south, west and below sea level negative), and
// writing a latitude and longitude back as reference letters and
// degree/minute/second rationals.
//
// Reading is forgiving: an empty reference text is no reference, fewer than
// three components count the missing ones as 0, and unsigned rationals are
// read as unsigned. Writing touches only what differs: a coordinate equal to
// the one the file holds (decoded exactly as reading decodes it) is left as
// stored, a NaN or infinite coordinate is not written, and 0.0 for both means
// "no position" (the tags stay as they are). Altitude is never written.
//
// Thread safety: pure functions over the caller's data; any thread.
#pragma once

namespace Exiv2 {
class ExifData;
class Exifdatum;
}  // namespace Exiv2

namespace vel::image {

struct GeoTriple {
  double latitude;
  double longitude;
  double altitude;
};

// Updates geo from datum when it is one of the six GPS position tags
// (GPSLatitude, GPSLatitudeRef, GPSLongitude, GPSLongitudeRef, GPSAltitude,
// GPSAltitudeRef) and says whether it was. A reference negates what its value
// tag stored, so the value must come first (as sorting the data by key does).
bool ReadGeoTag(const Exiv2::ExifData& data, const Exiv2::Exifdatum& datum, GeoTriple& geo);

// Writes latitude and longitude (decimal degrees) into data; true when data changed.
bool WriteGeoTag(double latitude, double longitude, Exiv2::ExifData& data);

}  // namespace vel::image
