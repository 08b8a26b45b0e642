// CImage over the GDI+ classes.
#include "platform/gdiplus/atlimage.h"

#include "platform/com/hresult.h"

CImage::~CImage() { Destroy(); }

HRESULT CImage::Load(LPCWSTR fileName) noexcept {
  Destroy();
  return E_NOTIMPL;
}

void CImage::Destroy() noexcept {
  loaded_ = false;
  width_ = 0;
  height_ = 0;
}
