// Exiv2, the library the image plugin reads and writes EXIF and IPTC data
// with: set up once per process, images opened on files by their own path,
// and the library's errors turned into the plugin's reports.
//
// Set-up (on first use, once): the XMP toolkit is initialised with a lock, as
// the library asks of programs that use it from several threads, and the
// library's warnings and errors go to the module's log (levels 3 and 4)
// instead of standard error.
//
// Opening: the image is read from a file object made on the file system's own
// (UTF-8) path of the module path text, never from the text itself, which the
// library would take as a URL ("http://...") or standard input ("-"). A file
// of a type the library does not know raises the library's error 11.
//
// Exiv2's own headers stay in the plugin's .cpp files; this header only
// names the types.
//
// Thread safety: any thread; each opened image belongs to its caller.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string_view>

#include "ylib/YErrorFrame.h"

namespace Exiv2 {
class Image;
class AnyError;
}  // namespace Exiv2

namespace vel::image {

// Sets the library up for this process (once; later calls return at once).
void UseExiv2();

// The image at path (a module path text) with its metadata not yet read;
// never null. A path with no file-system form raises its Win32 error; the
// library's failures (error 11 for an unknown type) arrive as Exiv2::AnyError.
std::unique_ptr<Exiv2::Image> OpenExiv2Image(std::u16string_view path, const YFrame& f);

// Whether the plugin writes metadata into this image: JPEG and TIFF only. For
// other formats WriteExiv2Image raises the library's "Writing to ... images
// is not supported" error.
bool IsWritableExiv2Image(const Exiv2::Image& image);
void WriteExiv2Image(Exiv2::Image& image);

// Edits the image at path through a replacing file: the file is locked
// against other writers, read into memory, handed to edit, written by the
// library into memory and put in place through the replacing file only when
// edit says it changed something; otherwise (and on any failure) the file
// stays as it was, bytes and time, with no temporary file beside it. A file of
// a format the plugin does not write raises the library's "not supported"
// error before edit runs, a missing file the library's error; a change that
// cannot be stored (a read-only file, a full disk) raises its Win32 error.
void EditExiv2Image(std::u16string_view path, const YFrame& f, const std::function<bool(Exiv2::Image&)>& edit);

// The report of a library error: its what() text as message, code, the
// numeric detail "Exiv2ErrorCode"; logged at level 3 and dropped.
void LogExiv2Error(const Exiv2::AnyError& error, std::int32_t code, const YFrame& f);

}  // namespace vel::image
