// CYReplacingFile: gives a file new contents without ever leaving it damaged.
// The bytes go to a new temporary file in the same folder, which takes the
// original's permission bits; Commit writes them through to the device,
// closes the file and renames it over the original. A replacing file that is
// not committed (a failed write, an exception on the way) removes its
// temporary file, so the original stays as it was and nothing is left beside it.
// A symbolic link is followed: the file it names is replaced and the link
// stays. Other hard links to the file keep the old contents.
//
// Thread safety: an object belongs to one thread. Two writers of one path do
// not damage it (each renames a whole file), but one's contents win.
#pragma once

#include <cstdint>
#include <string>

#include "platform/com/types.h"
#include "platform/win32/UniqueHandles.h"

class CYReplacingFile {
 public:
  explicit CYReplacingFile(std::u16string path);
  ~CYReplacingFile();
  CYReplacingFile(const CYReplacingFile&) = delete;
  CYReplacingFile& operator=(const CYReplacingFile&) = delete;

  // Creates the temporary file. False when the original is read-only (it
  // could not be replaced) or the folder takes no new file.
  bool Open();
  // Appends bytes; any size (written in steps the platform accepts).
  bool Write(const void* data, std::uint64_t size);
  // Flushes, closes and renames over the path. False leaves the path as it
  // was and removes the temporary file.
  bool Commit();

 private:
  void Discard() noexcept;

  std::u16string path_;
  std::u16string temp_;
  vel::UniqueFile file_;
  bool failed_ = false;
};
