// The part of libgdiplus's flat API the GDI+ classes call, declared here
// because the library ships no headers. Layouts are the library's (and the
// platform's): 32-bit tag and length, 16-bit type, then the value pointer.
//
// The library is loaded when first needed, not with the process: it brings
// the whole graphics stack (cairo, fontconfig, glib, the X client libraries),
// which costs a process about 15 ms to load, and only reading an image
// through these classes needs it.
//
// Private to platform/gdiplus. Thread safety: the library keeps process-wide
// state (codec tables, font configuration) without documenting which calls
// may overlap, so every call goes through LibraryLock(). Loading it is safe
// from any thread.
#pragma once

#include <mutex>

#include "platform/com/types.h"

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

}  // extern "C"

namespace vel::gdiplus {

// Serialises every call into the library.
std::mutex& LibraryLock();

// The library's calls we make, by their names in the library.
struct FlatApi {
  // The library's own start-up: process-wide, once. Its shut-down is never
  // called (it tears down state every other thread still uses).
  GpStatus (*GdiplusStartup)(ULONG_PTR* token, const GpStartupInput* input, void* output);
  GpStatus (*GdipLoadImageFromFile)(const WCHAR* filename, GpImage** image);
  GpStatus (*GdipDisposeImage)(GpImage* image);
  GpStatus (*GdipGetImageWidth)(GpImage* image, UINT* width);
  GpStatus (*GdipGetImageHeight)(GpImage* image, UINT* height);
  GpStatus (*GdipGetImageRawFormat)(GpImage* image, GUID* format);
  GpStatus (*GdipGetPropertySize)(GpImage* image, UINT* totalBufferSize, UINT* numProperties);
  GpStatus (*GdipGetAllPropertyItems)(GpImage* image, UINT totalBufferSize, UINT numProperties,
                                      GpPropertyItem* allItems);
  GpStatus (*GdipImageGetFrameDimensionsCount)(GpImage* image, UINT* count);
  GpStatus (*GdipImageGetFrameDimensionsList)(GpImage* image, GUID* dimensionIDs, UINT count);
  GpStatus (*GdipImageGetFrameCount)(GpImage* image, const GUID* dimensionID, UINT* count);
};

// The library's calls, the library loaded on the first call (and kept for
// the life of the process); null when it cannot be loaded or lacks one of
// them, which is written to the log once.
const FlatApi* Flat();

}  // namespace vel::gdiplus
