#include "image/GpsTags.h"

#include <exiv2/exiv2.hpp>

#include <cmath>
#include <cstdio>
#include <optional>
#include <string>

#include "image/ExifValues.h"
#include "image/Rationals.h"

namespace vel::image {
namespace {

constexpr char kLatitude[] = "Exif.GPSInfo.GPSLatitude";
constexpr char kLatitudeRef[] = "Exif.GPSInfo.GPSLatitudeRef";
constexpr char kLongitude[] = "Exif.GPSInfo.GPSLongitude";
constexpr char kLongitudeRef[] = "Exif.GPSInfo.GPSLongitudeRef";
constexpr char kAltitude[] = "Exif.GPSInfo.GPSAltitude";
constexpr char kAltitudeRef[] = "Exif.GPSInfo.GPSAltitudeRef";

// Degrees, minutes and seconds; a missing component is 0.
double Angle(const Exiv2::Value& value) {
  return NumberAt(value, 1) / 60.0 + NumberAt(value, 0) + NumberAt(value, 2) / 3600.0;
}

// Whether a reference text starts with letter; an empty text is no reference.
bool RefIs(const Exiv2::Value& value, char letter) {
  const std::string text = value.toString();
  return !text.empty() && text[0] == letter;
}

const Exiv2::Exifdatum* Find(Exiv2::ExifData& data, const char* key) {
  const auto found = data.findKey(Exiv2::ExifKey(key));
  return found != data.end() ? &*found : nullptr;
}

// The coordinate the file holds, as ReadGeoTag reads it; nothing without its value tag.
std::optional<double> StoredCoordinate(Exiv2::ExifData& data, const char* valueKey, const char* refKey, char negative) {
  const Exiv2::Exifdatum* value = Find(data, valueKey);
  if (!value) return std::nullopt;
  double angle = Angle(value->value());
  const Exiv2::Exifdatum* ref = Find(data, refKey);
  if (ref && RefIs(ref->value(), negative)) angle = -angle;
  return angle;
}

std::string TripleText(double angle) {
  const double deg = std::floor(angle);
  const double f = (angle - deg) * 60.0;
  const double min = std::floor(f);
  const double sec = (f - min) * 60.0;
  const UnsignedRational d = Float2URational(deg), m = Float2URational(min), s = Float2URational(sec);
  char text[96];
  std::snprintf(text, sizeof text, "%u/%u %u/%u %u/%u", d.numerator, d.denominator, m.numerator, m.denominator,
                s.numerator, s.denominator);
  return text;
}

// Gives key the text when its datum says something else.
bool SetText(Exiv2::ExifData& data, const char* key, const std::string& text) {
  const auto found = data.findKey(Exiv2::ExifKey(key));
  if (found != data.end()) {
    if (found->toString() == text) return false;
    data.erase(found);
  }
  data[key] = text;
  return true;
}

bool WriteCoordinate(Exiv2::ExifData& data, double coordinate, const char* valueKey, const char* refKey,
                     char positive, char negative) {
  if (!std::isfinite(coordinate)) return false;
  if (StoredCoordinate(data, valueKey, refKey, negative) == coordinate) return false;
  const char ref[2] = {coordinate < 0 ? negative : positive, 0};
  bool changed = SetText(data, refKey, ref);
  changed = SetText(data, valueKey, TripleText(std::fabs(coordinate))) || changed;
  return changed;
}

}  // namespace

bool ReadGeoTag(const Exiv2::ExifData& data, const Exiv2::Exifdatum& datum, GeoTriple& geo) {
  const std::string key = datum.key();
  const Exiv2::Value& value = datum.value();
  if (key == kLatitude) {
    geo.latitude = Angle(value);
  } else if (key == kLongitude) {
    geo.longitude = Angle(value);
  } else if (key == kLatitudeRef) {
    if (RefIs(value, 'S')) geo.latitude = -geo.latitude;
  } else if (key == kLongitudeRef) {
    if (RefIs(value, 'W')) geo.longitude = -geo.longitude;
  } else if (key == kAltitude) {
    geo.altitude = NumberAt(value, 0);
  } else if (key == kAltitudeRef) {
    if (RefIs(value, '1')) geo.altitude = -geo.altitude;
  } else {
    return false;
  }
  return true;
}

bool WriteGeoTag(double latitude, double longitude, Exiv2::ExifData& data) {
  if (latitude == 0.0 && longitude == 0.0) return false;
  bool changed = WriteCoordinate(data, latitude, kLatitude, kLatitudeRef, 'N', 'S');
  changed = WriteCoordinate(data, longitude, kLongitude, kLongitudeRef, 'E', 'W') || changed;
  return changed;
}

}  // namespace vel::image
