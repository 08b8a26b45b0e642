// Images through velitems as a person runs it, made in the test by ffmpeg
// and exiftool (PNG chunks put in or left out by the test): what the image plugin reads must be what the
// tools wrote, what it writes must be what exiftool then reads, a second
// identical write and a read-only file leave the file as it was. Skipped
// when ffmpeg or exiftool is not installed.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "testing/ChildProcess.h"
#include "testing/CliTest.h"
#include "testing/ItemJson.h"

using namespace vel::testing;

namespace {

constexpr const char* kCameraTags =
    "-Make='Vel Camera' -Model=VC-1 -FNumber=2.8 -ExposureTime=1/250 -ExposureCompensation=-0.33333333 -ISO=200"
    " -ExifVersion=0230 '-DateTimeOriginal=2008:10:05 14:03:59' -GPSLatitude=22.9519 -GPSLatitudeRef=S"
    " -GPSLongitude=43.2105 -GPSLongitudeRef=W -Keywords=Sea -Keywords=Beach";

std::uint32_t Crc32(const std::string& bytes) {
  std::uint32_t crc = 0xFFFFFFFFu;
  for (const char c : bytes) {
    crc ^= static_cast<std::uint8_t>(c);
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

std::string Big32(std::uint32_t v) {
  return {static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8), static_cast<char>(v)};
}

// The PNG's chunks rebuilt: ancillary chunks of the names in drop left out,
// the extra chunks (type and data) put in after IHDR.
std::string RebuildPng(const std::string& png, const std::string& drop,
                       const std::vector<std::pair<std::string, std::string>>& extra) {
  std::string out = png.substr(0, 8);
  for (std::size_t at = 8; at + 12 <= png.size();) {
    const std::uint32_t length = (std::uint32_t{static_cast<std::uint8_t>(png[at])} << 24) |
                                 (std::uint32_t{static_cast<std::uint8_t>(png[at + 1])} << 16) |
                                 (std::uint32_t{static_cast<std::uint8_t>(png[at + 2])} << 8) |
                                 static_cast<std::uint8_t>(png[at + 3]);
    const std::string type = png.substr(at + 4, 4);
    if (drop.find(type) == std::string::npos) out += png.substr(at, 12 + length);
    if (type == "IHDR") {
      for (const auto& [name, data] : extra) out += Big32(static_cast<std::uint32_t>(data.size())) + name + data +
                                                     Big32(Crc32(name + data));
    }
    at += 12 + length;
  }
  return out;
}

class CliImageTest : public CliTest {
 protected:
  void SetUp() override {
    CliTest::SetUp();
    if (!HaveTool("ffmpeg") || !HaveTool("exiftool")) GTEST_SKIP() << "ffmpeg or exiftool is not installed";
  }
  // A picture of the test pattern at name, made by ffmpeg with args.
  std::string Picture(const std::string& name, const std::string& args = "-frames:v 1") {
    const std::string path = dir_ + "/" + name;
    EXPECT_TRUE(RunFfmpeg("-f lavfi -i testsrc=size=320x240 " + args + " -y '" + path + "'")) << name;
    return path;
  }
  static void Exiftool(const std::string& path, const std::string& tags) {
    const ProcessResult r = RunCommand("exiftool -q -overwrite_original " + tags + " '" + path + "'");
    EXPECT_EQ(r.status, 0) << tags;
  }
  static std::string Tag(const std::string& path, const std::string& tag, bool numeric = false) {
    std::string out =
        RunCommand("exiftool -s -s -s " + std::string(numeric ? "-n " : "") + "-" + tag + " '" + path + "'").out;
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
    return out;
  }
  std::map<std::string, JsonProperty> Read(const std::string& path) {
    const Result r = Velitems("read --json '" + path + "'");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("\"plugin\":\"Image\",\"class\":\"Image\""), std::string::npos) << r.out;
    return ItemJsonProperties(r.out);
  }
};

TEST_F(CliImageTest, ReadsExiftoolPhotosInBothByteOrders) {
  for (const char* order : {"II", "MM"}) {
    SCOPED_TRACE(order);
    const std::string path = Picture(std::string("camera-") + order + ".jpg");
    Exiftool(path, std::string("-ExifByteOrder=") + order + " " + kCameraTags);
    auto p = Read(path);
    EXPECT_EQ(p["ItemType"].value, "\"image/jpeg\"");
    EXPECT_EQ(p["Width"].vt, "VT_I4");
    EXPECT_EQ(p["Width"].value, "320");
    EXPECT_EQ(p["Height"].value, "240");
    EXPECT_EQ(p["Make"].value, "\"Vel Camera\"");
    EXPECT_EQ(p["Model"].value, "\"VC-1\"");
    EXPECT_EQ(p["FNumber"].vt, "VT_R8");
    EXPECT_DOUBLE_EQ(std::atof(p["FNumber"].value.c_str()), 2.8);
    EXPECT_DOUBLE_EQ(std::atof(p["ExposureTime"].value.c_str()), 0.004);
    EXPECT_NEAR(std::atof(p["ExposureBiasValue"].value.c_str()), -1.0 / 3.0, 1e-6);
    EXPECT_EQ(p["ISOSpeedRatings"].vt, "VT_UI2");
    EXPECT_EQ(p["ISOSpeedRatings"].value, "200");
    EXPECT_EQ(p["ExifVersion"].value, std::to_string('0' | ('2' << 8) | ('3' << 16) | ('0' << 24)));
    EXPECT_EQ(p["DateTimeOriginal"].value, "\"2008-10-05T14:03:59.000\"");
    EXPECT_EQ(p["CreationDate"].value, "\"2008-10-05T14:03:59.000\"");
    EXPECT_NEAR(std::atof(p["lat"].value.c_str()), -22.9519, 1e-6);
    EXPECT_NEAR(std::atof(p["long"].value.c_str()), -43.2105, 1e-6);
    EXPECT_EQ(p.count("ThumbnailPresent"), 0u);
  }
  const std::string thumb = Picture("thumb.jpg", "-frames:v 1 -s 80x60");
  const std::string withThumb = Picture("with-thumb.jpg");
  Exiftool(withThumb, "-Make=x '-ThumbnailImage<=" + thumb + "'");
  EXPECT_EQ(Read(withThumb)["ThumbnailPresent"].value, "true");
  // A name in Chinese characters keeps its EXIF.
  const std::string chinese = dir_ + "/\xE7\x85\xA7\xE7\x89\x87.jpg";
  std::filesystem::copy_file(withThumb, chinese);
  EXPECT_EQ(Read(chinese)["Make"].value, "\"x\"");
}

TEST_F(CliImageTest, ReadsTheOtherFormats) {
  struct Case {
    const char* name;
    const char* file;
    std::function<void(const std::string&)> make;
    const char* mime;
    const char* width;
    const char* height;
    // ThumbnailPresent and FrameCount, null when absent: the GDI+ path sets
    // both only for an image with property items (the PNG chunks gAMA and
    // pHYs give some, a GIF has its own); the EXIF path sets only a true
    // ThumbnailPresent.
    const char* thumbnail;
    const char* frames;
  };
  const Case cases[] = {
      {"TIFF with EXIF", "picture.tif",
       [&](const std::string& path) {
         EXPECT_TRUE(RunFfmpeg("-f lavfi -i testsrc=size=64x48 -frames:v 1 -y " + path));
         Exiftool(path, "-Make='Vel Camera'");
       },
       "image/tiff", "64", "48", nullptr, nullptr},
      {"PNG without gAMA and pHYs", "plain.png",
       [&](const std::string& path) {
         EXPECT_TRUE(RunFfmpeg("-f lavfi -i testsrc=size=40x30 -frames:v 1 -y " + path));
         WriteText(path, RebuildPng(ReadText(path), "gAMA pHYs", {}));
       },
       "image/png", "40", "30", nullptr, nullptr},
      {"PNG with gAMA and pHYs", "gamma.png",
       [&](const std::string& path) {
         EXPECT_TRUE(RunFfmpeg("-f lavfi -i testsrc=size=24x16 -frames:v 1 -y " + path));
         // Gamma 1/2.2 (45455 / 100000) and 2835 pixels a metre (72 dpi) each way.
         WriteText(path, RebuildPng(ReadText(path), "gAMA pHYs",
                                    {{"gAMA", Big32(45455)}, {"pHYs", Big32(2835) + Big32(2835) + std::string(1, '\1')}}));
         EXPECT_EQ(Tag(path, "Gamma", true), "2.2");
         EXPECT_EQ(Tag(path, "PixelsPerUnitX", true), "2835");
       },
       "image/png", "24", "16", "false", "1"},
      {"animated GIF", "spinner.gif",
       [&](const std::string& path) {
         EXPECT_TRUE(RunFfmpeg("-f lavfi -i testsrc=size=48x36:rate=5 -t 1 -y " + path));
       },
       "image/gif", "48", "36", "false", "5"},
      {"BMP", "picture.bmp",
       [&](const std::string& path) { EXPECT_TRUE(RunFfmpeg("-f lavfi -i testsrc=size=30x20 -frames:v 1 -y " + path)); },
       "image/bmp", "30", "20", nullptr, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = dir_ + "/" + c.file;
    c.make(path);
    auto p = Read(path);
    EXPECT_EQ(p["ItemType"].value, std::string("\"") + c.mime + "\"");
    EXPECT_EQ(p["Width"].vt, "VT_INT");
    EXPECT_EQ(p["Width"].value, c.width);
    EXPECT_EQ(p["Height"].vt, "VT_INT");
    EXPECT_EQ(p["Height"].value, c.height);
    for (const auto& [name, vt, value] : {std::tuple{"ThumbnailPresent", "VT_BOOL", c.thumbnail},
                                           std::tuple{"FrameCount", "VT_INT", c.frames}}) {
      SCOPED_TRACE(name);
      const auto found = p.find(name);
      if (!value) {
        EXPECT_EQ(found, p.end()) << found->second.value;
        continue;
      }
      ASSERT_NE(found, p.end());
      EXPECT_EQ(found->second.vt, vt);
      EXPECT_EQ(found->second.value, value);
    }
    if (std::string(c.mime) == "image/tiff") {
      EXPECT_EQ(p["Make"].value, "\"Vel Camera\"");
    }
    const Result v = Velitems("validate " + path);
    EXPECT_NE(v.out.find("\t0\tOK"), std::string::npos) << v.out << v.err;
  }
}

TEST_F(CliImageTest, WritesWhatExiftoolReadsAndNothingTheSecondTime) {
  const std::string path = Picture("write.jpg");
  Exiftool(path, std::string("-ExifByteOrder=MM ") + kCameraTags);
  const std::string write = "write '" + path +
                            "' Make='Other Make' ExposureTime:VT_R8=0.004 'DateTimeOriginal:VT_DATE=2011-03-31 09:08:07'"
                            " '{http://www.w3.org/2003/01/geo/wgs84_pos#}lat:VT_R8=45.5'"
                            " '{http://www.w3.org/2003/01/geo/wgs84_pos#}long:VT_R8=-10.25'";
  Result r = Velitems(write);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Tag(path, "Make"), "Other Make");
  EXPECT_EQ(Tag(path, "ExposureTime"), "1/250");
  EXPECT_EQ(Tag(path, "DateTimeOriginal"), "2011:03:31 09:08:07");
  EXPECT_EQ(Tag(path, "GPSLatitudeRef"), "North");
  EXPECT_EQ(Tag(path, "GPS:GPSLatitude", true), "45.5");
  EXPECT_EQ(Tag(path, "GPSLongitudeRef"), "West");
  EXPECT_EQ(Tag(path, "GPS:GPSLongitude", true), "10.25");
  EXPECT_EQ(Tag(path, "Model"), "VC-1");

  r = Velitems("keywords set '" + path + "' 'Caf\xC3\xA9' Sea");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Tag(path, "Keywords"), "Caf\xC3\xA9, Sea");
  EXPECT_EQ(Tag(path, "CodedCharacterSet"), "UTF8");
  r = Velitems("keywords get '" + path + "'");
  EXPECT_EQ(r.out, "Caf\xC3\xA9\nSea\n");

  // The same write and the same keywords again: not a byte, not the time.
  const Bytes before = ReadBytes(path);
  const auto time = std::filesystem::last_write_time(path);
  ASSERT_EQ(Velitems(write).status, 0);
  ASSERT_EQ(Velitems("keywords set '" + path + "' 'Caf\xC3\xA9' Sea").status, 0);
  EXPECT_EQ(ReadBytes(path), before);
  EXPECT_EQ(std::filesystem::last_write_time(path), time);

  // A read-only photo is refused and left as it is.
  std::filesystem::permissions(path, std::filesystem::perms::owner_write, std::filesystem::perm_options::remove);
  ASSERT_EQ(Velitems("write '" + path + "' Make=Third").status, 0);
  EXPECT_NE(Velitems("keywords set '" + path + "' Other").status, 0);
  EXPECT_EQ(ReadBytes(path), before);
  EXPECT_EQ(std::filesystem::last_write_time(path), time);

  // Clearing keywords; a PNG keeps none and says so.
  std::filesystem::permissions(path, std::filesystem::perms::owner_write, std::filesystem::perm_options::add);
  ASSERT_EQ(Velitems("keywords set '" + path + "'").status, 0);
  EXPECT_EQ(Velitems("keywords get '" + path + "'").out, "");
  const std::string png = Picture("plain.png");
  const Bytes pngBytes = ReadBytes(png);
  r = Velitems("keywords set '" + png + "' Sea");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("keeps no keywords"), std::string::npos) << r.err;
  EXPECT_EQ(ReadBytes(png), pngBytes);
}

TEST_F(CliImageTest, PathAndValidation) {
  const std::string path = Picture("dated.jpg");
  Exiftool(path, kCameraTags);
  EXPECT_EQ(Velitems("path '" + path + "'").out, "2008-10\n");
  // Without a date in the file, its last write time decides.
  const std::string undated = Picture("undated.jpg");
  ASSERT_EQ(std::system(("touch -d '2009-06-15 12:00' '" + undated + "'").c_str()), 0);
  EXPECT_EQ(Velitems("path '" + undated + "'").out, "2009-06\n");

  const Result ok = Velitems("validate '" + path + "'");
  EXPECT_NE(ok.out.find("\t0\tOK"), std::string::npos) << ok.out << ok.err;
  // Not a JPEG at all: the header reader's error makes it corrupt.
  const std::string foreign = dir_ + "/foreign.jpg";
  WriteText(foreign, "this is no JPEG");
  const Result bad = Velitems("validate '" + foreign + "'");
  EXPECT_NE(bad.out.find("\t2\tFileCorrupt"), std::string::npos) << bad.out << bad.err;
  const Bytes whole = ReadBytes(path);
  const std::string broken = dir_ + "/broken.jpg";
  WriteBytes(broken, Bytes(whole.begin(), whole.begin() + 20));
  // Damaged files read what they can, and the library's complaints go to the log, not to standard error.
  const Result read = Velitems("read '" + broken + "'");
  EXPECT_EQ(read.err.find("Warning"), std::string::npos) << read.err;
  EXPECT_EQ(read.err.find("Error: "), std::string::npos) << read.err;
}

// Writes the plugin refuses (the library reads PNG and BMP, the plugin
// writes neither): the library's refusal is logged as the method's report,
// the line says nothing was stored, and the file keeps its bytes and time
// with nothing left beside it.
TEST_F(CliImageTest, RefusedWritesAreLoggedAndLeaveTheFileAlone) {
  // Level 3: the logged reports of library errors.
  HKEY logging = Create(u"Software\\Zandor\\Logging\\Zandor software");
  SetDword(logging, u"FileLogLevel", 3);
  RegCloseKey(logging);
  struct Case {
    const char* name;
    const char* file;
    const char* command;  // before the file's name
    const char* after;    // after the file's name
    const char* says;
    const char* report;  // the method of the logged report, and its code
    const char* code;
  };
  const Case cases[] = {
      {"PNG metadata", "plain.png", "write", "Make=Other", "this file keeps no tags: nothing was stored",
       "CVelItemImage::WriteMetadata", "61002"},
      {"PNG keywords", "plain.png", "keywords set", "Sea", "this file keeps no keywords; it was left as it is",
       "CVelItemImage::WriteIPTCKeywords", "61001"},
      {"BMP metadata", "plain.bmp", "write", "Make=Other", "this file keeps no tags: nothing was stored",
       "CVelItemImage::WriteMetadata", "61002"},
      {"BMP keywords", "plain.bmp", "keywords set", "Sea", "this file keeps no keywords; it was left as it is",
       "CVelItemImage::WriteIPTCKeywords", "61001"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string folder = dir_ + "/" + c.file + "-" + c.command;
    std::filesystem::create_directory(folder);
    const std::string path = folder + "/" + c.file;
    ASSERT_TRUE(RunFfmpeg("-f lavfi -i testsrc=size=32x24 -frames:v 1 -y '" + path + "'"));
    std::filesystem::last_write_time(path, std::filesystem::last_write_time(path) - std::chrono::hours(48));
    const Bytes before = ReadBytes(path);
    const auto time = std::filesystem::last_write_time(path);
    const std::size_t logged = Log().size();
    const Result r = Velitems(std::string(c.command) + " '" + path + "' " + c.after);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
    const std::string log = Log().substr(logged);
    EXPECT_NE(log.find("images is not supported"), std::string::npos) << log;
    EXPECT_NE(log.find(std::string("errorcode:\t") + c.code), std::string::npos) << log;
    EXPECT_NE(log.find(std::string(" : ") + c.report), std::string::npos) << log;
    EXPECT_EQ(ReadBytes(path), before);
    EXPECT_EQ(std::filesystem::last_write_time(path), time);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder), std::filesystem::directory_iterator()), 1);
  }
}

class CliKeywordsUsageTest : public CliTest {};

TEST_F(CliKeywordsUsageTest, WrongArgumentsAreUsageErrors) {
  struct Case {
    const char* args;
    const char* why;
  };
  const Case cases[] = {
      {"keywords", "keywords expects \"get\" or \"set\"\n"},
      {"keywords get", "keywords get expects FILE\n"},
      {"keywords get a.jpg b.jpg", "keywords get expects FILE\n"},
      {"keywords set", "keywords set expects FILE [KEYWORD ...]\n"},
      {"keywords put a.jpg Sea", "keywords expects \"get\" or \"set\", not \"put\"\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args);
    const Result r = Velitems(c.args);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err.rfind(std::string("velitems: ") + c.why, 0), 0u) << r.err;
    EXPECT_NE(r.err.find("velitems keywords get FILE"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("velitems keywords set FILE [KEYWORD ...]"), std::string::npos) << r.err;
  }
}

}  // namespace
