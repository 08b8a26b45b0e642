// CVelMMSFileHelper: the file-level work of the MMS plugin. A message file is
// composed from host items and files (CreateMMSFile), or unpacked into one
// file and one item per part (ExtractFilesFromMMS).
//
//   std::u16string path = CVelMMSFileHelper::CreateMMSFile(item, sender, recipients, {u"/p/a.jpg"}, u"/out");
//   ComPtr<IVelEnum> parts = CVelMMSFileHelper::ExtractFilesFromMMS(item, u"/out");
//
// Names that come from a message or from an item's "Title" become file names
// only in a form that stays inside the folder given.
//
// Thread safety: no shared state; every call builds its own codec or writer.
#pragma once

#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "contract/VelItemsLib.h"
#include "platform/com/comdef.h"

// MIME types for parts whose content type the codec could not name, by the
// extension of the part's file name. A row's text may list several
// extensions separated by ", "; each is compared exactly, letter case included.
struct VelPartExtensionType {
  const char16_t* extensions;
  const char16_t* mimeType;
};
extern const std::array<VelPartExtensionType, 4> kPartExtensionTypes;

class CVelMMSFileHelper {
 public:
  // Writes a new message (m-send-req) into folder and returns its path, also
  // when the writer failed. The item's "Title" names the file, so a null item
  // raises E_POINTER; sender and recipients may be null.
  static std::u16string CreateMMSFile(IVelItem* item, IVelItem* sender, IVelEnum* recipients,
                                      const std::vector<std::u16string>& files, std::u16string_view folder);
  // One item per part of the message named by the item's "URI", each part
  // written into folder. A message that does not decode gives an empty list.
  static ComPtr<IVelEnum> ExtractFilesFromMMS(IVelItem* item, std::u16string_view folder);

  // The MIME type kPartExtensionTypes gives a file name, or "".
  static std::u16string PartTypeFromExtension(std::u16string_view fileName);
  // The file name (with ".mms") a message titled title gets: the title's last
  // path component when it is usable, otherwise "message".
  static std::u16string MessageFileName(std::u16string_view title);
};

// The text of a string property in kCoreNamespace; "" when the item lacks it.
std::u16string VelItemText(IVelItem* item, const char16_t* name);
