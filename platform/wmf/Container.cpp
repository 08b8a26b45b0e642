#include "platform/wmf/Container.h"

#include "platform/base/ByteOrder.h"
#include "platform/base/FileVersion.h"
#include "platform/base/PerThread.h"
#include "platform/wmf/AsfFile.h"
#include "platform/wmf/FileAccess.h"
#include "platform/wmf/Mp3File.h"
#include "platform/win32/winerror.h"

namespace vel::wmf {

namespace {
// A header object larger than this is read only this far (and never saved).
constexpr std::uint64_t kMaxHeaderRead = 256u << 20;

// Only small files are kept: for them the reading is the cost, while a large
// file's header may hold megabytes of pictures that a copy would double.
constexpr std::uint64_t kKeptFileLimit = 1u << 20;

struct LastContainer {
  FileVersion version;
  std::unique_ptr<Container> container;
};

HRESULT Read(OpenedFile& file, std::unique_ptr<Container>& out);

}  // namespace

HRESULT OpenContainer(const std::u16string& path, std::unique_ptr<Container>& out, bool fresh) {
  out.reset();
  OpenedFile file;
  HRESULT hr = OpenForReading(path, file);
  if (FAILED(hr)) return hr;
  // Null when the thread can keep nothing: then the file is simply read.
  LastContainer* last = PerThread<LastContainer>::Get();
  if (!fresh && last && last->container && last->version == FileVersion::Of(file.status)) {
    out = last->container->Clone();
    return S_OK;
  }
  if (last) last->container.reset();
  hr = Read(file, out);
  if (last && SUCCEEDED(hr) && out && file.size <= kKeptFileLimit) {
    last->version = FileVersion::Of(file.status);
    last->container = out->Clone();
  }
  return hr;
}

namespace {

HRESULT Read(OpenedFile& file, std::unique_ptr<Container>& out) {
  Bytes start;
  if (!ReadAt(file.fd.get(), 0, 30, start)) return NS_E_FILE_READ;
  if (AsfFile::Recognises(start)) {
    std::uint64_t declared = start.size() >= 24 ? LoadU64Unchecked(start.data() + 16, ByteOrder::kLittle) : 0;
    std::uint64_t want = declared < file.size ? declared : file.size;
    if (want > kMaxHeaderRead) want = kMaxHeaderRead;
    Bytes header;
    if (!ReadAt(file.fd.get(), 0, want, header)) return NS_E_FILE_READ;
    out = AsfFile::Parse(header, file.size);
    return S_OK;
  }
  if (Mp3File::Recognises(start)) return Mp3File::Open(file.nativePath, file.fd.get(), file.size, out);
  return NS_E_INVALID_INPUT_FORMAT;
}

}  // namespace

HRESULT SaveFailure(DWORD win32Error) {
  return HRESULT_FROM_WIN32(win32Error != 0 ? static_cast<long>(win32Error) : ERROR_WRITE_FAULT);
}

}  // namespace vel::wmf
