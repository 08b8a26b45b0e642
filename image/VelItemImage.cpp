#include "image/VelItemImage.h"

#include <string>
#include <vector>

#include "contract/VelComBoundary.h"
#include "contract/VelItemsLib.h"
#include "framework/DateFolder.h"
#include "framework/ItemProperties.h"
#include "framework/PluginIdentity.h"
#include "image/ExifReader.h"
#include "image/ExifWriter.h"
#include "image/GdiPlusReader.h"
#include "image/ImageKeywords.h"
#include "platform/base/Ascii.h"
#include "platform/win32/fileapi.h"
#include "platform/win32/shlobj.h"
#include "ylib/YErrorFrame.h"
#include "ylib/YFileUtilities.h"
#include "ylib/YImage.h"
#include "ylib/YImageProcessor.h"
#include "ylib/YLogging.h"
#include "ylib/YVariant.h"

namespace {
constexpr char16_t kSource[] = u"VelItemImage";
constexpr const IID& kPlugin = IID_IVelItemPlugin;
constexpr const IID& kImage = IID_IVelItemImage;
constexpr const char16_t* kProgId = kProgIdVelItemImage;
const vel::framework::PluginIdentity kIdentity{u"CVelItemImage", kSource, kProgId, u"Image", CSIDL_MYPICTURES};

using vel::framework::Add;
using vel::framework::BstrText;
using vel::framework::Exists;
using vel::framework::LowerExtension;
using vel::framework::NewItem;
using vel::framework::PropertiesOf;
using vel::framework::Put;

bool IsJpegExtension(const std::u16string& ext) { return ext == u".jpg" || ext == u".jpeg" || ext == u".jif"; }

// The formats whose metadata is EXIF read through Exiv2; the others go through GDI+.
bool IsExifExtension(const std::u16string& ext) { return IsJpegExtension(ext) || ext == u".tif" || ext == u".tiff"; }

// The MIME type of the formats the plugin names; empty for other extensions.
const char16_t* MimeTypeOf(const std::u16string& ext) {
  if (ext == u".tif" || ext == u".tiff") return u"image/tiff";
  if (ext == u".png") return u"image/png";
  if (ext == u".gif") return u"image/gif";
  if (ext == u".bmp") return u"image/bmp";
  return nullptr;
}

// The core property's text; empty when the item has none or it is no text.
std::u16string TextOf(IVelProperties* properties, const char16_t* name) {
  if (!Exists(properties, name, kCoreNamespace)) return {};
  _variant_t value;
  YCheckHr(properties->get_Value(_bstr_t(name), _bstr_t(kCoreNamespace), value.GetAddress()));
  return value.vt == VT_BSTR ? BstrText(value.bstrVal) : std::u16string();
}

// Width and height of a decodable bitmap.
SIZE BitmapSize(std::u16string_view path) {
  CYImage image;
  image.Load(path);
  return SIZE{image.GetWidth(), image.GetHeight()};
}

}  // namespace

ComPtr<IVelItem> CVelItemImage::ReadMetadataImpl(std::u16string_view path) {
  return YErrorFrame(VEL_FRAME(u"CVelItemImage::ReadMetadata"), [&](const YFrame& f) {
    ComPtr<IVelItem> item = NewItem();
    YCheckHr(item->put_ItemClass(_bstr_t(u"Image")));
    ComPtr<IVelProperties> properties = PropertiesOf(item, f);
    const std::u16string ext = LowerExtension(path);
    if (IsExifExtension(ext))
      vel::image::ReadExifProperties(path, properties, f);
    else
      vel::image::ReadGdiPlusProperties(path, properties, f);

    if (IsJpegExtension(ext)) {
      const SIZE size = CYImageProcessor::GetJPEGImageSize(path);
      if (size.cx > 0) {
        Add(properties, _variant_t(u"image/jpeg"), u"ItemType", kCoreNamespace);
        Add(properties, _variant_t(static_cast<int>(size.cx), VT_I4), u"Width", kCoreNamespace);
        Add(properties, _variant_t(static_cast<int>(size.cy), VT_I4), u"Height", kCoreNamespace);
      }
    } else {
      const SIZE size = BitmapSize(path);
      if (const char16_t* mime = MimeTypeOf(ext)) Add(properties, _variant_t(mime), u"ItemType", kCoreNamespace);
      Add(properties, _variant_t(static_cast<int>(size.cx), VT_INT), u"Width", kCoreNamespace);
      Add(properties, _variant_t(static_cast<int>(size.cy), VT_INT), u"Height", kCoreNamespace);
    }

    if (Exists(properties, u"DateTimeOriginal", kCoreNamespace)) {
      _variant_t taken;
      YCheckHr(properties->get_Value(_bstr_t(u"DateTimeOriginal"), _bstr_t(kCoreNamespace), taken.GetAddress()));
      if (taken.vt == VT_DATE) Put(properties, u"CreationDate", taken);
    }
    return item;
  });
}

HRESULT CVelItemImage::QueryCapability(LONG nCapability, VARIANT_BOOL* pbRetVal) {
  return kIdentity.QueryCapability(nCapability, pbRetVal);
}

HRESULT CVelItemImage::get_Name(BSTR* pVal) { return kIdentity.Name(pVal); }

HRESULT CVelItemImage::get_CustomStoragePath(BSTR* pVal) { return kIdentity.CustomStoragePath(pVal); }

HRESULT CVelItemImage::ValidateItem(IVelItem* pItem, LONG* pStatus) {
  return VelComBoundary(kPlugin, kProgId, VEL_FRAME(u"CVelItemImage::ValidateItem"), [&](const YFrame& f) {
    if (!pStatus) YThrow(kYErrInvalidParameter, f);
    ComPtr<IVelProperties> properties = PropertiesOf(pItem, f);
    const std::u16string type = TextOf(properties, u"ItemType");
    const std::u16string uri = TextOf(properties, u"URI");
    SIZE size{};
    try {
      if (type == u"image/jpeg" || LowerExtension(uri) == u".jpg") {
        size = CYImageProcessor::GetJPEGImageSize(uri);
        // A JPEG whose header gives no frame (tables only, or cut off before
        // its frame header) holds no picture: it is damaged.
        if (size.cx <= 0 || size.cy <= 0) {
          *pStatus = EVelValidateStatus_FileCorrupt;
          return;
        }
      } else {
        const bool image = type.empty() || type == u"image/png" || type == u"image/tiff" || type == u"image/gif" ||
                           type == u"image/bmp";
        if (!image) {
          *pStatus = EVelValidateStatus_FileCorrupt;
          return;
        }
        size = BitmapSize(uri);
      }
    } catch (const CYException&) {
      *pStatus = EVelValidateStatus_FileCorrupt;
      return;
    }
    // A bitmap without pixels says nothing either way.
    if (size.cx > 0 && size.cy > 0) *pStatus = EVelValidateStatus_OK;
  });
}

HRESULT CVelItemImage::ReadMetadata(BSTR strFilePath, IVelItem** ppiRetVal) {
  return VelComBoundary(kPlugin, kProgId, VEL_FRAME(u"CVelItemImage::ReadMetadata"), [&](const YFrame& f) {
    // The out-parameter is checked first: the right side of "=" runs before the left.
    IVelItem** out = VelOutParam(ppiRetVal, f);
    *out = ReadMetadataImpl(BstrText(strFilePath)).Detach();
  });
}

HRESULT CVelItemImage::WriteMetadata(BSTR strFilePath, IVelItem* pItem) {
  return VelComBoundary(kPlugin, kProgId, VEL_FRAME(u"CVelItemImage::WriteMetadata"), [&](const YFrame& f) {
    if (!pItem) YThrow(kYErrInvalidParameter, f);
    const std::u16string path = BstrText(strFilePath);
    ComPtr<IVelProperties> properties = PropertiesOf(pItem, f);
    // The item's pixel size is the file's, whatever the item said.
    if (IsJpegExtension(LowerExtension(path))) {
      const SIZE size = CYImageProcessor::GetJPEGImageSize(path);
      Put(properties, u"Width", _variant_t(static_cast<int>(size.cx), VT_I4));
      Put(properties, u"Height", _variant_t(static_cast<int>(size.cy), VT_I4));
    } else {
      const SIZE size = BitmapSize(path);
      Put(properties, u"Width", _variant_t(static_cast<int>(size.cx), VT_INT));
      Put(properties, u"Height", _variant_t(static_cast<int>(size.cy), VT_INT));
    }
    // A read-only file is the user's wish to keep it as it is.
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_READONLY) != 0) return;
    vel::image::WriteExifProperties(path, pItem, f);
  });
}

HRESULT CVelItemImage::GetItemPath(IVelItem* pItem, BSTR* pVal) {
  return VelComBoundary(kPlugin, kProgId, VEL_FRAME(u"CVelItemImage::GetItemPath"), [&](const YFrame& f) {
    BSTR* out = VelOutParam(pVal, f);
    const std::u16string folder = vel::framework::DateFolder(this, pItem);
    *out = _bstr_t(std::u16string_view(folder)).Detach();
  });
}

HRESULT CVelItemImage::ReadIPTCKeywords(BSTR strFilePath, VARIANT* varKeywords) {
  return VelComBoundary(kImage, kProgId, VEL_FRAME(u"CVelItemImage::ReadIPTCKeywords"), [&](const YFrame& f) {
    VARIANT* out = VelOutParam(varKeywords, f);
    const std::u16string path = BstrText(strFilePath);
    CYLogging::Log(kYLogDebug, u"ReadIPTCKeywords File: %s\n", path);
    CYFileUtilities::CheckFileExists(path);
    _variant_t result = vel::image::ReadKeywordsOfFile(path, f);
    *out = result.Detach();
  });
}

HRESULT CVelItemImage::WriteIPTCKeywords(BSTR strFilePath, VARIANT varKeywords) {
  return VelComBoundary(kImage, kProgId, VEL_FRAME(u"CVelItemImage::WriteIPTCKeywords"), [&](const YFrame& f) {
    const std::vector<std::u16string> keywords = CYVariant::VariantToStringVector(varKeywords);
    vel::image::WriteKeywordsOfFile(BstrText(strFilePath), keywords, f);
  });
}
