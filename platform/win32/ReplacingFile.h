// vel::ReplacingFile: gives a file new contents without ever leaving it
// damaged, and without losing another writer's edit.
//
//   ReplacingFile file(path);
//   if (!file.Lock()) ... file.error()        // waits for other writers of the file
//   ... read the current contents of file.target(), decide what to change ...
//   if (!file.Begin()) ... file.error()       // the temporary file; Open() = Lock() + Begin()
//   file.Write(bytes, n) ...                   // or CopyOriginal() and edit temporaryPath() in place
//   file.CopyOriginalRange(offset, n) ...      // mixed with Write: parts of the original kept as they are
//   if (!file.Commit()) ... file.error()       // the file is either all old or all new
//
// Lock resolves symbolic links (the file they name is replaced, the link
// stays) and takes an exclusive lock on that file which every other replacing
// writer of it waits for. A writer reads the file after Lock, so a second
// writer of the same file works from the first one's result and both edits
// land. Begin creates the temporary file in the same folder; it refuses
// (ERROR_ACCESS_DENIED) a file the caller may not write itself, even where the
// folder would let a rename through, and a file without write permission bits
// (the platform's read-only attribute), whoever the caller is. A writer that
// finds nothing to change never calls Begin, so an unchanged read-only file
// is no failure.
//
// Commit writes the data through to the device, gives the new file the
// original's mode, owner and group (where the caller may set them) and its
// extended attributes, renames it over the original and flushes the folder.
// Other hard links to the original keep the old contents. A file that another
// program (one that does not take the lock) wrote or replaced since Lock is
// not replaced: Commit fails with ERROR_FILE_INVALID ("externally altered").
// CommitAndHold commits the same way but keeps the lock, now on the new file:
// a writer that stays open on the file (an editor flushing more than once)
// lets no other writer in between, and its next Begin ... Commit works as
// after Lock (a file another program changed since this commit is refused).
//
// The temporary file is locked while it is written. An uncommitted writer
// removes it (failure, exception, destruction); so does SIGINT, SIGTERM or
// SIGHUP (the previous handler runs afterwards); and a later Open of the same
// file removes those whose writer was killed.
//
// A path that does not exist yet is created by Commit, unless another file
// appeared under that name meanwhile (ERROR_FILE_EXISTS).
//
// Thread safety: an object belongs to one thread; any number of objects, in
// any threads and processes, may replace the same file.
#pragma once

#include <cstdint>
#include <string>

#include "platform/com/types.h"

struct stat;

namespace vel {

class ReplacingFile {
 public:
  // path is a module path text (either separator; see the file functions).
  explicit ReplacingFile(std::u16string path);
  ~ReplacingFile();
  ReplacingFile(const ReplacingFile&) = delete;
  ReplacingFile& operator=(const ReplacingFile&) = delete;

  // Locks the file (waiting for other writers). False with error() set.
  bool Lock();
  // Creates the temporary file (locking first if Lock was not called). False
  // with error() set.
  bool Begin();
  // Lock() and Begin().
  bool Open();
  // The file that Commit replaces (links resolved), as a module path text.
  const std::u16string& target() const { return target_; }
  // The temporary file, for libraries that edit a file in place by name.
  const std::u16string& temporaryPath() const { return temp_; }
  // Copies the original's bytes into the temporary file (after Open, before
  // any Write). True for a path that does not exist yet (nothing to copy).
  bool CopyOriginal();
  // Appends size bytes of the original, from offset, to the temporary file
  // (after Begin; mixes freely with Write), through a buffer of 1 MiB. False
  // with ERROR_HANDLE_EOF when the original ends before the range does.
  bool CopyOriginalRange(std::uint64_t offset, std::uint64_t size);
  // Appends bytes to the temporary file; any size.
  bool Write(const void* data, std::uint64_t size);
  // Replaces the file. False leaves it as it was and removes the temporary file.
  bool Commit();
  // Commit, then stays locked on the new file (as after Lock) instead of
  // releasing it. False as Commit; the lock is released then.
  bool CommitAndHold();
  // Gives up: removes the temporary file and releases the lock.
  void Discard() noexcept;

  // The Win32 error of the step that failed (0 while nothing failed).
  DWORD error() const { return error_; }

 private:
  bool Fail(DWORD error);
  // What tells a file changed in place: its size and modification time.
  struct FileState {
    std::int64_t size = 0;
    std::int64_t mtimeNs = 0;
    bool operator!=(const FileState& o) const { return size != o.size || mtimeNs != o.mtimeNs; }
  };
  static FileState StateOf(const struct stat& st);
  bool CommitImpl(bool hold);

  std::u16string path_;
  std::u16string target_;
  std::u16string temp_;
  std::string nativeTarget_;
  std::string nativeTemp_;
  int lockFd_ = -1;  // the original, open for reading and locked
  int tempFd_ = -1;
  int slot_ = -1;  // the signal-cleanup slot of the temporary file
  FileState lockedState_;  // of the original when it was locked
  bool existed_ = false;
  bool locked_ = false;
  DWORD error_ = 0;
};

}  // namespace vel
