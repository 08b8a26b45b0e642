// File names for what a message unpacks into a folder. A name that comes
// from a message (or from a person's title) is text, not a path: only its
// last component may name the file, so folders, drives and ".." never steer
// where the file goes.
//
// Thread safety: pure functions; any thread.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

class CMultipartFile;

namespace vel::mms {

// The text after the last "/", "\" or ":" of name, when it is not empty, at
// most 200 characters long and free of control characters; nothing otherwise.
std::optional<std::u16string_view> UsableLastComponent(std::u16string_view name) noexcept;

// A file name for a part that cannot leave the folder it is joined to: the
// usable last component of name unless it is only dots and blanks, otherwise
// "part" + index + the extension of the part's content type.
std::u16string MakeSafePartFileName(std::u16string_view name, std::size_t index, const CMultipartFile& part);

}  // namespace vel::mms
