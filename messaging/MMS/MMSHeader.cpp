#include "messaging/MMS/MMSHeader.h"

CMMSHeader::~CMMSHeader() = default;

const MmsAddress* CMMSHeader::GetNextTo(int& index) const noexcept {
  if (index < 0 || static_cast<std::size_t>(index) >= to.size()) {
    index = -1;
    return nullptr;
  }
  return &to[static_cast<std::size_t>(index++)];
}
