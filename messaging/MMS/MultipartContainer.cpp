#include "messaging/MMS/MultipartContainer.h"

#include "ylib/YErrorFrame.h"

namespace {
constexpr char16_t kSource[] = u"MultipartContainer";
}  // namespace

CMultipartContainer::~CMultipartContainer() = default;

void CMultipartContainer::Add(std::unique_ptr<CMultipartFile> part) {
  YErrorFrame({u"CMultipartContainer::Add", kSource, __LINE__}, [&] {
    if (part) parts_.push_back(std::move(part));
  });
}

CMultipartFile* CMultipartContainer::GetNext(int& index) const noexcept {
  if (index < 0 || static_cast<std::size_t>(index) >= parts_.size()) {
    index = -1;
    return nullptr;
  }
  return parts_[static_cast<std::size_t>(index++)].get();
}
