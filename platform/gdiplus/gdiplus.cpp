// The GDI+ classes over libgdiplus.
#include "platform/gdiplus/gdiplus.h"

extern "C" {
const GUID FrameDimensionTime = {0x6aedbd6d, 0x3fb5, 0x418a, {0x83, 0xa6, 0x7f, 0x45, 0x22, 0x9d, 0xc8, 0x72}};
const GUID FrameDimensionResolution = {0x84236f7b, 0x3bd3, 0x428f, {0x8d, 0xab, 0x4e, 0xa1, 0x43, 0x9c, 0xa3, 0x15}};
const GUID FrameDimensionPage = {0x7462dc86, 0x6180, 0x4c7e, {0x8e, 0x3f, 0xee, 0x73, 0x33, 0xa7, 0xa4, 0x83}};
}

namespace Gdiplus {

Status GdiplusStartup(ULONG_PTR* token, const GdiplusStartupInput* input, GdiplusStartupOutput* output) {
  if (token) *token = 0;
  return NotImplemented;
}

void GdiplusShutdown(ULONG_PTR token) {}

struct Image::Content {};

Image::Image(const WCHAR* filename, BOOL useEmbeddedColorManagement) { lastResult_ = NotImplemented; }
Image::~Image() { delete content_; }
Image* Image::FromFile(const WCHAR* filename, BOOL useEmbeddedColorManagement) {
  return new Image(filename, useEmbeddedColorManagement);
}
Status Image::SetStatus(Status status) const {
  if (status != Ok) lastResult_ = status;
  return status;
}
Status Image::GetLastStatus() const {
  const Status last = lastResult_;
  lastResult_ = Ok;
  return last;
}
UINT Image::GetWidth() { SetStatus(NotImplemented); return 0; }
UINT Image::GetHeight() { SetStatus(NotImplemented); return 0; }
UINT Image::GetPropertyCount() { SetStatus(NotImplemented); return 0; }
Status Image::GetPropertyIdList(UINT numOfProperty, PROPID* list) { return SetStatus(NotImplemented); }
UINT Image::GetPropertyItemSize(PROPID propId) { SetStatus(NotImplemented); return 0; }
Status Image::GetPropertyItem(PROPID propId, UINT propSize, PropertyItem* buffer) { return SetStatus(NotImplemented); }
Status Image::GetPropertySize(UINT* totalBufferSize, UINT* numProperties) {
  if (totalBufferSize) *totalBufferSize = 0;
  if (numProperties) *numProperties = 0;
  return SetStatus(NotImplemented);
}
Status Image::GetAllPropertyItems(UINT totalBufferSize, UINT numProperties, PropertyItem* allItems) {
  return SetStatus(NotImplemented);
}
UINT Image::GetFrameDimensionsCount() { SetStatus(NotImplemented); return 0; }
Status Image::GetFrameDimensionsList(GUID* dimensionIDs, UINT count) { return SetStatus(NotImplemented); }
UINT Image::GetFrameCount(const GUID* dimensionID) { SetStatus(NotImplemented); return 0; }

}  // namespace Gdiplus
