#include "audio/mp4/AacEditor.h"

#include "audio/AudioPropertyMap.h"
#include "audio/MappedFile.h"
#include "audio/mp4/Mp4Rewriter.h"
#include "ylib/YErrorFrame.h"
#include "ylib/YFileUtilities.h"

namespace {

constexpr char16_t kSource[] = u"AACEditor";

}  // namespace

CAacEditor::~CAacEditor() = default;

bool CAacEditor::Read(const std::u16string& path, CMetaDataItemList& records) {
  return YErrorFrame(VEL_FRAME(u"CAacEditor::Read"), [&]() {
    ClearFrames();
    if (path.empty()) return false;
    // The file is mapped, not copied: only the pages the atom walk touches
    // are read, whatever the file's size.
    CMappedFile file;
    if (file.Open(path) != CMappedFile::Status::kOk) return false;
    if (!ParseImage(file.bytes(), CYFileUtilities::GetFileExtension(path))) return false;
    // The frames own what they took from the file: its pages (a cover read
    // into a frame) are let go before the records copy the values.
    file.Close();
    CollectRecords(records);
    return true;
  });
}

bool CAacEditor::Validate(const std::u16string& path) {
  return YErrorFrame(VEL_FRAME(u"CAacEditor::Validate"), [&]() {
    if (path.empty()) return false;
    CMappedFile file;
    return file.Open(path) == CMappedFile::Status::kOk;
  });
}

int CAacEditor::GetFrameType(std::u16string_view propertyName) const { return PropertyDataType(propertyName); }

bool CAacEditor::SetProperty(const std::u16string& path, std::u16string_view propertyName, int dataType,
                             _variant_t value) {
  return YErrorFrame(VEL_FRAME(u"CAacEditor::SetProperty"), [&]() {
    if (path.empty() || propertyName.empty()) return false;
    const AudioPropertyMapRow* row = FindAudioPropertyByName(propertyName);
    if (!row) return false;
    switch (dataType) {
      case kTagTypeNumber:
      case kTagTypeText:
      case kTagTypeJpeg:
      case kTagTypeInteger:
      case kTagTypeDuration:
        break;
      default:
        return false;
    }
    if (!CheckFrameType(row->propertyName, dataType) || !row->HasAtom()) return false;
    return SetFrameValue(row->atomName, std::move(value), dataType);
  });
}

bool CAacEditor::Write(const std::u16string& path) {
  return YErrorFrame(VEL_FRAME(u"CAacEditor::Write"), [&]() {
    if (Frames().empty() || path.empty()) return false;
    // The rewriter reads the file as it is now and hands over its current
    // udta, so whatever else that udta holds is carried into the new one.
    // In pieces: a cover goes from its frame straight into the new file.
    const Mp4UserDataPiecesBuilder build = [this](std::span<const std::uint8_t> oldUserData,
                                                  vel::ByteOrder order) -> std::optional<Mp4UserDataPieces> {
      return BuildUserDataPieces(oldUserData, order);
    };
    writeError_ = 0;
    if (!file_ || lockedPath_ != path) {
      if (!LockForWrite(path)) return false;
    }
    const bool written = Mp4RewriteUserDataInPieces(*file_, build) == Mp4RewriteStatus::kWritten;
    if (!written) writeError_ = file_->error();
    // The lock goes with the write: a later Write works from a new read.
    file_.reset();
    lockedPath_.clear();
    return written;
  });
}

bool CAacEditor::LockForWrite(const std::u16string& path) {
  return YErrorFrame(VEL_FRAME(u"CAacEditor::LockForWrite"), [&] {
    file_ = std::make_unique<CYReplacingFile>(path);
    lockedPath_ = path;
    if (file_->Lock()) return true;
    writeError_ = file_->error();
    file_.reset();
    lockedPath_.clear();
    return false;
  });
}
