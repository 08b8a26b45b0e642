// CImage: the platform's bitmap class, loaded from a file through GDI+. The
// image code uses only what a loaded bitmap knows of itself: whether there is
// one, and its width and height in pixels.
//
// Load decodes BMP, GIF, JPEG, PNG and TIFF files. Any GDI+ status but Ok
// (a missing file among them) is E_FAIL, as on the platform.
//
// Thread safety: one object belongs to one thread at a time; objects on
// different threads are independent.
#pragma once

#include "platform/com/types.h"

class CImage {
 public:
  CImage() noexcept = default;
  virtual ~CImage();
  CImage(const CImage&) = delete;
  CImage& operator=(const CImage&) = delete;

  // Loads fileName (a module path text); a loaded bitmap is destroyed first.
  // S_OK; E_FAIL when GDI+ cannot read or decode the file; E_POINTER for a
  // null name.
  HRESULT Load(LPCWSTR fileName) noexcept;
  // Releases the bitmap; width and height become 0. Harmless when empty.
  void Destroy() noexcept;

  bool IsNull() const noexcept { return !loaded_; }
  int GetWidth() const noexcept { return width_; }
  int GetHeight() const noexcept { return height_; }

 private:
  bool loaded_ = false;
  int width_ = 0;
  int height_ = 0;
};
