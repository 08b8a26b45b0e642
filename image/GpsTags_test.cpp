// GPS tags to decimal degrees and back, on EXIF data built in the test.
#include "image/GpsTags.h"

#include <exiv2/exiv2.hpp>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <map>
#include <string>

namespace {

using vel::image::GeoTriple;
using vel::image::ReadGeoTag;
using vel::image::WriteGeoTag;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// The triple ReadMetadata would make of these tags (sorted by key, each
// datum offered in turn), and whether any was a GPS position tag.
GeoTriple Read(const std::map<std::string, std::string>& tags, bool* seen = nullptr) {
  Exiv2::ExifData data;
  for (const auto& [key, text] : tags) data[key] = text;
  data.sortByKey();
  GeoTriple geo{kNaN, 0.0, 0.0};
  bool any = false;
  for (const Exiv2::Exifdatum& datum : data) any = ReadGeoTag(data, datum, geo) || any;
  if (seen) *seen = any;
  return geo;
}

TEST(GpsTags, ReadsDegreesWithTheirReferences) {
  struct Row {
    const char* name;
    std::map<std::string, std::string> tags;
    double latitude;  // NaN: not set
    double longitude;
    double altitude;
  };
  const Row rows[] = {
      {"south", {{"Exif.GPSInfo.GPSLatitude", "60/1 10/1 30/1"}, {"Exif.GPSInfo.GPSLatitudeRef", "S"}},
       -60.175, 0.0, 0.0},
      {"north and west",
       {{"Exif.GPSInfo.GPSLatitude", "45/1 30/1 0/1"},
        {"Exif.GPSInfo.GPSLatitudeRef", "N"},
        {"Exif.GPSInfo.GPSLongitude", "10/1 15/1 0/1"},
        {"Exif.GPSInfo.GPSLongitudeRef", "W"}},
       45.5, -10.25, 0.0},
      {"empty reference is none", {{"Exif.GPSInfo.GPSLatitude", "45/1 30/1 0/1"}, {"Exif.GPSInfo.GPSLatitudeRef", ""}},
       45.5, 0.0, 0.0},
      {"lower-case s does not count", {{"Exif.GPSInfo.GPSLatitude", "1/1 0/1 0/1"}, {"Exif.GPSInfo.GPSLatitudeRef", "s"}},
       1.0, 0.0, 0.0},
      {"two components", {{"Exif.GPSInfo.GPSLongitude", "12/1 30/1"}, {"Exif.GPSInfo.GPSLongitudeRef", "W"}}, kNaN,
       -12.5, 0.0},
      {"one component", {{"Exif.GPSInfo.GPSLongitude", "7/2"}}, kNaN, 3.5, 0.0},
      {"big unsigned rationals", {{"Exif.GPSInfo.GPSLatitude", "3000000000/100000000 0/1 0/1"}}, 30.0, 0.0, 0.0},
      {"zero denominator", {{"Exif.GPSInfo.GPSLatitude", "5/0 30/1 0/1"}}, 0.5, 0.0, 0.0},
      {"altitude only", {{"Exif.GPSInfo.GPSAltitude", "120/1"}, {"Exif.GPSInfo.GPSAltitudeRef", "1"}}, kNaN, 0.0,
       -120.0},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    bool seen = false;
    const GeoTriple geo = Read(r.tags, &seen);
    EXPECT_TRUE(seen);
    if (std::isnan(r.latitude)) {
      EXPECT_TRUE(std::isnan(geo.latitude)) << geo.latitude;
    } else {
      EXPECT_NEAR(geo.latitude, r.latitude, 1e-9);
    }
    EXPECT_NEAR(geo.longitude, r.longitude, 1e-9);
    EXPECT_NEAR(geo.altitude, r.altitude, 1e-9);
  }
  bool seen = true;
  Read({{"Exif.GPSInfo.GPSSpeed", "5/1"}, {"Exif.Image.Make", "x"}}, &seen);
  EXPECT_FALSE(seen);
}

std::string Text(Exiv2::ExifData& data, const char* key) {
  const auto found = data.findKey(Exiv2::ExifKey(key));
  return found == data.end() ? "(absent)" : found->toString();
}

TEST(GpsTags, WritesReferencesAndTriples) {
  Exiv2::ExifData data;
  EXPECT_TRUE(WriteGeoTag(45.5, -10.25, data));
  EXPECT_EQ(Text(data, "Exif.GPSInfo.GPSLatitudeRef"), "N");
  EXPECT_EQ(Text(data, "Exif.GPSInfo.GPSLatitude"), "45/1 30/1 0/1");
  EXPECT_EQ(Text(data, "Exif.GPSInfo.GPSLongitudeRef"), "W");
  EXPECT_EQ(Text(data, "Exif.GPSInfo.GPSLongitude"), "10/1 15/1 0/1");
  EXPECT_EQ(data.findKey(Exiv2::ExifKey("Exif.GPSInfo.GPSLatitude"))->typeId(), Exiv2::unsignedRational);
  // The same position again changes nothing.
  EXPECT_FALSE(WriteGeoTag(45.5, -10.25, data));
  EXPECT_TRUE(WriteGeoTag(-45.5, -10.25, data));
  EXPECT_EQ(Text(data, "Exif.GPSInfo.GPSLatitudeRef"), "S");
  EXPECT_EQ(Text(data, "Exif.GPSInfo.GPSLatitude"), "45/1 30/1 0/1");
}

TEST(GpsTags, LeavesTheTagsWhenThereIsNothingNewToWrite) {
  struct Row {
    const char* name;
    double latitude;
    double longitude;
  };
  const Row rows[] = {
      {"no position", 0.0, 0.0},
      {"not a number", kNaN, kNaN},
      {"infinite", std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity()},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    Exiv2::ExifData data;
    data["Exif.GPSInfo.GPSLatitudeRef"] = std::string("S");
    data["Exif.GPSInfo.GPSLatitude"] = std::string("33/1 51/1 2160/100");
    EXPECT_FALSE(WriteGeoTag(r.latitude, r.longitude, data));
    EXPECT_EQ(Text(data, "Exif.GPSInfo.GPSLatitude"), "33/1 51/1 2160/100");
    EXPECT_EQ(Text(data, "Exif.GPSInfo.GPSLongitude"), "(absent)");
  }
  // A position read from the file and written back unchanged keeps its
  // stored rationals, which the writer would spell differently.
  Exiv2::ExifData data;
  data["Exif.GPSInfo.GPSLatitudeRef"] = std::string("S");
  data["Exif.GPSInfo.GPSLatitude"] = std::string("33/1 51/1 2160/100");
  data["Exif.GPSInfo.GPSLongitudeRef"] = std::string("E");
  data["Exif.GPSInfo.GPSLongitude"] = std::string("151/1 12/1 3999/100");
  data.sortByKey();
  GeoTriple geo{kNaN, 0.0, 0.0};
  for (const Exiv2::Exifdatum& datum : data) ReadGeoTag(data, datum, geo);
  EXPECT_FALSE(WriteGeoTag(geo.latitude, geo.longitude, data));
  EXPECT_EQ(Text(data, "Exif.GPSInfo.GPSLatitude"), "33/1 51/1 2160/100");
  EXPECT_EQ(Text(data, "Exif.GPSInfo.GPSLongitude"), "151/1 12/1 3999/100");
  // Another latitude is written; the longitude stays as stored.
  EXPECT_TRUE(WriteGeoTag(geo.latitude + 1.0, geo.longitude, data));
  EXPECT_EQ(Text(data, "Exif.GPSInfo.GPSLongitude"), "151/1 12/1 3999/100");
  EXPECT_NE(Text(data, "Exif.GPSInfo.GPSLatitude"), "33/1 51/1 2160/100");
}

}  // namespace
