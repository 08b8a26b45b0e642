#include "image/ExifValues.h"

#include <exiv2/exiv2.hpp>

#include <vector>

namespace vel::image {

std::optional<RationalParts> RationalAt(const Exiv2::Value& value, long n) {
  if (n < 0 || n >= value.count()) return std::nullopt;
  if (value.typeId() == Exiv2::unsignedRational) {
    const auto* typed = dynamic_cast<const Exiv2::URationalValue*>(&value);
    if (!typed || static_cast<std::size_t>(n) >= typed->value_.size()) return std::nullopt;
    const Exiv2::URational& r = typed->value_[static_cast<std::size_t>(n)];
    return RationalParts{r.first, r.second};
  }
  if (value.typeId() == Exiv2::signedRational) {
    const auto* typed = dynamic_cast<const Exiv2::RationalValue*>(&value);
    if (!typed || static_cast<std::size_t>(n) >= typed->value_.size()) return std::nullopt;
    const Exiv2::Rational& r = typed->value_[static_cast<std::size_t>(n)];
    return RationalParts{r.first, r.second};
  }
  return std::nullopt;
}

double NumberAt(const Exiv2::Value& value, long n) {
  if (n < 0 || n >= value.count()) return 0.0;
  if (const std::optional<RationalParts> r = RationalAt(value, n)) {
    if (r->denominator == 0) return 0.0;
    return static_cast<double>(r->numerator) / static_cast<double>(r->denominator);
  }
  return static_cast<double>(value.toFloat(n));
}

std::string ValueBytes(const Exiv2::Value& value) {
  const long size = value.size();
  if (size <= 0) return {};
  std::vector<Exiv2::byte> buffer(static_cast<std::size_t>(size));
  const long copied = value.copy(buffer.data(), Exiv2::invalidByteOrder);
  const std::size_t used = copied > 0 && copied <= size ? static_cast<std::size_t>(copied) : 0;
  return std::string(reinterpret_cast<const char*>(buffer.data()), used);
}

}  // namespace vel::image
