#include "messaging/vmessage/StringManipulator.h"

std::u16string_view CStringManipulator::Name(std::u16string_view line) const noexcept {
  const std::size_t colon = line.find(u':');
  return colon == std::u16string_view::npos ? line : line.substr(0, colon);
}

std::u16string_view CStringManipulator::Value(std::u16string_view line) const noexcept {
  const std::size_t colon = line.find(u':');
  return colon == std::u16string_view::npos ? std::u16string_view() : line.substr(colon + 1);
}

bool CStringManipulator::NameAndValueContain(std::u16string_view line, std::u16string_view inName,
                                             std::u16string_view inValue) const noexcept {
  return Contains(Name(line), inName) && Contains(Value(line), inValue);
}

bool CStringManipulator::Contains(std::u16string_view text, std::u16string_view part) const noexcept {
  return text.find(part) != std::u16string_view::npos;
}

bool CStringManipulator::Is(std::u16string_view a, std::u16string_view b) const noexcept { return a == b; }
