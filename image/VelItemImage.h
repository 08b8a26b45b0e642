// CVelItemImage: the image plugin (VelItemPluginsLib::VelItemImage).
//
// Reads an image file's metadata into a host item (EXIF through Exiv2 for
// JPEG and TIFF, GDI+ property items for the other formats, the pixel size
// from the JPEG header or the decoded bitmap), writes the item's EXIF
// properties and GPS position back, proposes a "year-month" storage folder,
// and reads and replaces the IPTC keyword list (IVelItemImage).
//
// Thread safety: any thread; the object keeps no state between calls.
#pragma once

#include <string_view>

#include "contract/VelItemPluginsLib.h"
#include "contract/VelItemsLib.h"
#include "platform/com/comdef.h"
#include "platform/com/comobject.h"

class CVelItemImage : public vel::com::Implements<vel::com::DispatchImpl<IVelItemPlugin>, IVelItemImage,
                                                  vel::com::SupportErrorInfoFor<IVelItemPlugin, IVelItemImage>> {
 public:
  HRESULT FinalConstruct() { return S_OK; }
  void FinalRelease() {}

  // IVelItemPlugin
  HRESULT QueryCapability(LONG nCapability, VARIANT_BOOL* pbRetVal) override;
  HRESULT get_Name(BSTR* pVal) override;
  HRESULT get_CustomStoragePath(BSTR* pVal) override;
  HRESULT ValidateItem(IVelItem* pItem, LONG* pStatus) override;
  HRESULT ReadMetadata(BSTR strFilePath, IVelItem** ppiRetVal) override;
  HRESULT WriteMetadata(BSTR strFilePath, IVelItem* pItem) override;
  HRESULT GetItemPath(IVelItem* pItem, BSTR* pVal) override;

  // IVelItemImage
  HRESULT ReadIPTCKeywords(BSTR strFilePath, VARIANT* varKeywords) override;
  HRESULT WriteIPTCKeywords(BSTR strFilePath, VARIANT varKeywords) override;

 private:
  // The item of the file at path: EXIF (JPEG, TIFF) or GDI+ properties, then
  // the pixel size and the creation date.
  static ComPtr<IVelItem> ReadMetadataImpl(std::u16string_view path);
};
