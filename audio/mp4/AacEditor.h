// CAacEditor: reads and writes the tags of MP4-family audio files (".m4a",
// ".mp4", ".3gp", ".aac") without any platform media component. One editor
// serves one plugin call: Read first, then any number of SetProperty, then
// Write when one of them answered true. Validate stands alone.
//
// Thread safety: an editor belongs to one thread; editors share nothing.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "audio/MetaDataItem.h"
#include "audio/mp4/TagBase.h"
#include "platform/com/types.h"
#include "platform/win32/UniqueHandles.h"
#include "ylib/YReplacingFile.h"

class CAacEditor : public CTagBase {
 public:
  CAacEditor() = default;
  ~CAacEditor() override;

  // Parses the file and hands over one record per AudioPropertyMap row that
  // the file holds a value for, in table order. False (records untouched)
  // when the file is missing, cannot be read, is empty, or is neither an MP4
  // file of an accepted brand nor, for the extension ".aac", an ADTS stream.
  // After SetPictureReplaced the cover is left in the file (not read, and not
  // among the records) and compared with the picture set where it lies.
  bool Read(const std::u16string& path, CMetaDataItemList& records);

  // The file exists, opens for reading and is not empty; the content is not
  // examined.
  bool Validate(const std::u16string& path);

  // The data type code under which a property is stored: 0 numbers, 1 text,
  // 13 picture, 21 flags and integer bytes, 64 the computed duration; -1 for
  // an empty name or a name without a row in AudioPropertyMap.
  int GetFrameType(std::u16string_view propertyName) const;

  // Changes the frame list; true when it changed. VT_EMPTY or VT_NULL removes
  // the property's item.
  // The value is taken over (a caller's temporary or moved value is not copied).
  bool SetProperty(const std::u16string& path, std::u16string_view propertyName, int dataType, _variant_t value);

  // Writes the frame list into the file. The file is replaced only when the
  // whole new file has been written (a temporary file in the same folder,
  // renamed over it); on false the file is as it was.
  bool Write(const std::u16string& path);

  // Takes the file's writer lock until the editor goes. A caller that reads
  // the file to decide what to write locks first, so another writer's edit
  // made between the read and the write is not lost (that writer waits).
  bool LockForWrite(const std::u16string& path);
  // The system error that stopped the last Write (0: none, or no system error).
  DWORD writeError() const { return writeError_; }

 private:
  // For a read that a picture write follows (SetPictureReplaced): the file
  // read again where the cover lies, so that it is compared with the new
  // picture without being held.
  vel::UniqueFile parsed_;
  std::unique_ptr<CYReplacingFile> file_;
  std::u16string lockedPath_;
  DWORD writeError_ = 0;
};
