// velitems picture [--raw] get FILE OUT | set FILE IMAGE | clear FILE: the
// embedded picture of an audio file through the plugin's picture interface
// (IVelItemAudio). clear hands over VT_EMPTY, which removes the picture.
//
// The plugin's picture value is the image itself for MP4 files, but for the
// Windows Media family (".wma", ".mp3", ".wmv", ".asf") an attached-picture
// body (encoding, MIME type, picture type, description, image). For those,
// so that a person deals in image files either way, set wraps IMAGE in a body
// (MIME type from the image's content, front cover, no description) and get
// writes the image out of the body. --raw hands the value over unchanged in
// both directions.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "host/cli/com_host.h"
#include "host/cli/commands.h"
#include "host/cli/image_mime.h"
#include "contract/PictureBody.h"
#include "platform/com/oleauto.h"
#include "platform/win32/UniqueHandles.h"
#include "platform/win32/fileapi.h"
#include "platform/win32/winbase.h"

namespace velitems {
namespace {

// "velitems: <path>: <what>: <system text>" on standard error.
void ReportFileError(const std::string& path, const char* what, DWORD error) {
  _com_error e(HRESULT_FROM_WIN32(error));
  const char16_t* text = e.ErrorMessage();
  std::fprintf(stderr, "velitems: %s: %s: %s\n", path.c_str(), what, text ? Narrow(text).c_str() : "");
}

// A new byte array of size bytes (zeros); nothing when it cannot be made.
std::optional<_variant_t> NewByteArray(std::size_t size) {
  SAFEARRAY* array = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(size));
  if (array == nullptr) return {};
  VARIANT value;
  VariantInit(&value);
  value.vt = VT_ARRAY | VT_UI1;
  value.parray = array;
  _variant_t owned;
  owned.Attach(value);
  return owned;
}

// The bytes of a one-dimensional byte array, borrowed (not copied) while the
// view lives; not valid for any other value.
class ByteArrayView {
 public:
  explicit ByteArrayView(const VARIANT& value) {
    if (value.vt != (VT_ARRAY | VT_UI1) || value.parray == nullptr || SafeArrayGetDim(value.parray) != 1) return;
    LONG lower = 0, upper = -1;
    SafeArrayGetLBound(value.parray, 1, &lower);
    SafeArrayGetUBound(value.parray, 1, &upper);
    void* data = nullptr;
    if (FAILED(SafeArrayAccessData(value.parray, &data))) return;
    locked_ = value.parray;
    data_ = static_cast<BYTE*>(data);
    size_ = upper >= lower ? static_cast<std::size_t>(static_cast<long long>(upper) - lower + 1) : 0;
  }
  ~ByteArrayView() {
    if (locked_ != nullptr) SafeArrayUnaccessData(locked_);
  }
  ByteArrayView(const ByteArrayView&) = delete;
  ByteArrayView& operator=(const ByteArrayView&) = delete;

  bool valid() const { return locked_ != nullptr; }
  BYTE* data() const { return data_; }
  std::span<const BYTE> bytes() const { return {data_, size_}; }

 private:
  SAFEARRAY* locked_ = nullptr;
  BYTE* data_ = nullptr;
  std::size_t size_ = 0;
};

// The whole file as a byte array, read straight into the array that is
// handed to the plugin (a large picture is held once); false (reported) when
// it cannot be read.
bool ReadPictureFile(const std::string& path, _variant_t& picture) {
  vel::UniqueFile file(CreateFileW(Wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
  LARGE_INTEGER size{};
  if (!file.valid() || !GetFileSizeEx(file.get(), &size)) {
    ReportFileError(path, "cannot read", GetLastError());
    return false;
  }
  // A picture travels in one SAFEARRAY, whose element count is 32 bits.
  if (size.QuadPart > 0x7FFFFFFF) {
    std::fprintf(stderr, "velitems: %s: too large for a picture\n", path.c_str());
    return false;
  }
  std::optional<_variant_t> array = NewByteArray(static_cast<std::size_t>(size.QuadPart));
  if (!array) {
    ReportFailure("SafeArrayCreateVector", E_OUTOFMEMORY);
    return false;
  }
  std::size_t done = 0;
  {
    const ByteArrayView into(*array);
    if (!into.valid()) {
      ReportFailure("SafeArrayAccessData", E_UNEXPECTED);
      return false;
    }
    while (done < into.bytes().size()) {
      DWORD read = 0;
      if (!ReadFile(file.get(), into.data() + done, static_cast<DWORD>(into.bytes().size() - done), &read, nullptr)) {
        ReportFileError(path, "cannot read", GetLastError());
        return false;
      }
      if (read == 0) break;  // shortened meanwhile
      done += read;
    }
  }
  if (done < static_cast<std::size_t>(size.QuadPart)) {
    SAFEARRAYBOUND bound{static_cast<ULONG>(done), 0};
    if (FAILED(SafeArrayRedim(array->parray, &bound))) {
      ReportFailure("SafeArrayRedim", E_OUTOFMEMORY);
      return false;
    }
  }
  picture = std::move(*array);
  return true;
}

bool WriteWholeFile(const std::string& path, const BYTE* data, std::size_t size) {
  vel::UniqueFile file(CreateFileW(Wide(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                   nullptr));
  if (!file.valid()) {
    ReportFileError(path, "cannot write", GetLastError());
    return false;
  }
  std::size_t done = 0;
  while (done < size) {
    DWORD written = 0;
    if (!WriteFile(file.get(), data + done, static_cast<DWORD>(size - done), &written, nullptr) || written == 0) {
      ReportFileError(path, "cannot write", GetLastError());
      return false;
    }
    done += written;
  }
  return true;
}

// What tells a picture read back from the one written without keeping the
// written one: its size and a 64-bit FNV-1a hash of its bytes. No picture
// (VT_EMPTY, VT_NULL) counts as no bytes, so an empty image is the same as
// clearing; a value that holds no bytes at all is nothing that was written.
struct PictureDigest {
  bool bytes = false;
  std::size_t size = 0;
  std::uint64_t hash = 0;
  bool operator==(const PictureDigest&) const = default;
};

PictureDigest DigestOf(const VARIANT& value) {
  if (value.vt == VT_EMPTY || value.vt == VT_NULL) return {true, 0, 0xcbf29ce484222325ULL};
  const ByteArrayView view(value);
  if (!view.valid()) return {};
  std::uint64_t hash = 0xcbf29ce484222325ULL;
  for (const BYTE b : view.bytes()) hash = (hash ^ b) * 0x100000001b3ULL;
  return {true, view.bytes().size(), hash};
}

// Whether the plugin's picture value for file is an attached-picture body.
bool TakesPictureBodies(const std::string& file) {
  const std::size_t slash = file.find_last_of('/');
  const std::size_t dot = file.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return false;
  std::string ext = file.substr(dot);
  for (char& c : ext) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  return ext == ".wma" || ext == ".mp3" || ext == ".wmv" || ext == ".asf";
}

// The picture interface of the plugin the factory picks for file, or null
// after the reason was printed.
ComPtr<IVelItemAudio> PicturePlugin(const std::string& file) {
  ComPtr<IVelItemPlugin> plugin = PluginForFile(file);
  if (!plugin) return {};
  ComPtr<IVelItemAudio> audio;
  if (FAILED(plugin.QueryInterface(audio)) || !audio) {
    const std::string name = PluginName(plugin.get());
    std::fprintf(stderr, "velitems: %s: the %s plugin keeps no pictures (it has no IVelItemAudio)\n", file.c_str(),
                 name.empty() ? "chosen" : name.c_str());
    return {};
  }
  return audio;
}

int RunPictureGet(const std::string& file, const std::string& out, bool raw) {
  ComPtr<IVelItemAudio> audio = PicturePlugin(file);
  if (!audio) return 1;
  _variant_t picture;
  const HRESULT hr = audio->ReadPicture(_bstr_t(Wide(file)), picture.GetAddress());
  if (FAILED(hr)) {
    ReportFailure("ReadPicture", hr);
    return 1;
  }
  if (picture.vt == VT_EMPTY || picture.vt == VT_NULL) {
    std::fprintf(stderr, "velitems: %s: no picture\n", file.c_str());
    return 1;
  }
  // Written from the returned array itself.
  const ByteArrayView bytes(picture);
  if (!bytes.valid()) {
    std::fprintf(stderr, "velitems: %s: ReadPicture answered a value of type %u, not bytes\n", file.c_str(),
                 static_cast<unsigned>(picture.vt));
    return 1;
  }
  if (raw || !TakesPictureBodies(file)) return WriteWholeFile(out, bytes.data(), bytes.bytes().size()) ? 0 : 1;
  const std::optional<vel::wma::PictureFields> fields = vel::wma::DecodePictureBody(bytes.bytes());
  if (!fields) {
    std::fprintf(stderr, "velitems: %s: the picture is not an attached-picture body this command reads; "
                 "--raw writes it as it is\n", file.c_str());
    return 1;
  }
  return WriteWholeFile(out, fields->data.data(), fields->data.size()) ? 0 : 1;
}

int RunPictureSet(const std::string& file, const std::string* image, bool raw) {
  // The image first: a file that cannot be read changes nothing.
  _variant_t picture;
  if (image != nullptr) {
    if (!ReadPictureFile(*image, picture)) return 1;
    if (!raw && TakesPictureBodies(file)) {
      std::vector<BYTE> body;
      {
        const ByteArrayView bytes(picture);
        const std::u16string mime = ImageMimeType(bytes.bytes());
        if (mime.empty()) {
          std::fprintf(stderr, "velitems: %s: not a JPEG, PNG, GIF, BMP, WebP or TIFF image; --raw hands the bytes "
                       "over as they are\n", image->c_str());
          return 1;
        }
        body = vel::wma::EncodePictureBody(mime, 3, u"", bytes.bytes());  // 3: front cover
      }
      picture.Clear();  // the image itself is no longer needed
      if (body.size() > 0x7FFFFFFF) {
        std::fprintf(stderr, "velitems: %s: too large for a picture\n", image->c_str());
        return 1;
      }
      std::optional<_variant_t> array = NewByteArray(body.size());
      if (!array) {
        ReportFailure("SafeArrayCreateVector", E_OUTOFMEMORY);
        return 1;
      }
      {
        const ByteArrayView into(*array);
        if (!into.valid()) {
          ReportFailure("SafeArrayAccessData", E_UNEXPECTED);
          return 1;
        }
        std::copy(body.begin(), body.end(), into.data());
      }
      picture = std::move(*array);
    }
  }
  ComPtr<IVelItemAudio> audio = PicturePlugin(file);
  if (!audio) return 1;
  const HRESULT hr = audio->WritePicture(_bstr_t(Wide(file)), picture);
  if (FAILED(hr)) {
    ReportFailure("WritePicture", hr);
    return 1;
  }
  // The plugin leaves files that keep no pictures as they are and succeeds;
  // that is no success for the person who asked to store one. The picture
  // written goes before it is read back: only its digest is compared.
  const PictureDigest written = DigestOf(picture);
  picture.Clear();
  _variant_t now;
  if (SUCCEEDED(audio->ReadPicture(_bstr_t(Wide(file)), now.GetAddress())) &&
      (!written.bytes || DigestOf(now) != written)) {
    std::fprintf(stderr, "velitems: %s: this file keeps no pictures; it was left as it is\n", file.c_str());
    return 1;
  }
  return 0;
}

}  // namespace

int RunPicture(const Args& given) {
  // --raw may stand anywhere among the arguments.
  Args args;
  bool raw = false;
  for (const std::string& arg : given) {
    if (arg == "--raw") {
      raw = true;
    } else {
      args.push_back(arg);
    }
  }
  if (args.empty()) return UsageError("picture expects \"get\", \"set\" or \"clear\"");
  const std::string& verb = args[0];
  if (verb == "get") {
    if (args.size() != 3) return UsageError("picture get expects FILE OUT");
    return RunPictureGet(args[1], args[2], raw);
  }
  if (verb == "set") {
    if (args.size() != 3) return UsageError("picture set expects FILE IMAGE");
    return RunPictureSet(args[1], &args[2], raw);
  }
  if (verb == "clear") {
    if (args.size() != 2) return UsageError("picture clear expects FILE");
    return RunPictureSet(args[1], nullptr, raw);
  }
  return UsageError("picture expects \"get\", \"set\" or \"clear\", not \"" + verb + "\"");
}

}  // namespace velitems
