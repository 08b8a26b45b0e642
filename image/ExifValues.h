// Reading numbers out of Exiv2 values the way the plugin needs them: each
// rational with its own signedness (an unsigned 3000000000/1000000000 is 3.0,
// not a negative number), and no read past the values a datum holds.
//
// Thread safety: pure functions; any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace Exiv2 {
class Value;
}  // namespace Exiv2

namespace vel::image {

struct RationalParts {
  std::int64_t numerator;
  std::int64_t denominator;
};

// The n-th rational of an unsigned or signed rational value; nothing for
// other types and past the last component.
std::optional<RationalParts> RationalAt(const Exiv2::Value& value, long n);
// The n-th component as a number: rationals as numerator ÷ denominator,
// other types as the library reads them; 0 past the last component and for a
// zero denominator.
double NumberAt(const Exiv2::Value& value, long n);
// The value's bytes as stored (for UNDEFINED values and IPTC datasets).
std::string ValueBytes(const Exiv2::Value& value);

}  // namespace vel::image
