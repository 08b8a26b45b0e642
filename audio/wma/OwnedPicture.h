// A WM_PICTURE together with the texts and bytes its pointers point to, so
// the structure handed to the runtime and its copies are freed together on
// every path. The runtime copies what the pointers point to during the call.
//
// Thread safety: none; one object belongs to one thread.
#pragma once

#include <utility>

#include "contract/PictureBody.h"
#include "platform/wmf/wmsdk.h"

namespace vel::wma {

class OwnedPicture {
 public:
  OwnedPicture() noexcept : picture_{} {}
  // The structure points into this object: it cannot move.
  OwnedPicture(const OwnedPicture&) = delete;
  OwnedPicture& operator=(const OwnedPicture&) = delete;

  // Takes the fields over and points the structure at them.
  void Reset(PictureFields fields) {
    fields_ = std::move(fields);
    picture_ = {};
    picture_.pwszMIMEType = fields_.mimeType.data();
    picture_.bPictureType = fields_.pictureType;
    picture_.pwszDescription = fields_.description.data();
    picture_.dwDataLen = static_cast<DWORD>(fields_.data.size());
    picture_.pbData = fields_.data.empty() ? nullptr : fields_.data.data();
  }

  const WM_PICTURE& get() const noexcept { return picture_; }
  const PictureFields& fields() const noexcept { return fields_; }

 private:
  PictureFields fields_;
  WM_PICTURE picture_;
};

}  // namespace vel::wma
