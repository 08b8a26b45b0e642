// IPTC keywords (dataset 2:25, "Iptc.Application2.Keywords"): one keyword a
// dataset, in dataset order.
//
// Reading decodes each keyword as UTF-8, or as Windows-1252 when its bytes
// are not valid UTF-8 (as older software wrote them). Writing stores UTF-8 and,
// when a keyword is not plain ASCII, declares the coded character set (1:90,
// ESC % G) so other readers take the bytes as UTF-8 too; a list equal to the
// stored one changes nothing.
//
// Thread safety: pure functions over the caller's data; any thread.
#pragma once

#include <string>
#include <vector>

namespace Exiv2 {
class IptcData;
}  // namespace Exiv2

namespace vel::image {

// The keywords of data; logs each at level 4.
std::vector<std::u16string> ReadIptcKeywords(const Exiv2::IptcData& data);
// Replaces the keywords of data with these; true when data changed.
bool WriteIptcKeywords(Exiv2::IptcData& data, const std::vector<std::u16string>& keywords);

}  // namespace vel::image
