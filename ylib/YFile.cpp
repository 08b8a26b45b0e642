#include "ylib/YFile.h"

#include "platform/win32/crtio.h"
#include "platform/win32/winerror.h"
#include "ylib/YErrorFrame.h"
#include "ylib/YFileUtilities.h"

namespace {
constexpr char16_t kSource[] = u"YFile";
}

CYFile::~CYFile() {
  YErrorFrameNoThrow(VEL_FRAME(u"CYFile::~CYFile"), [&] { Close(); });
}

void CYFile::OpenEx(std::u16string_view path, int flags) {
  YErrorFrame(VEL_FRAME(u"CYFile::OpenEx"), [&](const YFrame& frame) {
    if (flags & (_O_WRONLY | _O_RDWR | _O_CREAT)) {
      CYFileUtilities::BuildDirectory(CYFileUtilities::GetPathFromFilename(path));
    } else if (!CYFileUtilities::FileExists(path)) {
      throw YReportWin32(ERROR_FILE_NOT_FOUND, frame).AddDetail(u"File", path);
    }
    const std::u16string target = CYFileUtilities::GetUnicodePath(path);
    const int fd = _wopen(target.c_str(), flags, _S_IREAD | _S_IWRITE);
    if (fd == -1) throw YReportCrtError(frame);
    if (m_fd != -1) _close(m_fd);  // reopening replaces the old descriptor instead of leaking it
    m_fd = fd;
  });
}

void CYFile::Open(std::u16string_view path, bool forWrite) {
  YErrorFrame(VEL_FRAME(u"CYFile::Open"), [&] {
    OpenEx(path, forWrite ? (_O_BINARY | _O_CREAT | _O_RDWR) : (_O_BINARY | _O_RDONLY));
  });
}

void CYFile::CheckFileOpen() {
  YErrorFrame(VEL_FRAME(u"CYFile::CheckFileOpen"), [&](const YFrame& frame) {
    if (m_fd == -1) YThrow(kYErrFileNotOpen, frame);
  });
}

int CYFile::WriteBytes(const void* data, unsigned int count) {
  return YErrorFrame(VEL_FRAME(u"CYFile::WriteBytes"), [&](const YFrame& frame) {
    CheckFileOpen();
    const int written = _write(m_fd, data, count);
    if (written == -1) throw YReportCrtError(frame);
    return written;
  });
}

void CYFile::Close() {
  YErrorFrame(VEL_FRAME(u"CYFile::Close"), [&] {
    if (m_fd != -1) {
      _close(m_fd);
      m_fd = -1;
    }
  });
}
