// CStringManipulator: the tests on one vMessage line (without its line end)
// that the reader decides by. All comparisons are case-sensitive.
//
// Thread safety: no state; any thread.
#pragma once

#include <string_view>

class CStringManipulator {
 public:
  virtual ~CStringManipulator() = default;

  // The text before the first ":", or the whole line when it has none.
  std::u16string_view Name(std::u16string_view line) const noexcept;
  // The text after the first ":", or nothing when the line has none.
  std::u16string_view Value(std::u16string_view line) const noexcept;
  bool NameAndValueContain(std::u16string_view line, std::u16string_view inName,
                           std::u16string_view inValue) const noexcept;
  bool Contains(std::u16string_view text, std::u16string_view part) const noexcept;
  bool Is(std::u16string_view a, std::u16string_view b) const noexcept;
};
