#include "image/Exiv2Image.h"

#include <exiv2/exiv2.hpp>

#include <mutex>
#include <string>

#include "platform/text.h"
#include "ylib/YReplacingFile.h"
#include "platform/win32/paths.h"
#include "ylib/YLogging.h"

namespace vel::image {
namespace {

std::mutex& XmpToolkitLock() {
  static std::mutex lock;
  return lock;
}

void LockXmpToolkit(void* data, bool lock) {
  auto* mutex = static_cast<std::mutex*>(data);
  if (lock)
    mutex->lock();
  else
    mutex->unlock();
}

// The library's messages arrive with their own line end (or none).
void LogLibraryMessage(int level, const char* message) {
  std::string text = message ? message : "";
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  const int ours = level >= Exiv2::LogMsg::warn ? kYLogInfo : kYLogDebug;
  CYLogging::Log(ours, u"Exiv2: %S\n", text);
}

}  // namespace

void UseExiv2() {
  static std::once_flag once;
  std::call_once(once, [] {
    Exiv2::LogMsg::setHandler(LogLibraryMessage);
    Exiv2::LogMsg::setLevel(Exiv2::LogMsg::warn);
    Exiv2::XmpParser::initialize(LockXmpToolkit, &XmpToolkitLock());
  });
}

namespace {

// The file system's own path of a module path text.
std::string NativePath(std::u16string_view path, const YFrame& f) {
  const std::u16string text(path);
  const vel::win32::MappedPath mapped = vel::win32::MapPath(text.c_str());
  if (!mapped.ok()) YThrowWin32(mapped.error, f);
  return mapped.path;
}

// The image on io, which holds the bytes of the file at native.
std::unique_ptr<Exiv2::Image> OpenOn(std::unique_ptr<Exiv2::BasicIo> io, const std::string& native) {
  // The library's owning pointers are std::auto_ptr in this release; clang
  // reports every use of their names, gcc none in a system header's type.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  Exiv2::Image::AutoPtr image = Exiv2::ImageFactory::open(Exiv2::BasicIo::AutoPtr(io.release()));
#pragma GCC diagnostic pop
  // Opened from an I/O object, the library answers an unknown type with no
  // image; from a path text it raises error 11, which callers expect.
  if (!image.get()) throw Exiv2::Error(Exiv2::kerFileContainsUnknownImageType, native);
  return std::unique_ptr<Exiv2::Image>(image.release());
}

}  // namespace

std::unique_ptr<Exiv2::Image> OpenExiv2Image(std::u16string_view path, const YFrame& f) {
  UseExiv2();
  const std::string native = NativePath(path, f);
  return OpenOn(std::make_unique<Exiv2::FileIo>(native), native);
}

bool IsWritableExiv2Image(const Exiv2::Image& image) {
  const int type = image.imageType();
  return type == Exiv2::ImageType::jpeg || type == Exiv2::ImageType::tiff;
}

void WriteExiv2Image(Exiv2::Image& image) {
  if (!IsWritableExiv2Image(image))
    throw Exiv2::Error(Exiv2::kerWritingImageFormatUnsupported, image.mimeType());
  image.writeMetadata();
}

void EditExiv2Image(std::u16string_view path, const YFrame& f, const std::function<bool(Exiv2::Image&)>& edit) {
  UseExiv2();
  CYReplacingFile file{std::u16string(path)};
  if (!file.Lock()) YThrowWin32(file.error(), f);
  // The library edits a copy in memory, and the replacing file writes the
  // result: the library's own file output leaves a write error that shows only
  // when its stream is closed (a full disk) unreported, and a photo cut short
  // would be put in place.
  const std::string native = NativePath(file.target(), f);
  Exiv2::DataBuf original = Exiv2::readFile(native);
  std::unique_ptr<Exiv2::Image> image =
      OpenOn(std::make_unique<Exiv2::MemIo>(original.pData_, original.size_), native);
  if (!IsWritableExiv2Image(*image))
    throw Exiv2::Error(Exiv2::kerWritingImageFormatUnsupported, image->mimeType());
  image->readMetadata();
  if (!edit(*image)) return;
  WriteExiv2Image(*image);
  Exiv2::BasicIo& written = image->io();
  const long size = written.size();
  const Exiv2::byte* bytes = written.mmap();
  const bool stored = file.Begin() && file.Write(bytes, static_cast<std::uint64_t>(size)) && file.Commit();
  written.munmap();
  if (!stored) YThrowWin32(file.error(), f);
}

void LogExiv2Error(const Exiv2::AnyError& error, std::int32_t code, const YFrame& f) {
  const CYException report =
      YReport(vel::FromUtf8(error.what()), code, f).AddDetail(u"Exiv2ErrorCode", error.code(), false);
  // The report's text has its "%" doubled: it is the format itself.
  CYLogging::Log(kYLogInfo, report.GetText(kYTextForLog) + u"\n");
}

}  // namespace vel::image
