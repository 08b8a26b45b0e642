#include "audio/mp4/AacEditor.h"

#include <algorithm>

#include "audio/AudioPropertyMap.h"
#include "audio/MappedFile.h"
#include "audio/mp4/Mp4Rewriter.h"
#include "platform/win32/fileapi.h"
#include "ylib/YErrorFrame.h"
#include "ylib/YFileUtilities.h"

namespace {

constexpr char16_t kSource[] = u"AACEditor";

// Exactly into.size() bytes of file at offset; false when fewer are there.
bool ReadAt(HANDLE file, std::uint64_t offset, std::span<std::uint8_t> into) {
  LARGE_INTEGER at{};
  at.QuadPart = static_cast<LONGLONG>(offset);
  if (!SetFilePointerEx(file, at, nullptr, FILE_BEGIN)) return false;
  for (std::size_t done = 0; done < into.size();) {
    const auto want = static_cast<DWORD>(std::min<std::size_t>(into.size() - done, 1u << 30));
    DWORD got = 0;
    if (!ReadFile(file, into.data() + done, want, &got, nullptr) || got == 0) return false;
    done += got;
  }
  return true;
}

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
    parsed_.reset();
    SetParsedBytesReader({});
    if (PictureReplaced()) {
      // The cover that the new picture replaces is compared with it through
      // reads of a piece at a time; its mapped pages would stay resident.
      // Without this second handle it is decoded as any read decodes it.
      std::int64_t size = 0;
      parsed_.reset(vel::OpenFileForReading(path.c_str(), &size));
      if (parsed_ && size == static_cast<std::int64_t>(file.size())) {
        SetParsedBytesReader([this](std::uint64_t offset, std::span<std::uint8_t> into) {
          return ReadAt(parsed_.get(), offset, into);
        });
      }
    }
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
    // A cover left in the file that no picture was set over goes back as read.
    if (!LoadValuesLeftInFile()) return false;
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
