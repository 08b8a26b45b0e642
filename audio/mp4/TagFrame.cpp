#include "audio/mp4/TagFrame.h"

#include "audio/ByteArray.h"
#include "platform/com/oleauto.h"
#include "ylib/YErrorFrame.h"

namespace {

constexpr char16_t kSource[] = u"TagFrame";

bool IsByteArray(const VARIANT& value) noexcept { return value.vt == (VT_ARRAY | VT_UI1) && value.parray != nullptr; }

}  // namespace

bool CTagFrame::IsSameData(const VARIANT& other) const {
  return YErrorFrame(VEL_FRAME(u"CTagFrame::IsSameData"), [&]() {
    // The variant comparison is not made for arrays: a cover written over a
    // cover is the same exactly when its bytes are.
    if (IsByteArray(value) || IsByteArray(other)) {
      const CByteArrayView mine(value), theirs(other);
      return mine.valid() && theirs.valid() && mine == theirs;
    }
    _variant_t converted(other);
    if (converted.vt != value.vt) converted.ChangeType(value.vt);
    return value == converted;
  });
}
