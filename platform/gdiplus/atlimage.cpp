// CImage over the GDI+ classes: the file is decoded once, and the bitmap
// keeps what the image code asks of it.
#include "platform/gdiplus/atlimage.h"

#include <climits>
#include <new>

#include "platform/com/hresult.h"
#include "platform/gdiplus/gdiplus.h"

CImage::~CImage() { Destroy(); }

HRESULT CImage::Load(LPCWSTR fileName) noexcept {
  Destroy();
  if (fileName == nullptr) return E_POINTER;
  try {
    // The platform's bitmap class keeps GDI+ started while it needs it.
    ULONG_PTR token = 0;
    const Gdiplus::GdiplusStartupInput input;
    if (Gdiplus::GdiplusStartup(&token, &input, nullptr) != Gdiplus::Ok) return E_FAIL;
    HRESULT hr = E_FAIL;
    {
      Gdiplus::Image image(fileName);
      const UINT width = image.GetWidth();
      const UINT height = image.GetHeight();
      if (image.GetLastStatus() == Gdiplus::Ok && width <= INT_MAX && height <= INT_MAX) {
        width_ = static_cast<int>(width);
        height_ = static_cast<int>(height);
        loaded_ = true;
        hr = S_OK;
      }
    }
    Gdiplus::GdiplusShutdown(token);
    return hr;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

void CImage::Destroy() noexcept {
  loaded_ = false;
  width_ = 0;
  height_ = 0;
}
