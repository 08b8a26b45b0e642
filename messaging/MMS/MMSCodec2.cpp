#include "messaging/MMS/MMSCodec2.h"

#include <span>
#include <vector>

#include "messaging/MMS/MMSFileIO.h"
#include "messaging/MMS/MMSPduParser.h"
#include "ylib/YErrorFrame.h"
#include "ylib/YLogging.h"

namespace {
constexpr char16_t kSource[] = u"MMSCodec2";
}  // namespace

CMMSCodec2::CMMSCodec2() = default;
CMMSCodec2::~CMMSCodec2() = default;

CMMSHeader* CMMSCodec2::GetHeader() {
  return YErrorFrame({u"CMMSCodec2::GetHeader", kSource, __LINE__}, [&] {
    if (!header_) header_ = std::make_unique<CMMSHeader>();
    return header_.get();
  });
}

CMultipartContainer* CMMSCodec2::GetContainer() {
  return YErrorFrame({u"CMMSCodec2::GetContainer", kSource, __LINE__}, [&] {
    if (!container_) container_ = std::make_unique<CMultipartContainer>();
    return container_.get();
  });
}

int CMMSCodec2::ParseMmsMessage(const char16_t* path) {
  return YErrorFrame({u"CMMSCodec2::ParseMmsMessage", kSource, __LINE__}, [&] {
    if (path == nullptr || *path == 0) return kMmsErrEmptyPath;
    std::vector<std::uint8_t> bytes;
    switch (vel::mms::ReadWholeFile(path, bytes)) {
      case vel::mms::ReadResult::kOpenFailed: return kMmsErrOpenFailed;
      case vel::mms::ReadResult::kEmpty: return kMmsErrEmptyFile;
      case vel::mms::ReadResult::kReadFailed: return kMmsErrReadFailed;
      case vel::mms::ReadResult::kOk: break;
    }
    const int bodyOffset = ParseHeader(bytes.data(), bytes.size(), GetHeader());
    if (bodyOffset < 0) return bodyOffset;
    CYLogging::Log(kYLogDebug, u"CMMSCodec2::ParseMmsMessage: Header parsing ok. Next; multipart files.\n");
    const int body = ParseMultipartFiles(bytes.data() + bodyOffset, bytes.size() - static_cast<std::size_t>(bodyOffset),
                                         GetContainer());
    return body > 0 ? 0 : body;
  });
}

int CMMSCodec2::ParseHeader(const std::uint8_t* data, std::size_t length, CMMSHeader* header) {
  return YErrorFrame({u"CMMSCodec2::ParseHeader", kSource, __LINE__}, [&] {
    if (data == nullptr || length == 0 || header == nullptr) return 0;
    return vel::mms::ParseHeader(std::span(data, length), *header);
  });
}

int CMMSCodec2::ParseMultipartFiles(const std::uint8_t* data, std::size_t length, CMultipartContainer* container) {
  return YErrorFrame({u"CMMSCodec2::ParseMultipartFiles", kSource, __LINE__}, [&] {
    if (data == nullptr || length == 0 || container == nullptr) return 0;
    return vel::mms::ParseMultipartFiles(std::span(data, length), *container);
  });
}

int CMMSCodec2::ReadMultipartFile(const std::uint8_t* data, std::size_t length, CMultipartFile* part) {
  return YErrorFrame({u"CMMSCodec2::ReadMultipartFile", kSource, __LINE__}, [&] {
    if (data == nullptr || length == 0 || part == nullptr) return kMmsErrLengthMismatch;
    return vel::mms::ReadMultipartFile(std::span(data, length), *part);
  });
}
