// Byte-array VARIANTs (VT_ARRAY|VT_UI1, one dimension) as the audio plugin and
// its tag editors hand pictures and binary tags around.
//
// Thread safety: no state of its own; a view belongs to one thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "platform/com/comdef.h"

// The bytes of a byte-array value, borrowed (not copied) while the view
// lives. Not valid for any other value, an array of another shape, or one
// whose data cannot be reached.
class CByteArrayView {
 public:
  explicit CByteArrayView(const VARIANT& value) noexcept;
  ~CByteArrayView();
  CByteArrayView(const CByteArrayView&) = delete;
  CByteArrayView& operator=(const CByteArrayView&) = delete;

  bool valid() const noexcept { return valid_; }
  std::span<const std::uint8_t> bytes() const noexcept { return {data_, size_}; }
  bool operator==(const CByteArrayView& other) const noexcept;

 private:
  SAFEARRAY* locked_ = nullptr;  // accessed, to be released
  const std::uint8_t* data_ = nullptr;
  std::size_t size_ = 0;
  bool valid_ = false;
};

// A new byte-array value holding a copy of size bytes at data.
_variant_t MakeByteArrayVariant(const std::uint8_t* data, std::size_t size);
// A new byte-array value of size bytes, all of them written by fill; VT_EMPTY
// when fill answers false.
_variant_t MakeByteArrayVariant(std::size_t size, const std::function<bool(std::span<std::uint8_t>)>& fill);
// The bytes of a byte-array value; false for anything else.
bool GetByteArrayContent(const VARIANT& value, std::vector<std::uint8_t>& bytes);
