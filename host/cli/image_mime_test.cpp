// The image signatures `picture set` knows, each at its shortest and one byte
// short or wrong, and bytes that are no image.
#include "host/cli/image_mime.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/text.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// The bytes of text, then fill bytes up to size (the rest of a file).
Bytes Head(const std::string& text, std::size_t size = 0) {
  Bytes b(text.begin(), text.end());
  while (b.size() < size) b.push_back(0x5A);
  return b;
}

TEST(ImageMimeType, NamesTheFormatsACoverIsStoredIn) {
  struct Row {
    const char* name;
    Bytes bytes;
    const char* want;  // "" refused
  } rows[] = {
      {"JPEG (JFIF)", Head(std::string("\xFF\xD8\xFF\xE0\0\x10JFIF", 10), 40), "image/jpeg"},
      {"JPEG (Exif)", Head("\xFF\xD8\xFF\xE1", 40), "image/jpeg"},
      {"JPEG, its three signature bytes only", Head("\xFF\xD8\xFF"), "image/jpeg"},
      {"JPEG start of image without a marker", Head("\xFF\xD8"), ""},
      {"JPEG start of image, then no marker", Head("\xFF\xD8\x00\xE0", 40), ""},
      {"PNG", Head(std::string("\x89PNG\r\n\x1A\n\0\0\0\x0DIHDR", 16), 40), "image/png"},
      {"PNG, its signature only", Head("\x89PNG\r\n\x1A\n"), "image/png"},
      {"PNG signature one byte short", Head("\x89PNG\r\n\x1A"), ""},
      {"PNG whose line ends were turned into CR LF", Head("\x89PNG\r\r\n\x1A\r\n", 40), ""},
      {"PNG without its high first byte", Head("PNG\r\n\x1A\n", 40), ""},
      {"GIF 87a", Head("GIF87a", 30), "image/gif"},
      {"GIF 89a", Head("GIF89a"), "image/gif"},
      {"GIF of an unknown version", Head("GIF88a", 30), ""},
      {"GIF version cut off", Head("GIF89"), ""},
      {"BMP with its 14-byte file header", Head("BM", 14), "image/bmp"},
      {"BMP one byte short of its file header", Head("BM", 13), ""},
      {"WebP", Head(std::string("RIFF\x24\0\0\0WEBPVP8 ", 16), 40), "image/webp"},
      {"WebP signature cut off", Head(std::string("RIFF\x24\0\0\0WEB", 11)), ""},
      {"RIFF of another kind (WAVE)", Head(std::string("RIFF\x24\0\0\0WAVEfmt ", 16), 40), ""},
      {"TIFF little-endian", Head(std::string("II*\0\x08\0\0\0", 8), 30), "image/tiff"},
      {"TIFF big-endian", Head(std::string("MM\0*\0\0\0\x08", 8), 30), "image/tiff"},
      {"TIFF byte order mark and magic mismatched", Head(std::string("II\0*\x08\0\0\0", 8), 30), ""},
      {"BigTIFF (magic 43) is not among them", Head(std::string("II+\0\x08\0\0\0", 8), 30), ""},
      {"text", Head("just words, no picture"), ""},
      {"nothing", Bytes{}, ""},
      {"one byte", Bytes{0xFF}, ""},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(vel::ToUtf8(velitems::ImageMimeType(row.bytes)), row.want) << row.name;
  }
}

}  // namespace
