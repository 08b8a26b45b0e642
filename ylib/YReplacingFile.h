// CYReplacingFile: the foundation library's face of vel::ReplacingFile
// (platform/win32/ReplacingFile.h): gives a file new contents without ever
// leaving it damaged, and without losing a concurrent writer's edit. Open
// locks the file against other replacing writers (they wait) and creates the
// temporary file in the same folder (Lock and Begin do the two steps
// separately: a writer reads between them); read the file only after Lock. Commit
// writes the bytes through to the device, keeps the original's mode, owner,
// group and extended attributes, and renames over the original. A replacing
// file that is not committed removes its temporary file, so the original stays
// as it was and nothing is left beside it. A symbolic link is followed: the
// file it names is replaced and the link stays. Other hard links to the file
// keep the old contents.
//
// Thread safety: an object belongs to one thread. Writers of one path, in any
// threads or processes, take turns.
#pragma once

#include <cstdint>
#include <string>

#include "platform/com/types.h"
#include "platform/win32/ReplacingFile.h"

class CYReplacingFile {
 public:
  explicit CYReplacingFile(std::u16string path);
  CYReplacingFile(const CYReplacingFile&) = delete;
  CYReplacingFile& operator=(const CYReplacingFile&) = delete;

  // Locks the file against other replacing writers (waits for them); read
  // the file after this.
  bool Lock();
  // Creates the temporary file. False when the original is read-only or the
  // caller may not write it (it could not be replaced), or the folder takes
  // no new file; error() says why.
  bool Begin();
  // Lock() and Begin().
  bool Open();
  // Copies the original's bytes into the temporary file, for libraries that
  // edit a file in place (temporaryPath()).
  bool CopyOriginal();
  // Appends bytes; any size.
  bool Write(const void* data, std::uint64_t size);
  // Flushes, closes and renames over the path. False leaves the path as it
  // was and removes the temporary file.
  bool Commit();

  const std::u16string& target() const { return file_.target(); }
  const std::u16string& temporaryPath() const { return file_.temporaryPath(); }
  // The Win32 error of the step that failed (0 while nothing failed).
  DWORD error() const { return file_.error(); }

 private:
  vel::ReplacingFile file_;
};
