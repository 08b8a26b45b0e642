#include "messaging/MMS/MultipartFile.h"

#include <algorithm>
#include <string_view>

#include "messaging/MMS/MMSFileIO.h"
#include "ylib/YErrorFrame.h"

namespace {
constexpr char16_t kSource[] = u"MultipartFile";
}  // namespace

CMultipartFile::~CMultipartFile() = default;

bool CMultipartFile::WriteToFile(const char16_t* path) const {
  return YErrorFrame({u"CMultipartFile::WriteToFile", kSource, __LINE__}, [&] {
    if (path == nullptr || data.empty()) return false;
    return vel::mms::WriteFileReplacing(path, data.data(), data.size());
  });
}

void CMultipartFile::NormalizeSmil() {
  YErrorFrame({u"CMultipartFile::NormalizeSmil", kSource, __LINE__}, [&] {
    // The data is text: a zero byte ends it.
    const auto zero = std::find(data.begin(), data.end(), std::uint8_t{0});
    const std::string_view text(reinterpret_cast<const char*>(data.data()),
                                static_cast<std::size_t>(zero - data.begin()));
    if (text.find("<smil") == std::string_view::npos) return;
    std::size_t closers = 0;
    std::size_t laidOut = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
      if (text[i] != '>') continue;
      ++closers;
      if (text.substr(i + 1, 2) == "\r\n") ++laidOut;
    }
    if (laidOut >= closers) return;
    std::vector<std::uint8_t> out;
    out.reserve(text.size() + 2 * (closers - laidOut));
    for (std::size_t i = 0; i < text.size(); ++i) {
      out.push_back(static_cast<std::uint8_t>(text[i]));
      if (text[i] == '>' && (i + 1 == text.size() || text[i + 1] != '\r')) {
        out.push_back('\r');
        out.push_back('\n');
      }
    }
    data = std::move(out);
  });
}
