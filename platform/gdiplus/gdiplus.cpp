// The GDI+ classes over libgdiplus: counted start-up, images read whole at
// construction (size, frames, property items) under the library lock, and
// property items put into the platform's form (PropertyList).
#include "platform/gdiplus/gdiplus.h"

#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <algorithm>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <type_traits>
#include <vector>

#include "platform/base/FileVersion.h"
#include "platform/base/PerThread.h"
#include "platform/gdiplus/ExifBlock.h"
#include "platform/gdiplus/PropertyList.h"
#include "platform/gdiplus/flat.h"
#include "platform/text.h"
#include "platform/win32/paths.h"
#include "platform/win32/winbase.h"
#include "platform/win32/winerror.h"

extern "C" {
const GUID FrameDimensionTime = {0x6aedbd6d, 0x3fb5, 0x418a, {0x83, 0xa6, 0x7f, 0x45, 0x22, 0x9d, 0xc8, 0x72}};
const GUID FrameDimensionResolution = {0x84236f7b, 0x3bd3, 0x428f, {0x8d, 0xab, 0x4e, 0xa1, 0x43, 0x9c, 0xa3, 0x15}};
const GUID FrameDimensionPage = {0x7462dc86, 0x6180, 0x4c7e, {0x8e, 0x3f, 0xee, 0x73, 0x33, 0xa7, 0xa4, 0x83}};
}

namespace vel::gdiplus {

std::mutex& LibraryLock() {
  static std::mutex lock;
  return lock;
}

namespace {

// Resolves every call or none: a library without one of them is not used.
bool Resolve(void* library, FlatApi& api) {
  bool all = true;
  auto find = [&](auto& call, const char* name) {
    call = reinterpret_cast<std::remove_reference_t<decltype(call)>>(dlsym(library, name));
    if (call == nullptr) all = false;
  };
  find(api.GdiplusStartup, "GdiplusStartup");
  find(api.GdipLoadImageFromFile, "GdipLoadImageFromFile");
  find(api.GdipDisposeImage, "GdipDisposeImage");
  find(api.GdipGetImageWidth, "GdipGetImageWidth");
  find(api.GdipGetImageHeight, "GdipGetImageHeight");
  find(api.GdipGetImageRawFormat, "GdipGetImageRawFormat");
  find(api.GdipGetPropertySize, "GdipGetPropertySize");
  find(api.GdipGetAllPropertyItems, "GdipGetAllPropertyItems");
  find(api.GdipImageGetFrameDimensionsCount, "GdipImageGetFrameDimensionsCount");
  find(api.GdipImageGetFrameDimensionsList, "GdipImageGetFrameDimensionsList");
  find(api.GdipImageGetFrameCount, "GdipImageGetFrameCount");
  return all;
}

}  // namespace

const FlatApi* Flat() {
  static const FlatApi* const api = []() -> const FlatApi* {
    // Kept loaded for the life of the process: the library's start-up
    // cannot be undone.
    void* library = dlopen(VEL_GDIPLUS_SONAME, RTLD_NOW | RTLD_LOCAL);
    static FlatApi calls{};
    if (library == nullptr || !Resolve(library, calls)) {
      const char* why = library == nullptr ? dlerror() : "a call is missing";
      OutputDebugStringA((std::string("GDI+: ") + VEL_GDIPLUS_SONAME + " cannot be used: " +
                          (why != nullptr ? why : "unknown") + "\n").c_str());
      return nullptr;
    }
    return &calls;
  }();
  return api;
}

}  // namespace vel::gdiplus

namespace {

using namespace Gdiplus;
using vel::gdiplus::Flat;
using vel::gdiplus::FlatApi;
using vel::gdiplus::LibraryLock;

// The image formats the library names by GUID.
constexpr GUID kImageFormatJpeg = {0xb96b3cae, 0x0728, 0x11d3, {0x9d, 0x7b, 0x00, 0x00, 0xf8, 0x1e, 0xf3, 0x2e}};
constexpr GUID kImageFormatGif = {0xb96b3cb0, 0x0728, 0x11d3, {0x9d, 0x7b, 0x00, 0x00, 0xf8, 0x1e, 0xf3, 0x2e}};

bool SameGuid(const GUID& a, const GUID& b) { return std::memcmp(&a, &b, sizeof(GUID)) == 0; }

// The start-up state: whether the library has been started (once, for the
// life of the process) and the tokens handed out. Guarded by its own lock,
// not LibraryLock(): code that starts GDI+ for every file it reads must not
// wait for another thread's decoding. Taken before LibraryLock() when both are.
struct Startup {
  std::mutex lock;
  bool libraryStarted = false;
  ULONG_PTR nextToken = 0;
  std::set<ULONG_PTR> tokens;
};

Startup& StartupState() {
  static Startup state;
  return state;
}

// Whether a start-up token is outstanding.
bool Started() {
  Startup& state = StartupState();
  std::lock_guard<std::mutex> hold(state.lock);
  return !state.tokens.empty();
}

Status NoHook(ULONG_PTR* token) {
  if (token) *token = 0;
  return Ok;
}
void NoUnhook(ULONG_PTR) {}

// The EXIF block of a JPEG lies in its first segments: this much of the file
// holds it unless a file packs megabytes of other segments before it.
constexpr std::size_t kHeaderReadLimit = 1u << 20;

// Opens path for reading: fd, or -1 with the Status of the failure; *info
// (when asked for) gets the file's status.
int OpenForReading(const std::string& path, Status& status, struct stat* opened = nullptr) {
  int fd;
  do {
    fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    status = (errno == ENOENT || errno == ENOTDIR) ? FileNotFound
             : (errno == EACCES || errno == EPERM)  ? AccessDenied
                                                    : Win32Error;
    return -1;
  }
  struct stat info;
  if (fstat(fd, &info) != 0 || S_ISDIR(info.st_mode)) {
    close(fd);
    status = AccessDenied;  // as opening a folder for reading is refused on the platform
    return -1;
  }
  status = Ok;
  if (opened) *opened = info;
  return fd;
}

// Reads up to limit bytes from the start of path (fewer when it cannot be read).
std::vector<std::uint8_t> ReadFilePrefix(const std::string& path, std::size_t limit) {
  std::vector<std::uint8_t> bytes;
  Status status;
  const int fd = OpenForReading(path, status);
  if (fd < 0) return bytes;
  bytes.resize(limit);
  std::size_t have = 0;
  while (have < limit) {
    const ssize_t n = read(fd, bytes.data() + have, limit - have);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    have += static_cast<std::size_t>(n);
  }
  close(fd);
  bytes.resize(have);
  return bytes;
}

}  // namespace

namespace Gdiplus {

Status GdiplusStartup(ULONG_PTR* token, const GdiplusStartupInput* input, GdiplusStartupOutput* output) {
  if (token) *token = 0;
  if (output) *output = GdiplusStartupOutput{};
  if (token == nullptr || input == nullptr) return InvalidParameter;
  if (input->GdiplusVersion != 1) return UnsupportedGdiplusVersion;
  if (input->SuppressBackgroundThread && output == nullptr) return InvalidParameter;
  Startup& state = StartupState();
  std::lock_guard<std::mutex> hold(state.lock);
  if (!state.libraryStarted) {
    const FlatApi* library = Flat();
    if (library == nullptr) return GdiplusNotInitialized;
    ULONG_PTR libraryToken = 0;
    const GpStartupInput libraryInput{1, nullptr, FALSE, FALSE};
    std::lock_guard<std::mutex> calling(LibraryLock());
    if (library->GdiplusStartup(&libraryToken, &libraryInput, nullptr) != Ok) return GenericError;
    state.libraryStarted = true;
  }
  *token = ++state.nextToken;
  state.tokens.insert(*token);
  if (output && input->SuppressBackgroundThread) {
    output->NotificationHook = NoHook;
    output->NotificationUnhook = NoUnhook;
  }
  return Ok;
}

void GdiplusShutdown(ULONG_PTR token) {
  Startup& state = StartupState();
  std::lock_guard<std::mutex> hold(state.lock);
  state.tokens.erase(token);
}

namespace {

// What the image code asks of an image, read once when it is opened.
struct ImageData {
  UINT width = 0;
  UINT height = 0;
  std::vector<GUID> dimensions;
  std::vector<UINT> frameCounts;  // per dimension
  vel::gdiplus::PropertyList properties;
};

// Reads everything from an opened library image. Called under the lock.
Status ReadImage(const FlatApi& library, GpImage* image, bool isGif, ImageData& content);

// Decodes the file at path (a file system path) and reads what an image keeps.
Status Decode(const std::string& path, ImageData& content);

}  // namespace

struct Image::Content : ImageData {};

namespace {

// Each thread's last image read: code that asks one image for a file's
// properties and then another for its size (as the image plugin does)
// decodes the file once. Only what an image keeps is held, never pixels.
struct LastRead {
  vel::FileVersion file;
  ImageData content;
};

}  // namespace

Image::Image(const WCHAR* filename, BOOL useEmbeddedColorManagement) {
  if (filename == nullptr) {
    lastResult_ = InvalidParameter;
    return;
  }
  const vel::win32::MappedPath mapped = vel::win32::MapPath(filename);
  if (!mapped.ok()) {
    lastResult_ = mapped.error == ERROR_INVALID_PARAMETER ? InvalidParameter : FileNotFound;
    return;
  }
  // The library calls every failure to open OutOfMemory: ours say why.
  Status opened;
  struct stat info {};
  const int fd = OpenForReading(mapped.path, opened, &info);
  if (fd < 0) {
    lastResult_ = opened;
    return;
  }
  close(fd);
  const vel::FileVersion version = vel::FileVersion::Of(info);
  if (!Started()) {
    lastResult_ = GdiplusNotInitialized;
    return;
  }
  // Null when the thread can keep nothing: then the file is simply read.
  std::optional<LastRead>* last = vel::PerThread<std::optional<LastRead>>::Get();
  if (last && *last && (*last)->file == version) {
    content_ = new Content{(*last)->content};
    return;
  }
  if (last) last->reset();
  LastRead read;
  read.file = version;
  // A failure is not kept: the library calls running out of memory and
  // data it cannot decode alike, and the first may pass.
  if (const Status status = Decode(mapped.path, read.content); status != Ok) {
    lastResult_ = status;
    return;
  }
  content_ = new Content{read.content};
  if (last) *last = std::move(read);
}

namespace {

Status Decode(const std::string& path, ImageData& content) {
  const std::u16string libraryPath = vel::FromUtf8(path);
  GUID format{};
  {
    // Started once, so loaded and started for good.
    const FlatApi& library = *Flat();
    std::lock_guard<std::mutex> hold(LibraryLock());
    GpImage* image = nullptr;
    const GpStatus loaded = library.GdipLoadImageFromFile(libraryPath.c_str(), &image);
    if (loaded != Ok || image == nullptr) {
      if (image) library.GdipDisposeImage(image);
      // The library answers OutOfMemory for data it cannot decode.
      return loaded == Ok ? GenericError : static_cast<Status>(loaded);
    }
    if (library.GdipGetImageRawFormat(image, &format) != Ok) format = GUID{};
    const Status read = ReadImage(library, image, SameGuid(format, kImageFormatGif), content);
    library.GdipDisposeImage(image);
    if (read != Ok) return read;
  }
  if (SameGuid(format, kImageFormatJpeg)) {
    const std::vector<std::uint8_t> head = ReadFilePrefix(path, kHeaderReadLimit);
    if (const auto block = vel::gdiplus::FindJpegExifBlock(head)) {
      if (const auto layout = vel::gdiplus::WalkExifBlock(*block)) content.properties.FixUpExif(*layout);
    }
  }
  return Ok;
}

}  // namespace

namespace {

Status ReadImage(const FlatApi& library, GpImage* image, bool isGif, ImageData& content) {
  if (Status s = static_cast<Status>(library.GdipGetImageWidth(image, &content.width)); s != Ok) return s;
  if (Status s = static_cast<Status>(library.GdipGetImageHeight(image, &content.height)); s != Ok) return s;

  UINT dimensionCount = 0;
  if (library.GdipImageGetFrameDimensionsCount(image, &dimensionCount) == Ok && dimensionCount > 0 && dimensionCount < 64) {
    std::vector<GUID> dimensions(dimensionCount);
    if (library.GdipImageGetFrameDimensionsList(image, dimensions.data(), dimensionCount) == Ok) {
      for (const GUID& dimension : dimensions) {
        UINT frames = 0;
        if (library.GdipImageGetFrameCount(image, &dimension, &frames) != Ok) frames = 0;
        // The platform counts a GIF's frames in time even when there is only
        // one; the library calls a single-frame GIF a page.
        content.dimensions.push_back(isGif && SameGuid(dimension, FrameDimensionPage) ? FrameDimensionTime
                                                                                       : dimension);
        content.frameCounts.push_back(frames);
      }
    }
  }

  UINT total = 0, count = 0;
  if (library.GdipGetPropertySize(image, &total, &count) == Ok && count > 0 && total > 0) {
    // Room for the records the count promises, whatever the total says.
    const std::size_t records = std::size_t{count} * sizeof(GpPropertyItem);
    std::vector<std::uint8_t> buffer(std::max<std::size_t>(total, records));
    if (library.GdipGetAllPropertyItems(image, total, count, reinterpret_cast<GpPropertyItem*>(buffer.data())) == Ok) {
      content.properties = vel::gdiplus::PropertyList::FromFlatItems(buffer, count);
    }
  }
  return Ok;
}

}  // namespace

Image::~Image() { delete content_; }

Image* Image::FromFile(const WCHAR* filename, BOOL useEmbeddedColorManagement) {
  return new Image(filename, useEmbeddedColorManagement);
}

Status Image::SetStatus(Status status) const {
  if (status != Ok) lastResult_ = status;
  return status;
}

Status Image::GetLastStatus() const {
  const Status last = lastResult_;
  lastResult_ = Ok;
  return last;
}

UINT Image::GetWidth() {
  if (content_ == nullptr) return SetStatus(InvalidParameter), 0;
  return content_->width;
}

UINT Image::GetHeight() {
  if (content_ == nullptr) return SetStatus(InvalidParameter), 0;
  return content_->height;
}

UINT Image::GetPropertyCount() {
  if (content_ == nullptr) return SetStatus(InvalidParameter), 0;
  return content_->properties.GetCount();
}

Status Image::GetPropertyIdList(UINT numOfProperty, PROPID* list) {
  if (content_ == nullptr) {
    if (list) std::fill_n(list, numOfProperty, PROPID{0});
    return SetStatus(InvalidParameter);
  }
  return SetStatus(content_->properties.GetIdList(numOfProperty, list));
}

UINT Image::GetPropertyItemSize(PROPID propId) {
  if (content_ == nullptr) return SetStatus(InvalidParameter), 0;
  UINT size = 0;
  SetStatus(content_->properties.GetItemSize(propId, &size));
  return size;
}

Status Image::GetPropertyItem(PROPID propId, UINT propSize, PropertyItem* buffer) {
  if (content_ == nullptr) {
    if (buffer) std::memset(static_cast<void*>(buffer), 0, std::min<std::size_t>(propSize, sizeof(PropertyItem)));
    return SetStatus(InvalidParameter);
  }
  return SetStatus(content_->properties.GetItem(propId, propSize, buffer));
}

Status Image::GetPropertySize(UINT* totalBufferSize, UINT* numProperties) {
  if (content_ == nullptr) {
    if (totalBufferSize) *totalBufferSize = 0;
    if (numProperties) *numProperties = 0;
    return SetStatus(InvalidParameter);
  }
  return SetStatus(content_->properties.GetSize(totalBufferSize, numProperties));
}

Status Image::GetAllPropertyItems(UINT totalBufferSize, UINT numProperties, PropertyItem* allItems) {
  if (content_ == nullptr) {
    // An empty list clears the records the caller passed; the call fails all the same.
    vel::gdiplus::PropertyList().GetAll(totalBufferSize, numProperties, allItems);
    return SetStatus(InvalidParameter);
  }
  return SetStatus(content_->properties.GetAll(totalBufferSize, numProperties, allItems));
}

UINT Image::GetFrameDimensionsCount() {
  if (content_ == nullptr) return SetStatus(InvalidParameter), 0;
  return static_cast<UINT>(content_->dimensions.size());
}

Status Image::GetFrameDimensionsList(GUID* dimensionIDs, UINT count) {
  if (dimensionIDs) std::fill_n(dimensionIDs, count, GUID{});
  if (content_ == nullptr || dimensionIDs == nullptr || count != content_->dimensions.size()) {
    return SetStatus(InvalidParameter);
  }
  std::copy(content_->dimensions.begin(), content_->dimensions.end(), dimensionIDs);
  return Ok;
}

UINT Image::GetFrameCount(const GUID* dimensionID) {
  if (content_ == nullptr || dimensionID == nullptr) return SetStatus(InvalidParameter), 0;
  for (std::size_t i = 0; i < content_->dimensions.size(); ++i) {
    if (SameGuid(content_->dimensions[i], *dimensionID)) return content_->frameCounts[i];
  }
  return SetStatus(InvalidParameter), 0;
}

}  // namespace Gdiplus
