#include "image/IptcKeywords.h"

#include <exiv2/exiv2.hpp>

#include <algorithm>

#include "image/ExifValues.h"
#include "image/MetadataText.h"
#include "platform/text.h"
#include "ylib/YLogging.h"

namespace vel::image {
namespace {

constexpr char kKeywords[] = "Iptc.Application2.Keywords";
constexpr char kCharacterSet[] = "Iptc.Envelope.CharacterSet";
constexpr char kUtf8Escape[] = "\x1B%G";

bool IsAscii(const std::string& bytes) {
  return std::all_of(bytes.begin(), bytes.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

std::vector<std::string> StoredKeywords(const Exiv2::IptcData& data) {
  std::vector<std::string> stored;
  for (const Exiv2::Iptcdatum& datum : data) {
    if (datum.key() == kKeywords) stored.push_back(ValueBytes(datum.value()));
  }
  return stored;
}

bool DeclaresUtf8(Exiv2::IptcData& data) {
  const auto found = data.findKey(Exiv2::IptcKey(kCharacterSet));
  return found != data.end() && ValueBytes(found->value()) == kUtf8Escape;
}

}  // namespace

std::vector<std::u16string> ReadIptcKeywords(const Exiv2::IptcData& data) {
  std::vector<std::u16string> keywords;
  const bool debug = CYLogging::Instance().IsDebuggingLevelInternal();
  for (const Exiv2::Iptcdatum& datum : data) {
    if (debug) CYLogging::Log(kYLogDebug, u"Found IPTC\n- Tag: %S\n- Value: %S\n", datum.key(), datum.toString());
    if (datum.key() != kKeywords) continue;
    keywords.push_back(DecodeMetadataText(ValueBytes(datum.value()), kWindows1252));
    CYLogging::Log(kYLogDebug, u"Found Keyword: %s\n", keywords.back());
  }
  return keywords;
}

bool WriteIptcKeywords(Exiv2::IptcData& data, const std::vector<std::u16string>& keywords) {
  std::vector<std::string> wanted;
  for (const std::u16string& keyword : keywords) wanted.push_back(vel::ToUtf8(keyword));
  const bool needsUtf8 = !std::all_of(wanted.begin(), wanted.end(), IsAscii);
  if (StoredKeywords(data) == wanted && (!needsUtf8 || DeclaresUtf8(data))) return false;

  const Exiv2::IptcKey key(kKeywords);
  for (auto found = data.findKey(key); found != data.end(); found = data.findKey(key)) data.erase(found);
  for (const std::string& bytes : wanted) {
    Exiv2::StringValue value(bytes);
    data.add(key, &value);
  }
  if (needsUtf8 && !DeclaresUtf8(data)) data[kCharacterSet] = std::string(kUtf8Escape);
  return true;
}

}  // namespace vel::image
