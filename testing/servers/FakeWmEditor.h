// A stand-in for the Windows Media runtime's metadata editor over an
// in-memory list of header attributes, for tests of the code that reads and
// writes attributes (CWmaEditor) without the runtime or a real file.
//
// The object answers IWMMetadataEditor/2, IWMHeaderInfo/2/3 and
// IWMLanguageList. Attributes keep their order; indexes
// are places in the list, as the runtime's are. "WM/Picture" is kept as its
// fields and handed out as the runtime hands it: one buffer holding the
// WM_PICTURE and, behind it, the texts and bytes its pointers point to. A
// picture is taken from ModifyAttribute and SetAttribute as a WM_PICTURE
// (17 or sizeof(WM_PICTURE) bytes). Every call that changes the list is
// counted, so a test can tell that the runtime was never asked.
//
// Thread safety: none; a test drives one object from one thread.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/com/comdef.h"
#include "platform/wmf/wmsdk.h"

namespace vel::testing {

struct FakeWmAttribute {
  std::u16string name;
  WMT_ATTR_DATATYPE type = WMT_TYPE_STRING;
  WORD language = 0;
  std::vector<std::uint8_t> value;  // a picture: raw bytes handed out instead of its fields
  // "WM/Picture" of type BINARY: its fields.
  std::u16string mimeType;
  BYTE pictureType = 0;
  std::u16string description;
  std::vector<std::uint8_t> pictureData;

  bool IsPicture() const { return name == u"WM/Picture" && type == WMT_TYPE_BINARY; }
};

// The file behind the fake: what a test sets up and inspects afterwards.
struct FakeWmFile {
  std::vector<FakeWmAttribute> attributes;
  std::vector<std::u16string> languages = {u""};  // index 0: no language
  HRESULT openResult = S_OK;
  HRESULT flushResult = S_OK;
  HRESULT countResult = S_OK;
  int changes = 0;  // ModifyAttribute, SetAttribute, AddAttribute, DeleteAttribute calls
  int flushes = 0;
  bool open = false;

  // Helpers that build attributes the way the runtime stores them.
  FakeWmAttribute& AddText(std::u16string name, std::u16string_view text, WORD language = 0);
  FakeWmAttribute& AddNumber(std::u16string name, WMT_ATTR_DATATYPE type, std::uint64_t value, bool littleEndian,
                             WORD language = 0);
  FakeWmAttribute& AddBytes(std::u16string name, WMT_ATTR_DATATYPE type, std::vector<std::uint8_t> bytes,
                            WORD language = 0);
  FakeWmAttribute& AddPicture(std::u16string mimeType, BYTE pictureType, std::u16string description,
                              std::vector<std::uint8_t> data);
  // The first attribute of that name (any language), or null.
  const FakeWmAttribute* Find(std::u16string_view name) const;
  // How many attributes carry that name.
  std::size_t CountOf(std::u16string_view name) const;
};

// A new editor over file (shared with the test).
ComPtr<IWMMetadataEditor> MakeFakeWmEditor(std::shared_ptr<FakeWmFile> file);

}  // namespace vel::testing
