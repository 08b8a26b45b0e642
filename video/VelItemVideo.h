// CVelItemVideo: the video plugin (VelItemPluginsLib::VelItemVideo). Reads a
// video file's technical figures (duration, frame size, bit rate, frame rate)
// by rendering it into a media graph (CLSID_FilterGraph) and never writes a
// file: WriteMetadata refreshes the caller's item from the file. Items are
// filed by date ("2008-10").
//
// Every call builds and releases a graph of its own; the graph is never run.
//
// Thread safety: any thread; the object keeps no state between calls.
#pragma once

#include <string>
#include <string_view>

#include "contract/VelItemsLib.h"
#include "contract/VelItemPluginsLib.h"
#include "platform/com/comdef.h"
#include "platform/com/comobject.h"

class CVelItemVideo : public vel::com::Implements<vel::com::DispatchImpl<IVelItemPlugin>,
                                                  vel::com::SupportErrorInfoFor<IVelItemPlugin>> {
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

 private:
  // The item of a video file: class "Video", its MIME type and the figures
  // the graph reports. Raises when the graph cannot read the file or finds
  // no decoder for its video.
  static ComPtr<IVelItem> ReadMetadataImpl(std::u16string_view path);
  // Whether the file, as the graph's source filter sees it, answers
  // ValidateItem with EVelValidateStatus_OK.
  static bool IsReadableVideo(const std::u16string& path);
};
