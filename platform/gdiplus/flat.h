// The part of libgdiplus's flat API the GDI+ classes call, declared here
// because the library ships no headers. Layouts are the library's (and the
// platform's): 32-bit tag and length, 16-bit type, then the value pointer.
//
// Private to platform/gdiplus. Thread safety: the library keeps process-wide
// state (codec tables, font configuration) without documenting which calls
// may overlap, so every call goes through LibraryLock().
#pragma once

#include <mutex>

#include "platform/com/types.h"

namespace vel::gdiplus {

// Serialises every call into the library.
std::mutex& LibraryLock();

}  // namespace vel::gdiplus

extern "C" {

struct GpImage;  // opaque
using GpStatus = int;

struct GpStartupInput {
  std::uint32_t version;
  void* debugCallback;
  BOOL suppressBackgroundThread;
  BOOL suppressExternalCodecs;
};

struct GpPropertyItem {
  std::uint32_t id;
  std::uint32_t length;
  std::uint16_t type;
  void* value;
};

// The library's own start-up: process-wide, once. Its shut-down is never
// called (it tears down state every other thread still uses).
GpStatus GdiplusStartup(ULONG_PTR* token, const GpStartupInput* input, void* output);

GpStatus GdipLoadImageFromFile(const WCHAR* filename, GpImage** image);
GpStatus GdipDisposeImage(GpImage* image);
GpStatus GdipGetImageWidth(GpImage* image, UINT* width);
GpStatus GdipGetImageHeight(GpImage* image, UINT* height);
GpStatus GdipGetImageRawFormat(GpImage* image, GUID* format);
GpStatus GdipGetPropertySize(GpImage* image, UINT* totalBufferSize, UINT* numProperties);
GpStatus GdipGetAllPropertyItems(GpImage* image, UINT totalBufferSize, UINT numProperties, GpPropertyItem* allItems);
GpStatus GdipImageGetFrameDimensionsCount(GpImage* image, UINT* count);
GpStatus GdipImageGetFrameDimensionsList(GpImage* image, GUID* dimensionIDs, UINT count);
GpStatus GdipImageGetFrameCount(GpImage* image, const GUID* dimensionID, UINT* count);

}  // extern "C"
