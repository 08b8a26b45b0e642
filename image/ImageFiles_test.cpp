// The EXIF and IPTC side of the image plugin on real files: photos made by
// ffmpeg and tagged by exiftool in the test, read into host items, written
// back through a replacing file and checked with exiftool. Skipped when
// ffmpeg or exiftool is not installed.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <exiv2/exiv2.hpp>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <csignal>
#include <filesystem>
#include <functional>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "contract/VelItemsLib.h"
#include "framework/ItemProperties.h"
#include "image/ExifReader.h"
#include "image/ExifWriter.h"
#include "image/ImageKeywords.h"
#include "platform/base/ByteWriter.h"
#include "platform/com/oleauto.h"
#include "platform/text.h"
#include "testing/ChildProcess.h"
#include "testing/FileBytes.h"
#include "testing/HostItemsTest.h"
#include "testing/Tools.h"
#include "testing/TraceCapture.h"
#include "ylib/YException.h"
#include "ylib/YVariant.h"

namespace {

using namespace vel::testing;
using vel::framework::Exists;
using vel::framework::NewItem;
using vel::framework::PropertiesOf;
using vel::framework::Put;

constexpr YFrame kFrame{u"CVelItemImage::Test", u"ImageFiles_test", 0};

// exiftool's arguments for a photo like a camera's, in one byte order.
std::string CameraTags(const char* byteOrder) {
  return std::string("-ExifByteOrder=") + byteOrder +
         " -Make='Vel Camera' -Model=VC-1 -FNumber=2.8 -ExposureTime=1/250 -ExposureCompensation=-0.33333333"
         " -ISO=200 -ExifVersion=0230 '-DateTimeOriginal=2008:10:05 14:03:59' -GPSLatitude=22.9519"
         " -GPSLatitudeRef=S -GPSLongitude=43.2105 -GPSLongitudeRef=W -Keywords=Sea -Keywords=Beach";
}

// The names in folder, sorted.
std::vector<std::string> FilesIn(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

class ImageFilesTest : public HostItemsTest {
 protected:
  void SetUp() override {
    HostItemsTest::SetUp();
    if (!HaveTool("ffmpeg") || !HaveTool("exiftool")) GTEST_SKIP() << "ffmpeg or exiftool is not installed";
  }
  // A 320x240 JPEG at name in the test's folder, tagged with exiftool's args.
  std::string Photo(const std::string& name, const std::string& tags) {
    const std::string path = dir_ + "/" + name;
    EXPECT_TRUE(RunFfmpeg("-f lavfi -i testsrc=size=320x240 -frames:v 1 -y '" + path + "'"));
    if (!tags.empty()) {
      const ProcessResult r = RunCommand("exiftool -q -overwrite_original " + tags + " '" + path + "'");
      EXPECT_EQ(r.status, 0) << tags;
    }
    return path;
  }
  // exiftool's value of one tag (-n: numbers as numbers).
  static std::string Tag(const std::string& path, const std::string& tag, bool numeric = false) {
    std::string out = RunCommand("exiftool -s -s -s " + std::string(numeric ? "-n " : "") + "-" + tag + " '" + path + "'").out;
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
    return out;
  }
  static _variant_t Value(IVelProperties* properties, const char16_t* name, const char16_t* ns = kCoreNamespace) {
    _variant_t value;
    if (!Exists(properties, name, ns)) return value;
    EXPECT_EQ(properties->get_Value(_bstr_t(name), _bstr_t(ns), value.GetAddress()), S_OK);
    return value;
  }
  static double Number(const _variant_t& value) {
    _variant_t number;
    number.ChangeType(VT_R8, &value);
    return number.dblVal;
  }
  ComPtr<IVelProperties> Read(const std::string& path) {
    ComPtr<IVelItem> item = NewItem();
    items_.push_back(item);
    ComPtr<IVelProperties> properties = PropertiesOf(item, kFrame);
    vel::image::ReadExifProperties(vel::FromUtf8(path), properties, kFrame);
    return properties;
  }
  std::vector<ComPtr<IVelItem>> items_;
};

TEST_F(ImageFilesTest, ReadsExiftoolPhotosInBothByteOrders) {
  for (const char* order : {"II", "MM"}) {
    SCOPED_TRACE(order);
    const std::string path = Photo(std::string("camera-") + order + ".jpg", CameraTags(order));
    ASSERT_EQ(Tag(path, "ExifByteOrder", true), order);
    ComPtr<IVelProperties> p = Read(path);
    EXPECT_EQ(std::u16string(Value(p, u"Make").bstrVal), u"Vel Camera");
    EXPECT_EQ(std::u16string(Value(p, u"Model").bstrVal), u"VC-1");
    EXPECT_EQ(Value(p, u"FNumber").vt, VT_R8);
    EXPECT_DOUBLE_EQ(Number(Value(p, u"FNumber")), 2.8);
    EXPECT_DOUBLE_EQ(Number(Value(p, u"ExposureTime")), 0.004);
    EXPECT_NEAR(Number(Value(p, u"ExposureBiasValue")), -1.0 / 3.0, 1e-6);
    EXPECT_EQ(Value(p, u"ISOSpeedRatings").vt, VT_UI2);
    EXPECT_EQ(Number(Value(p, u"ISOSpeedRatings")), 200);
    // "0230" as stored bytes, read as a little-endian number.
    const _variant_t version = Value(p, u"ExifVersion");
    EXPECT_EQ(version.vt, VT_UI4);
    EXPECT_EQ(version.ulVal, '0' | ('2' << 8) | ('3' << 16) | (static_cast<ULONG>('0') << 24));
    const _variant_t taken = Value(p, u"DateTimeOriginal");
    ASSERT_EQ(taken.vt, VT_DATE);
    SYSTEMTIME st{};
    VariantTimeToSystemTime(taken.date, &st);
    EXPECT_EQ(std::vector<int>({st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond}),
              std::vector<int>({2008, 10, 5, 14, 3, 59}));
    EXPECT_NEAR(Number(Value(p, u"lat", kGeoNamespace)), -22.9519, 1e-6);
    EXPECT_NEAR(Number(Value(p, u"long", kGeoNamespace)), -43.2105, 1e-6);
    // No thumbnail in these photos: the flag is absent, not false.
    EXPECT_FALSE(Exists(p, u"ThumbnailPresent", kCoreNamespace));
    const _variant_t keywords = vel::image::ReadKeywordsOfFile(vel::FromUtf8(path), kFrame);
    EXPECT_EQ(CYVariant::VariantToStringVector(keywords), (std::vector<std::u16string>{u"Sea", u"Beach"}));
  }
  const std::string thumb = Photo("thumb.jpg", "");
  const std::string withThumb = Photo("with-thumb.jpg", "-Make=x '-ThumbnailImage<=" + thumb + "'");
  EXPECT_EQ(Value(Read(withThumb), u"ThumbnailPresent").vt, VT_BOOL);
  EXPECT_EQ(Value(Read(withThumb), u"ThumbnailPresent").boolVal, VARIANT_TRUE);
  const _variant_t none = vel::image::ReadKeywordsOfFile(vel::FromUtf8(thumb), kFrame);
  EXPECT_EQ(none.vt, VT_EMPTY);
}

TEST_F(ImageFilesTest, WritesWhatDiffersAndNothingTheSecondTime) {
  const std::string path = Photo("write.jpg", CameraTags("II"));
  ComPtr<IVelItem> item = NewItem();
  ComPtr<IVelProperties> p = PropertiesOf(item, kFrame);
  Put(p, u"Make", _variant_t(u"Other Make"));
  Put(p, u"ExposureTime", _variant_t(0.004));
  SYSTEMTIME st{};
  st.wYear = 2011;
  st.wMonth = 3;
  st.wDay = 31;
  st.wHour = 9;
  st.wMinute = 8;
  st.wSecond = 7;
  DATE date = 0;
  SystemTimeToVariantTime(&st, &date);
  Put(p, u"DateTimeOriginal", _variant_t(date, VT_DATE));
  Put(p, u"lat", kGeoNamespace, _variant_t(45.5));
  Put(p, u"long", kGeoNamespace, _variant_t(-10.25));
  vel::image::WriteExifProperties(vel::FromUtf8(path), item, kFrame);
  EXPECT_EQ(Tag(path, "Make"), "Other Make");
  EXPECT_EQ(Tag(path, "ExposureTime"), "1/250");
  EXPECT_EQ(Tag(path, "DateTimeOriginal"), "2011:03:31 09:08:07");
  EXPECT_EQ(Tag(path, "GPSLatitudeRef"), "North");
  EXPECT_EQ(Tag(path, "GPS:GPSLatitude", true), "45.5");
  EXPECT_EQ(Tag(path, "GPSLongitudeRef"), "West");
  EXPECT_EQ(Tag(path, "GPS:GPSLongitude", true), "10.25");
  EXPECT_EQ(Tag(path, "Model"), "VC-1");
  EXPECT_EQ(Tag(path, "Keywords"), "Sea, Beach");

  const Bytes before = ReadBytes(path);
  const auto time = std::filesystem::last_write_time(path);
  vel::image::WriteExifProperties(vel::FromUtf8(path), item, kFrame);
  EXPECT_EQ(ReadBytes(path), before);
  EXPECT_EQ(std::filesystem::last_write_time(path), time);

  // An item read from the file and written back unchanged touches nothing,
  // its GPS rationals (spelt differently by exiftool) among them.
  const std::string tagged = Photo("unchanged.jpg", CameraTags("MM"));
  const Bytes original = ReadBytes(tagged);
  const auto originalTime = std::filesystem::last_write_time(tagged);
  ComPtr<IVelItem> read = NewItem();
  vel::image::ReadExifProperties(vel::FromUtf8(tagged), PropertiesOf(read, kFrame), kFrame);
  vel::image::WriteExifProperties(vel::FromUtf8(tagged), read, kFrame);
  EXPECT_EQ(ReadBytes(tagged), original);
  EXPECT_EQ(std::filesystem::last_write_time(tagged), originalTime);
}

TEST_F(ImageFilesTest, KeywordsAreUtf8WithTheirCharacterSet) {
  const std::string path = Photo("keywords.jpg", "-Make=x");
  const std::u16string wide = vel::FromUtf8(path);
  vel::image::WriteKeywordsOfFile(wide, {u"Caf\u00E9", u"Sea"}, kFrame);
  EXPECT_EQ(Tag(path, "Keywords"), "Caf\xC3\xA9, Sea");
  EXPECT_EQ(Tag(path, "CodedCharacterSet"), "UTF8");
  EXPECT_EQ(CYVariant::VariantToStringVector(vel::image::ReadKeywordsOfFile(wide, kFrame)),
            (std::vector<std::u16string>{u"Caf\u00E9", u"Sea"}));
  const Bytes before = ReadBytes(path);
  const auto time = std::filesystem::last_write_time(path);
  vel::image::WriteKeywordsOfFile(wide, {u"Caf\u00E9", u"Sea"}, kFrame);
  EXPECT_EQ(ReadBytes(path), before);
  EXPECT_EQ(std::filesystem::last_write_time(path), time);
  vel::image::WriteKeywordsOfFile(wide, {}, kFrame);
  EXPECT_EQ(Tag(path, "Keywords"), "");
  EXPECT_EQ(Tag(path, "Make"), "x");

  // A read-only photo is refused and stays as it was.
  std::filesystem::permissions(path, std::filesystem::perms::owner_write, std::filesystem::perm_options::remove);
  const Bytes locked = ReadBytes(path);
  EXPECT_THROW(vel::image::WriteKeywordsOfFile(wide, {u"Sea"}, kFrame), CYException);
  EXPECT_EQ(ReadBytes(path), locked);
}

// The writes that change a photo, each with what the photo then holds.
struct ChangingWrite {
  const char* name;
  std::function<void(const std::u16string&)> write;
  std::function<void(const std::string&)> check;
};

// A write that changes the photo puts a new file under its name (the old one
// is never written in place), with the new content and nothing left beside it.
TEST_F(ImageFilesTest, AChangingWriteReplacesThePhotoByANewFile) {
  const ChangingWrite writes[] = {
      {"keywords", [](const std::u16string& path) { vel::image::WriteKeywordsOfFile(path, {u"Lagoon"}, kFrame); },
       [](const std::string& path) { EXPECT_EQ(Tag(path, "Keywords"), "Lagoon"); }},
      {"metadata",
       [](const std::u16string& path) {
         ComPtr<IVelItem> item = NewItem();
         Put(PropertiesOf(item, kFrame), u"Make", _variant_t(u"Other Make"));
         vel::image::WriteExifProperties(path, item, kFrame);
       },
       [](const std::string& path) {
         EXPECT_EQ(Tag(path, "Make"), "Other Make");
         EXPECT_EQ(Tag(path, "Keywords"), "Sea, Beach");
       }},
  };
  const std::string folder = dir_ + "/replaced";
  std::filesystem::create_directory(folder);
  for (const ChangingWrite& w : writes) {
    SCOPED_TRACE(w.name);
    const std::string path = Photo("replaced/photo.jpg", CameraTags("II"));
    struct stat before {};
    ASSERT_EQ(::stat(path.c_str(), &before), 0);
    w.write(vel::FromUtf8(path));
    struct stat after {};
    ASSERT_EQ(::stat(path.c_str(), &after), 0);
    EXPECT_NE(after.st_ino, before.st_ino);
    EXPECT_EQ(Tag(path, "Model"), "VC-1");
    w.check(path);
    EXPECT_EQ(FilesIn(folder), std::vector<std::string>{"photo.jpg"});
  }
}

// A write that runs out of room (a file size limit stands in for a full
// disk), early or at the very end of the new photo, raises its error and
// leaves the photo's bytes and time as they were and no temporary file.
TEST_F(ImageFilesTest, AWriteThatRunsOutOfRoomLeavesThePhotoAlone) {
  // A keyword and a Make longer than the photo's own: the written photo is larger than the original.
  const std::u16string longMake(300, u'M');
  const ChangingWrite writes[] = {
      {"keywords",
       [&](const std::u16string& path) { vel::image::WriteKeywordsOfFile(path, {u"Sea", longMake}, kFrame); },
       nullptr},
      {"metadata",
       [&](const std::u16string& path) {
         ComPtr<IVelItem> item = NewItem();
         Put(PropertiesOf(item, kFrame), u"Make", _variant_t(std::u16string_view(longMake)));
         vel::image::WriteExifProperties(path, item, kFrame);
       },
       nullptr},
  };
  struct Limit {
    const char* name;
    std::int64_t belowSize;  // the limit: this many bytes short of the photo's size
  };
  const Limit limits[] = {
      {"well before the end", 1000},
      {"at the original's size", 0},
  };
  const std::string folder = dir_ + "/full";
  std::filesystem::create_directory(folder);
  for (const ChangingWrite& w : writes) {
    for (const Limit& l : limits) {
      SCOPED_TRACE(std::string(w.name) + ", " + l.name);
      const std::string path = Photo("full/photo.jpg", CameraTags("MM"));
      std::filesystem::last_write_time(path, std::filesystem::last_write_time(path) - std::chrono::hours(48));
      const Bytes before = ReadBytes(path);
      const auto time = std::filesystem::last_write_time(path);
      struct rlimit saved {};
      ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
      const auto previous = std::signal(SIGXFSZ, SIG_IGN);
      struct rlimit limited = saved;
      limited.rlim_cur = static_cast<rlim_t>(static_cast<std::int64_t>(before.size()) - l.belowSize);
      bool raised = false, other = false;
      TraceCapture capture;
      ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limited), 0);
      try {
        w.write(vel::FromUtf8(path));
      } catch (const CYException&) {
        raised = true;
      } catch (...) {
        other = true;  // reported once the limit is lifted again
      }
      ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &saved), 0);
      std::signal(SIGXFSZ, previous);
      std::string logged;
      for (const std::string& line : capture.info) logged += line;
      EXPECT_FALSE(other);
      EXPECT_TRUE(raised) << logged;
      EXPECT_EQ(ReadBytes(path), before);
      EXPECT_EQ(std::filesystem::last_write_time(path), time);
      EXPECT_EQ(FilesIn(folder), std::vector<std::string>{"photo.jpg"});
    }
  }
}

TEST_F(ImageFilesTest, NamesAreFilesNeverUrlsOrStandardInput) {
  const std::string photo = Photo("source.jpg", CameraTags("II"));
  // Relative names that the library would take for a URL or for standard
  // input when given as text.
  std::filesystem::create_directory(dir_ + "/http:");
  std::filesystem::copy_file(photo, dir_ + "/http:/x.jpg");
  std::filesystem::copy_file(photo, dir_ + "/-");
  // A name in Chinese characters, outside every Windows code page but one.
  const std::string chinese = dir_ + "/\xE7\x85\xA7\xE7\x89\x87.jpg";
  std::filesystem::copy_file(photo, chinese);
  const std::filesystem::path cwd = std::filesystem::current_path();
  std::filesystem::current_path(dir_);
  for (const std::string name : {"http://x.jpg", "-", chinese.c_str()}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(std::u16string(Value(Read(name), u"Make").bstrVal), u"Vel Camera");
  }
  // EXIF texts are stored in the ANSI code page (Windows-1252), IPTC keywords in UTF-8.
  ComPtr<IVelItem> item = NewItem();
  Put(PropertiesOf(item, kFrame), u"Model", _variant_t(u"Caf\u00E9-1"));
  vel::image::WriteExifProperties(vel::FromUtf8(chinese), item, kFrame);
  vel::image::WriteKeywordsOfFile(vel::FromUtf8(chinese), {u"\u5317\u4EAC"}, kFrame);
  std::filesystem::current_path(cwd);
  EXPECT_EQ(Tag(chinese, "Keywords"), "\xE5\x8C\x97\xE4\xBA\xAC");
  const _variant_t model = Value(Read(chinese), u"Model");
  ASSERT_EQ(model.vt, VT_BSTR);
  EXPECT_EQ(std::u16string(model.bstrVal), u"Caf\u00E9-1");
  EXPECT_EQ(RunCommand("exiftool -b -Model '" + chinese + "'").out, "Caf\xE9-1");
}

TEST_F(ImageFilesTest, DamagedAndForeignFilesReadWhatTheyCan) {
  const std::string photo = Photo("whole.jpg", CameraTags("MM"));
  const Bytes whole = ReadBytes(photo);
  // Every prefix of the metadata part, then strides through the pixels.
  const std::string cut = dir_ + "/cut.jpg";
  for (std::size_t size = 0; size < whole.size(); size += size < 2048 ? 1 : 509) {
    SCOPED_TRACE(size);
    ASSERT_TRUE(WriteBytes(cut, Bytes(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(size))));
    ComPtr<IVelProperties> p = Read(cut);
    vel::image::ReadKeywordsOfFile(vel::FromUtf8(cut), kFrame);
    if (Exists(p, u"Make", kCoreNamespace)) {
      EXPECT_EQ(std::u16string(Value(p, u"Make").bstrVal), u"Vel Camera");
    }
    items_.clear();
  }
  // A text file under a photo's name, and a PNG: no EXIF to read, no keywords written.
  struct Foreign {
    const char* name;
    std::string bytes;
    const char* code;  // the library's error, logged as a read error
  };
  const Foreign foreign[] = {
      {"zeros", std::string(64, '\0'), "Exiv2ErrorCode:\t11\n"},
      {"text", "not a picture", "Exiv2ErrorCode:\t"},
      {"empty", "", "Exiv2ErrorCode:\t"},
  };
  for (const Foreign& f : foreign) {
    SCOPED_TRACE(f.name);
    const std::string text = dir_ + "/text.jpg";
    WriteText(text, f.bytes);
    TraceCapture capture;
    EXPECT_FALSE(Exists(Read(text), u"Make", kCoreNamespace));
    EXPECT_EQ(vel::image::ReadKeywordsOfFile(vel::FromUtf8(text), kFrame).vt, VT_EMPTY);
    std::string logged;
    for (const std::string& line : capture.info) logged += line;
    EXPECT_NE(logged.find("errorcode:\t61001\n"), std::string::npos) << logged;
    EXPECT_NE(logged.find(f.code), std::string::npos) << logged;
  }
}

// A TIFF's metadata lies in its IFDs wherever the file puts them: every
// prefix of a tagged TIFF reads without a crash and yields only what it holds.
TEST_F(ImageFilesTest, EveryPrefixOfATiffReadsWhatItCan) {
  const std::string tiff = dir_ + "/whole.tif";
  ASSERT_TRUE(RunFfmpeg("-f lavfi -i testsrc=size=16x12 -frames:v 1 -y '" + tiff + "'"));
  ASSERT_EQ(RunCommand("exiftool -q -overwrite_original -Make='Vel Camera' -Model=VC-1 -Keywords=Sea -Keywords=Beach '" +
                       tiff + "'")
                .status,
            0);
  const Bytes whole = ReadBytes(tiff);
  const std::string cut = dir_ + "/cut.tif";
  for (std::size_t size = 0; size <= whole.size(); ++size) {
    SCOPED_TRACE(size);
    ASSERT_TRUE(WriteBytes(cut, Bytes(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(size))));
    ComPtr<IVelProperties> p = Read(cut);
    const _variant_t make = Value(p, u"Make");
    if (make.vt != VT_EMPTY) {
      ASSERT_EQ(make.vt, VT_BSTR);
      // A text cut short reads as its beginning.
      EXPECT_EQ(std::u16string(u"Vel Camera").rfind(make.bstrVal, 0), 0u) << vel::ToUtf8(make.bstrVal);
    }
    const _variant_t list = vel::image::ReadKeywordsOfFile(vel::FromUtf8(cut), kFrame);
    const std::vector<std::u16string> keywords =
        list.vt == VT_EMPTY ? std::vector<std::u16string>{} : CYVariant::VariantToStringVector(list);
    for (const std::u16string& keyword : keywords) {
      EXPECT_TRUE(keyword == u"Sea" || keyword == u"Beach") << vel::ToUtf8(keyword);
    }
    if (size == whole.size()) {
      ASSERT_EQ(make.vt, VT_BSTR);
      EXPECT_EQ(std::u16string(make.bstrVal), u"Vel Camera");
      const _variant_t model = Value(p, u"Model");
      ASSERT_EQ(model.vt, VT_BSTR);
      EXPECT_EQ(std::u16string(model.bstrVal), u"VC-1");
      EXPECT_EQ(keywords, (std::vector<std::u16string>{u"Sea", u"Beach"}));
    }
    items_.clear();
  }
}

// The library reads PNG and BMP but the plugin writes neither: a metadata or
// keyword write is refused with the library's "not supported" error, logged
// under the write's code, and the file keeps its bytes and time with no
// temporary file left beside it.
TEST_F(ImageFilesTest, WritesIntoPngAndBmpAreRefusedAndLeaveTheFileAlone) {
  struct Row {
    const char* name;
    const char* file;
    const char* libraryType;  // the type the library names in its refusal
    bool keywords;            // a keyword write, else a metadata write
    const char* code;         // the code the refusal is logged with
  };
  const Row rows[] = {
      {"PNG metadata", "plain.png", "image/png", false, "errorcode:\t61002\n"},
      {"PNG keywords", "plain.png", "image/png", true, "errorcode:\t61001\n"},
      {"BMP metadata", "plain.bmp", "image/x-ms-bmp", false, "errorcode:\t61002\n"},
      {"BMP keywords", "plain.bmp", "image/x-ms-bmp", true, "errorcode:\t61001\n"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    const std::string folder = dir_ + "/" + r.name;
    std::filesystem::create_directory(folder);
    const std::string path = folder + "/" + r.file;
    ASSERT_TRUE(RunFfmpeg("-f lavfi -i testsrc=size=32x24 -frames:v 1 -y '" + path + "'"));
    // An old time, so that any write shows.
    std::filesystem::last_write_time(path, std::filesystem::last_write_time(path) - std::chrono::hours(48));
    const Bytes before = ReadBytes(path);
    const auto time = std::filesystem::last_write_time(path);
    const std::u16string wide = vel::FromUtf8(path);
    TraceCapture capture;
    if (r.keywords) {
      vel::image::WriteKeywordsOfFile(wide, {u"Sea"}, kFrame);
    } else {
      ComPtr<IVelItem> item = NewItem();
      Put(PropertiesOf(item, kFrame), u"Make", _variant_t(u"x"));
      vel::image::WriteExifProperties(wide, item, kFrame);
    }
    std::string logged;
    for (const std::string& line : capture.info) logged += line;
    EXPECT_NE(logged.find(std::string("Writing to ") + r.libraryType + " images is not supported"), std::string::npos)
        << logged;
    EXPECT_NE(logged.find(r.code), std::string::npos) << logged;
    EXPECT_NE(logged.find("Exiv2ErrorCode:\t" + std::to_string(Exiv2::kerWritingImageFormatUnsupported) + "\n"),
              std::string::npos)
        << logged;
    EXPECT_EQ(ReadBytes(path), before);
    EXPECT_EQ(std::filesystem::last_write_time(path), time);
    EXPECT_EQ(FilesIn(folder), std::vector<std::string>{r.file});
    EXPECT_EQ(vel::image::ReadKeywordsOfFile(wide, kFrame).vt, VT_EMPTY);
  }
}

TEST_F(ImageFilesTest, ThreadsReadAndWriteTheirOwnPhotosAtOnce) {
  const std::string photo = Photo("shared.jpg", CameraTags("II"));
  constexpr int kThreads = 4;
  std::vector<std::string> paths;
  for (int i = 0; i < kThreads; ++i) {
    paths.push_back(dir_ + "/thread" + std::to_string(i) + ".jpg");
    std::filesystem::copy_file(photo, paths.back());
  }
  std::vector<std::vector<std::u16string>> seen(kThreads);
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i) {
    threads.emplace_back([&, i] {
      const std::u16string path = vel::FromUtf8(paths[static_cast<std::size_t>(i)]);
      for (int round = 0; round < 5; ++round) {
        const std::u16string keyword = u"k" + vel::FromUtf8(std::to_string(i * 10 + round));
        vel::image::WriteKeywordsOfFile(path, {keyword, u"Caf\u00E9"}, kFrame);
        const std::vector<std::u16string> read =
            CYVariant::VariantToStringVector(vel::image::ReadKeywordsOfFile(path, kFrame));
        if (!read.empty()) seen[static_cast<std::size_t>(i)].push_back(read.front());
      }
    });
  }
  for (std::thread& t : threads) t.join();
  for (int i = 0; i < kThreads; ++i) {
    SCOPED_TRACE(i);
    std::vector<std::u16string> expected;
    for (int round = 0; round < 5; ++round) expected.push_back(u"k" + vel::FromUtf8(std::to_string(i * 10 + round)));
    EXPECT_EQ(seen[static_cast<std::size_t>(i)], expected);
    EXPECT_EQ(Tag(paths[static_cast<std::size_t>(i)], "Make"), "Vel Camera");
  }
}

// An EXIF block in the given byte order: IFD0 with Make ("Camera") and the EXIF
// IFD pointer, the EXIF IFD with FNumber 28/10. spoil may change any field
// through the offsets it is handed.
struct ExifLayout {
  std::size_t ifd0NextOffset;  // where IFD0's next-IFD offset sits
  std::size_t makeType;        // where Make's type sits
  std::size_t makeCount;       // where Make's count sits
  std::size_t makeOffset;      // where Make's value offset sits
  std::size_t exifCount;       // where the EXIF IFD's entry count sits
  std::size_t fnumberCount;    // where FNumber's count sits
};
Bytes ExifBlock(vel::ByteOrder order, const std::function<void(Bytes&, const ExifLayout&)>& spoil) {
  std::vector<std::uint8_t> tiff;
  vel::ByteWriter w(tiff, order);
  w.PutChars(order == vel::ByteOrder::kBig ? "MM" : "II");
  w.PutU16(42);
  w.PutU32(8);
  ExifLayout at{};
  w.PutU16(2);  // IFD0 at 8: 2 entries, then the next-IFD offset
  w.PutU16(0x010F);
  at.makeType = w.position();
  w.PutU16(2);
  at.makeCount = w.position();
  w.PutU32(7);
  at.makeOffset = w.position();
  w.PutU32(38);  // "Camera\0" after IFD0 (longer than 4 bytes: not in the entry)
  w.PutU16(0x8769);
  w.PutU16(4);
  w.PutU32(1);
  w.PutU32(46);  // the EXIF IFD
  at.ifd0NextOffset = w.position();
  w.PutU32(0);
  w.PutChars(std::string_view("Camera\0\0", 8));  // at 38, padded to a word
  at.exifCount = w.position();                      // EXIF IFD at 46: 1 entry
  w.PutU16(1);
  w.PutU16(0x829D);
  w.PutU16(5);
  at.fnumberCount = w.position();
  w.PutU32(1);
  w.PutU32(64);  // the rational after the EXIF IFD
  w.PutU32(0);
  w.PutU32(28);  // at 64
  w.PutU32(10);
  Bytes block(tiff.begin(), tiff.end());
  if (spoil) spoil(block, at);
  return block;
}

// A JPEG with the EXIF block as its APP1 segment, before the picture's own segments.
Bytes WithExif(const Bytes& jpeg, const Bytes& tiff) {
  std::vector<std::uint8_t> out;
  vel::ByteWriter w(out, vel::ByteOrder::kBig);
  w.PutU16(0xFFD8);
  w.PutU16(0xFFE1);
  w.PutU16(static_cast<std::uint16_t>(2 + 6 + tiff.size()));
  w.PutChars(std::string_view("Exif\0\0", 6));
  w.PutBytes(tiff);
  w.PutBytes(std::span<const std::uint8_t>(jpeg).subspan(2));
  return Bytes(out.begin(), out.end());
}

TEST_F(ImageFilesTest, MalformedExifReadsWhatItCan) {
  const Bytes picture = ReadBytes(Photo("plain.jpg", ""));
  const auto u32 = [](vel::ByteOrder order, std::uint32_t value) {
    return [=](Bytes& b, std::size_t at) { vel::StoreU32Unchecked(&b[at], value, order); };
  };
  struct Row {
    const char* name;
    std::function<void(Bytes&, const ExifLayout&, vel::ByteOrder)> spoil;
    bool make;     // Make still reads "Camera"
    bool fnumber;  // FNumber still reads 2.8
  };
  const Row rows[] = {
      {"intact", nullptr, true, true},
      {"IFD0 loops to itself", [&](Bytes& b, const ExifLayout& at, vel::ByteOrder o) { u32(o, 8)(b, at.ifd0NextOffset); },
       true, true},
      {"next IFD is the EXIF IFD",
       [&](Bytes& b, const ExifLayout& at, vel::ByteOrder o) { u32(o, 46)(b, at.ifd0NextOffset); }, true, true},
      {"Make's offset past the block",
       [&](Bytes& b, const ExifLayout& at, vel::ByteOrder o) { u32(o, 0xFFFF0000u)(b, at.makeOffset); }, false, true},
      {"Make's count larger than the data",
       [&](Bytes& b, const ExifLayout& at, vel::ByteOrder o) { u32(o, 0x10000000u)(b, at.makeCount); }, false, true},
      {"EXIF IFD claims 65535 entries",
       [&](Bytes& b, const ExifLayout& at, vel::ByteOrder o) { vel::StoreU16Unchecked(&b[at.exifCount], 0xFFFF, o); },
       true, false},
      {"FNumber of no values",
       [&](Bytes& b, const ExifLayout& at, vel::ByteOrder o) { u32(o, 0)(b, at.fnumberCount); }, true, false},
      {"block cut in the EXIF IFD", [&](Bytes& b, const ExifLayout& at, vel::ByteOrder) { b.resize(at.exifCount + 4); },
       true, false},
  };
  for (const vel::ByteOrder order : {vel::ByteOrder::kBig, vel::ByteOrder::kLittle}) {
    for (const Row& r : rows) {
      SCOPED_TRACE(std::string(r.name) + (order == vel::ByteOrder::kBig ? " (MM)" : " (II)"));
      const Bytes block = ExifBlock(order, [&](Bytes& b, const ExifLayout& at) {
        if (r.spoil) r.spoil(b, at, order);
      });
      const std::string path = dir_ + "/malformed.jpg";
      ASSERT_TRUE(WriteBytes(path, WithExif(picture, block)));
      ComPtr<IVelProperties> p = Read(path);
      const _variant_t make = Value(p, u"Make");
      if (r.make) {
        ASSERT_EQ(make.vt, VT_BSTR);
        EXPECT_EQ(std::u16string(make.bstrVal), u"Camera");
      } else {
        EXPECT_TRUE(make.vt == VT_EMPTY || std::u16string(make.bstrVal) != u"Camera");
      }
      if (r.fnumber) {
        EXPECT_DOUBLE_EQ(Number(Value(p, u"FNumber")), 2.8);
      } else {
        EXPECT_EQ(Value(p, u"FNumber").vt, VT_EMPTY);
      }
    }
  }
}

// What the library says about a damaged photo reaches the module's log as
// "Exiv2: " lines (level 3), never standard error, whether the plugin reads
// the photo's metadata or its keywords.
TEST_F(ImageFilesTest, LibraryWarningsGoToTheLogNotToStandardError) {
  const Bytes picture = ReadBytes(Photo("plain.jpg", ""));
  struct Row {
    const char* name;
    std::function<void(Bytes&, const ExifLayout&)> spoil;
    const char* says;  // part of the library's message
  };
  const Row rows[] = {
      {"Make of an unknown type",
       [](Bytes& b, const ExifLayout& at) { vel::StoreU16Unchecked(&b[at.makeType], 99, vel::ByteOrder::kBig); },
       "type 99"},
      {"Make's value past the block",
       [](Bytes& b, const ExifLayout& at) { vel::StoreU32Unchecked(&b[at.makeOffset], 0xFFFF0000u, vel::ByteOrder::kBig); },
       "0x010f"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    const std::string path = dir_ + "/warned.jpg";
    ASSERT_TRUE(WriteBytes(path, WithExif(picture, ExifBlock(vel::ByteOrder::kBig, r.spoil))));
    TraceCapture capture;
    ::testing::internal::CaptureStderr();
    Read(path);
    vel::image::ReadKeywordsOfFile(vel::FromUtf8(path), kFrame);
    const std::string err = ::testing::internal::GetCapturedStderr();
    std::string library;
    for (const std::string& line : capture.info) {
      if (line.rfind("Exiv2: ", 0) == 0) library += line;
    }
    EXPECT_NE(library.find(r.says), std::string::npos) << library;
    EXPECT_EQ(err, "");
  }
}

}  // namespace
