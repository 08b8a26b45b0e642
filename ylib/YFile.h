// CYFile: the owner of one C runtime file descriptor, for writing files of raw
// bytes. Opening for writing never truncates: bytes beyond those written stay.
//
// Thread safety: one thread at a time.
#pragma once

#include <string_view>

class CYFile {
 public:
  CYFile() = default;
  CYFile(const CYFile&) = delete;
  CYFile& operator=(const CYFile&) = delete;
  virtual ~CYFile();  // closes; an error is logged, not thrown

  // flags: _O_RDONLY, _O_WRONLY, _O_RDWR, _O_CREAT, _O_BINARY ...; files are
  // created readable and writable. Writing or creating builds the folder first;
  // opening to read a missing file raises the system text of error 2.
  void OpenEx(std::u16string_view path, int flags);
  // forWrite: _O_BINARY | _O_CREAT | _O_RDWR; otherwise _O_BINARY | _O_RDONLY.
  void Open(std::u16string_view path, bool forWrite);
  void CheckFileOpen();  // "File not open." (2006)
  // Writes at the current position; the count written.
  int WriteBytes(const void* data, unsigned int count);
  void Close();

 private:
  int m_fd = -1;
};
