// UniqueAny: the one owner of a handle of any kind (file, mapping, view,
// registry key, module, descriptor, a library's record). A traits class names
// the handle's type, its invalid value and how it is closed:
//
//   struct Traits {
//     using Type = HANDLE;
//     static Type Invalid() noexcept;            // what an empty owner holds
//     static bool IsValid(Type h) noexcept;      // false for every "no handle" form
//     static void Close(Type h) noexcept;        // called for valid handles only
//   };
//
// put() closes what the owner holds before handing out the address of its
// slot, so an out-parameter never overwrites a live handle:
//   UniqueHKey key;
//   RegOpenKeyExW(root, name, 0, KEY_READ, key.put());
//
// Thread safety: an owner belongs to one thread at a time, like the handle.
#pragma once

#include <utility>

namespace vel {

template <class Traits>
class UniqueAny {
 public:
  using Type = typename Traits::Type;

  UniqueAny() noexcept : value_(Traits::Invalid()) {}
  explicit UniqueAny(Type value) noexcept : value_(value) {}
  ~UniqueAny() { reset(); }

  UniqueAny(UniqueAny&& other) noexcept : value_(other.release()) {}
  UniqueAny& operator=(UniqueAny&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  UniqueAny(const UniqueAny&) = delete;
  UniqueAny& operator=(const UniqueAny&) = delete;

  Type get() const noexcept { return value_; }
  bool valid() const noexcept { return Traits::IsValid(value_); }
  explicit operator bool() const noexcept { return valid(); }

  // Closes the handle held (if any) and takes value.
  void reset(Type value = Traits::Invalid()) noexcept {
    Type old = std::exchange(value_, value);
    if (Traits::IsValid(old)) Traits::Close(old);
  }
  // Gives the handle up without closing it.
  [[nodiscard]] Type release() noexcept { return std::exchange(value_, Traits::Invalid()); }
  // Closes the handle held, then hands out the slot for an out-parameter.
  Type* put() noexcept {
    reset();
    return &value_;
  }

 private:
  Type value_;
};

// Traits for a pointer-like handle whose only invalid value is null.
template <class T, auto CloseFunction>
struct NullHandleTraits {
  using Type = T;
  static Type Invalid() noexcept { return nullptr; }
  static bool IsValid(Type h) noexcept { return h != nullptr; }
  static void Close(Type h) noexcept { CloseFunction(h); }
};

}  // namespace vel
