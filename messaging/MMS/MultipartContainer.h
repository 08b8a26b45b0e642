// CMultipartContainer: the body parts of a decoded MMS message, in order.
//
// Thread safety: none; a container belongs to the codec (or caller) that fills it.
#pragma once

#include <cstddef>
#include <memory>
#include <vector>

#include "messaging/MMS/MultipartFile.h"

class CMultipartContainer {
 public:
  virtual ~CMultipartContainer();

  void Add(std::unique_ptr<CMultipartFile> part);
  void Clear() noexcept { parts_.clear(); }
  std::size_t Count() const noexcept { return parts_.size(); }
  CMultipartFile* At(std::size_t index) const noexcept { return index < parts_.size() ? parts_[index].get() : nullptr; }
  // The part at index, advancing index; past the end null, index -1.
  CMultipartFile* GetNext(int& index) const noexcept;

 private:
  std::vector<std::unique_ptr<CMultipartFile>> parts_;
};
