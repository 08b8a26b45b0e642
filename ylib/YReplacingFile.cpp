#include "ylib/YReplacingFile.h"

#include <utility>

#include "ylib/YErrorFrame.h"

namespace {
constexpr char16_t kSource[] = u"YReplacingFile";
}  // namespace

CYReplacingFile::CYReplacingFile(std::u16string path) : file_(std::move(path)) {}

bool CYReplacingFile::Lock() {
  return YErrorFrame(VEL_FRAME(u"CYReplacingFile::Lock"), [&] { return file_.Lock(); });
}

bool CYReplacingFile::Begin() {
  return YErrorFrame(VEL_FRAME(u"CYReplacingFile::Begin"), [&] { return file_.Begin(); });
}

bool CYReplacingFile::Open() {
  return YErrorFrame(VEL_FRAME(u"CYReplacingFile::Open"), [&] { return file_.Open(); });
}

bool CYReplacingFile::CopyOriginal() {
  return YErrorFrame(VEL_FRAME(u"CYReplacingFile::CopyOriginal"), [&] { return file_.CopyOriginal(); });
}

bool CYReplacingFile::Write(const void* data, std::uint64_t size) {
  return YErrorFrame(VEL_FRAME(u"CYReplacingFile::Write"), [&] { return file_.Write(data, size); });
}

bool CYReplacingFile::Commit() {
  return YErrorFrame(VEL_FRAME(u"CYReplacingFile::Commit"), [&] { return file_.Commit(); });
}
