// Whole-file reading and safe replacing writes for the MMS decoder and writer.
//
// Thread safety: no shared state; any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vel::mms {

enum class ReadResult { kOk, kOpenFailed, kEmpty, kReadFailed };

// The whole file into bytes. A file that shrinks while read gives what was
// there; nothing read at all is kReadFailed.
ReadResult ReadWholeFile(const char16_t* path, std::vector<std::uint8_t>& bytes);

// Creates or replaces path with exactly these bytes. The bytes go to a new
// temporary file in the same folder first, which is then renamed over path,
// so a failed write never leaves a damaged file. False on any failure.
bool WriteFileReplacing(const char16_t* path, const std::uint8_t* data, std::size_t size);

// Creates a new file in folder with exactly these bytes, named name or, when
// that name is taken (by any file, folder or link), the first free of
// "stem (2).ext", "stem (3).ext", ... Never follows a link and never touches
// what is already there. The path of the file created; empty when none could
// be (a partly written one is removed).
std::u16string WriteNewFile(std::u16string_view folder, std::u16string_view name, const std::uint8_t* data,
                            std::size_t size);

}  // namespace vel::mms
