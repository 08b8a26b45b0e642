// vel::wmf::MetadataEditor: the runtime's metadata editor object. One object
// answers IWMMetadataEditor/2, IWMHeaderInfo/2/3, IWMLanguageList and
// IWMDRMEditor over one open container.
//
// Attribute indexes are places in the stream's list: the computed attributes
// first, then the stored ones in file order. Changes stay in memory until
// Flush, which saves only when something changed (a Flush without effective
// change leaves the file untouched). "WM/Picture" values travel as WM_PICTURE
// (see wmsdk.h). Open allows a Flush; OpenEx only when the access asked for
// includes GENERIC_WRITE (a read-only editor's Flush with changes answers
// E_ACCESSDENIED).
//
// Share modes are not enforced; writers of one file take turns instead: an
// editor opened for writing takes the replacing writer's lock on the file
// before it reads it and keeps it until Close (or its release), so a second
// writer's Open, in this process or another, waits and then reads the first
// one's result, and no edit is lost. Flush saves through that lock, which
// also refuses (ERROR_FILE_INVALID) a file another program changed since it
// was read. A failed save lets the lock go: the editor's view may then be
// stale, so a later Flush with changes answers NS_E_INVALID_REQUEST (Close
// and open again). An editor opened for reading takes no lock.
//
// A change the file cannot store so that it comes back (on MP3: a GUID, bytes
// other than a picture or MCDI, another stream's attribute) is refused with
// NS_E_INVALID_REQUEST when it is made, never lost at Flush.
//
// Markers, scripts and codec information are not offered (E_NOTIMPL).
//
// Thread safety: one thread at a time, like the platform's object.
#pragma once

#include "platform/com/comobject.h"
#include "platform/win32/ReplacingFile.h"
#include "platform/wmf/Container.h"

VEL_DECLARE_BASE_INTERFACE(IWMMetadataEditor2, IWMMetadataEditor);
VEL_DECLARE_BASE_INTERFACE(IWMHeaderInfo3, IWMHeaderInfo2);
VEL_DECLARE_BASE_INTERFACE(IWMHeaderInfo2, IWMHeaderInfo);

namespace vel::wmf {

class MetadataEditor : public com::Implements<IWMMetadataEditor2, IWMHeaderInfo3, IWMLanguageList, IWMDRMEditor> {
 public:
  static constexpr bool kAggregatable = false;

  // IWMMetadataEditor / IWMMetadataEditor2
  STDMETHOD(Open)(const WCHAR* pwszFilename) override;
  STDMETHOD(Close)() override;
  STDMETHOD(Flush)() override;
  STDMETHOD(OpenEx)(const WCHAR* pwszFilename, DWORD dwDesiredAccess, DWORD dwShareMode) override;

  // IWMHeaderInfo
  STDMETHOD(GetAttributeCount)(WORD wStreamNum, WORD* pcAttributes) override;
  STDMETHOD(GetAttributeByIndex)(WORD wIndex, WORD* pwStreamNum, WCHAR* pwszName, WORD* pcchNameLen,
                                 WMT_ATTR_DATATYPE* pType, BYTE* pValue, WORD* pcbLength) override;
  STDMETHOD(GetAttributeByName)(WORD* pwStreamNum, LPCWSTR pszName, WMT_ATTR_DATATYPE* pType, BYTE* pValue,
                                WORD* pcbLength) override;
  STDMETHOD(SetAttribute)(WORD wStreamNum, LPCWSTR pszName, WMT_ATTR_DATATYPE Type, const BYTE* pValue,
                          WORD cbLength) override;
  STDMETHOD(GetMarkerCount)(WORD*) override { return E_NOTIMPL; }
  STDMETHOD(GetMarker)(WORD, WCHAR*, WORD*, QWORD*) override { return E_NOTIMPL; }
  STDMETHOD(AddMarker)(LPCWSTR, QWORD) override { return E_NOTIMPL; }
  STDMETHOD(RemoveMarker)(WORD) override { return E_NOTIMPL; }
  STDMETHOD(GetScriptCount)(WORD*) override { return E_NOTIMPL; }
  STDMETHOD(GetScript)(WORD, WCHAR*, WORD*, WCHAR*, WORD*, QWORD*) override { return E_NOTIMPL; }
  STDMETHOD(AddScript)(LPCWSTR, LPCWSTR, QWORD) override { return E_NOTIMPL; }
  STDMETHOD(RemoveScript)(WORD) override { return E_NOTIMPL; }
  // IWMHeaderInfo2
  STDMETHOD(GetCodecInfoCount)(DWORD*) override { return E_NOTIMPL; }
  STDMETHOD(GetCodecInfo)(DWORD, WORD*, WCHAR*, WORD*, WCHAR*, WMT_CODEC_INFO_TYPE*, WORD*, BYTE*) override {
    return E_NOTIMPL;
  }
  // IWMHeaderInfo3
  STDMETHOD(GetAttributeCountEx)(WORD wStreamNum, WORD* pcAttributes) override;
  STDMETHOD(GetAttributeIndices)(WORD wStreamNum, LPCWSTR pwszName, WORD* pwLangIndex, WORD* pwIndices,
                                 WORD* pwCount) override;
  STDMETHOD(GetAttributeByIndexEx)(WORD wStreamNum, WORD wIndex, LPWSTR pwszName, WORD* pwNameLen,
                                   WMT_ATTR_DATATYPE* pType, WORD* pwLangIndex, BYTE* pValue,
                                   DWORD* pdwDataLength) override;
  STDMETHOD(ModifyAttribute)(WORD wStreamNum, WORD wIndex, WMT_ATTR_DATATYPE Type, WORD wLangIndex,
                             const BYTE* pValue, DWORD dwLength) override;
  STDMETHOD(AddAttribute)(WORD wStreamNum, LPCWSTR pszName, WORD* pwIndex, WMT_ATTR_DATATYPE Type, WORD wLangIndex,
                          const BYTE* pValue, DWORD dwLength) override;
  STDMETHOD(DeleteAttribute)(WORD wStreamNum, WORD wIndex) override;
  STDMETHOD(AddCodecInfo)(LPCWSTR, LPCWSTR, WMT_CODEC_INFO_TYPE, WORD, BYTE*) override { return E_NOTIMPL; }

  // IWMLanguageList
  STDMETHOD(GetLanguageCount)(WORD* pwCount) override;
  STDMETHOD(GetLanguageDetails)(WORD wIndex, WCHAR* pwszLanguageString, WORD* pcchLanguageStringLength) override;
  STDMETHOD(AddLanguageByRFC1766String)(LPCWSTR pwszLanguageString, WORD* pwIndex) override;

  // IWMDRMEditor
  STDMETHOD(GetDRMProperty)(LPCWSTR pwstrName, WMT_ATTR_DATATYPE* pdwType, BYTE* pValue, WORD* pcbLength) override;

 private:
  struct Entry {
    const Attribute* attribute;
    std::ptrdiff_t stored;  // index into the container's list; -1 for a computed one
  };
  HRESULT OpenFile(const WCHAR* path, bool writable);
  std::vector<Entry> List(WORD stream) const;
  HRESULT Incoming(const std::u16string& name, WMT_ATTR_DATATYPE type, const BYTE* value, DWORD length,
                   Bytes& out) const;

  std::u16string path_;
  // The lock of an editor open for writing (null for reading, and after a
  // failed save). Declared before the container: it is released last.
  std::unique_ptr<ReplacingFile> writer_;
  std::unique_ptr<Container> container_;
  std::vector<Attribute> computed_;
  std::vector<Attribute> savedAttributes_;
  std::vector<std::u16string> savedLanguages_;
  bool writable_ = false;
};

}  // namespace vel::wmf
