#include "ylib/YFileUtilities.h"

#include <cstring>
#include <vector>

#include "platform/win32/UniqueHandles.h"
#include "platform/win32/crtio.h"
#include "platform/win32/fileapi.h"
#include "ylib/YBuf.h"
#include "ylib/YBufMalloc.h"
#include "ylib/YErrorFrame.h"
#include "ylib/YLock.h"
#include "ylib/YString.h"
#include "ylib/YTime.h"

namespace {

constexpr char16_t kSource[] = u"YFileUtilities";
constexpr YErrorDef kYErrUndefined{1006, u"Undefined error."};
constexpr YErrorDef kYErrOpenFile{1016, u"Failed to open file."};

constexpr std::u16string_view kLocalPrefix = u"\\\\?\\";
constexpr std::u16string_view kUncPrefix = u"\\\\?\\UNC\\";

bool IsSeparator(char16_t c) { return c == u'/' || c == u'\\'; }

// Index of the last separator, or npos.
size_t LastSeparator(std::u16string_view path) {
  for (size_t i = path.size(); i > 0; --i) {
    if (IsSeparator(path[i - 1])) return i - 1;
  }
  return std::u16string_view::npos;
}

bool StartsWith(std::u16string_view text, std::u16string_view prefix) {
  return text.size() >= prefix.size() && text.substr(0, prefix.size()) == prefix;
}

// A search for the name; true when something is found.
bool Found(const std::u16string& pattern) {
  WIN32_FIND_DATAW data;
  HANDLE h = FindFirstFileW(pattern.c_str(), &data);
  if (h == INVALID_HANDLE_VALUE) return false;
  FindClose(h);
  return true;
}

// Appends n bytes to buffer, behind what it holds.
void AppendBytes(CYBuf& buffer, const void* bytes, std::uint64_t n) {
  if (n == 0) return;
  const std::uint64_t old = buffer.GetSize();
  buffer.Realloc(old + n);
  CYLockHolder hold(buffer);
  std::memcpy(static_cast<BYTE*>(buffer.GetBuf()) + old, bytes, static_cast<size_t>(n));
}

}  // namespace

CYException YReportCrtError(const YFrame& frame) {
  int err = 0;
  _get_errno(&err);
  char16_t text[1024] = {};
  if (_wcserror_s(text, 1024, err) == 0 && text[0] != 0) return YReport(text, err, frame);
  return YReport(kYErrUndefined, frame);
}

std::u16string CYFileUtilities::GetFilenameFromPath(std::u16string_view path) {
  return YErrorFrame(VEL_FRAME(u"CYFileUtilities::GetFilenameFromPath"), [&] {
    const size_t sep = LastSeparator(path);
    return std::u16string(sep == std::u16string_view::npos ? path : path.substr(sep + 1));
  });
}

std::u16string CYFileUtilities::GetPathFromFilename(std::u16string_view path) {
  return YErrorFrame(VEL_FRAME(u"CYFileUtilities::GetPathFromFilename"), [&] {
    const size_t sep = LastSeparator(path);
    return sep == std::u16string_view::npos ? std::u16string() : std::u16string(path.substr(0, sep + 1));
  });
}

std::u16string CYFileUtilities::GetFilenameWithoutExtension(std::u16string_view path) {
  return YErrorFrame(VEL_FRAME(u"CYFileUtilities::GetFilenameWithoutExtension"), [&] {
    std::u16string name = GetFilenameFromPath(path);
    const size_t dot = name.rfind(u'.');
    if (dot != std::u16string::npos) name.resize(dot);  // a leading dot leaves ""
    return name;
  });
}

std::u16string CYFileUtilities::GetFileExtension(std::u16string_view path) {
  return YErrorFrame(VEL_FRAME(u"CYFileUtilities::GetFileExtension"), [&] {
    const size_t dot = path.rfind(u'.');
    const size_t sep = LastSeparator(path);
    const size_t nameStart = sep == std::u16string_view::npos ? 0 : sep + 1;
    if (dot == std::u16string_view::npos || dot < nameStart || dot == nameStart) return std::u16string();
    return std::u16string(path.substr(dot));
  });
}

void CYFileUtilities::EnsurePathSeparatorAtEnd(std::u16string& path, std::u16string_view separator) {
  YErrorFrame(VEL_FRAME(u"CYFileUtilities::EnsurePathSeparatorAtEnd"), [&] {
    if (!path.empty() && !IsSeparator(path.back())) path += separator;
  });
}

std::u16string CYFileUtilities::SetPathSeparator(std::u16string_view path, char16_t separator) {
  return YErrorFrame(VEL_FRAME(u"CYFileUtilities::SetPathSeparator"), [&] {
    std::u16string out(path);
    for (char16_t& c : out) {
      if (IsSeparator(c)) c = separator;
    }
    return out;
  });
}

bool CYFileUtilities::IsRelativePath(std::u16string_view path) {
  return YErrorFrame(VEL_FRAME(u"CYFileUtilities::IsRelativePath"), [&] {
    if (path.empty()) return true;
    if (path.size() >= 2 && path[1] == u':') return false;
    if (StartsWith(path, u"\\\\")) return false;
    return true;
  });
}

std::u16string CYFileUtilities::ConcatPathname(std::u16string_view first, std::u16string_view second,
                                               std::u16string_view separator) {
  return YErrorFrame(VEL_FRAME(u"CYFileUtilities::ConcatPathname"), [&](const YFrame& frame) {
    if (second.empty()) return std::u16string(first);
    if (first.empty()) {
      throw YReport(kYErrInvalidParameter, frame)
          .AddDetail(u"CYFileUtilities::ConcatPathname() str1", first)
          .AddDetail(u"CYFileUtilities::ConcatPathname() str2", second);
    }
    std::u16string out(first);
    EnsurePathSeparatorAtEnd(out, separator);
    out += IsSeparator(second.front()) ? second.substr(1) : second;
    return out;
  });
}

std::u16string CYFileUtilities::GetUnicodePath(std::u16string_view path) {
  return YErrorFrame(VEL_FRAME(u"CYFileUtilities::GetUnicodePath"), [&] {
    std::u16string p = SetPathSeparator(path, u'\\');
    if (IsRelativePath(p)) return p;
    if (StartsWith(p, kLocalPrefix)) return p;
    if (StartsWith(p, u"\\\\")) return std::u16string(kUncPrefix) + p.substr(2);
    return std::u16string(kLocalPrefix) + p;
  });
}

void CYFileUtilities::RemoveUnicodePath(std::u16string& path) {
  YErrorFrame(VEL_FRAME(u"CYFileUtilities::RemoveUnicodePath"), [&] {
    auto replaceAll = [&](std::u16string_view what, std::u16string_view with) {
      for (size_t at = path.find(what); at != std::u16string::npos; at = path.find(what, at + with.size())) {
        path.replace(at, what.size(), with);
      }
    };
    if (StartsWith(path, kUncPrefix)) replaceAll(kUncPrefix, u"\\\\");
    if (StartsWith(path, kLocalPrefix)) replaceAll(kLocalPrefix, u"");
  });
}

bool CYFileUtilities::FileExists(std::u16string_view path) {
  return YErrorFrame(VEL_FRAME(u"CYFileUtilities::FileExists"), [&] {
    return Found(GetUnicodePath(path)) || Found(GetShortFilePath(path));
  });
}

void CYFileUtilities::CheckFileExists(std::u16string_view path) {
  YErrorFrame(VEL_FRAME(u"CYFileUtilities::CheckFileExists"), [&](const YFrame& frame) {
    if (!FileExists(path)) throw YReportWin32(ERROR_FILE_NOT_FOUND, frame).AddDetail(u"File", path);
  });
}

bool CYFileUtilities::IsDirectory(std::u16string_view path) {
  return YErrorFrame(VEL_FRAME(u"CYFileUtilities::IsDirectory"), [&] {
    if (path.size() == 3 && path[1] == u':' && IsSeparator(path[2])) return true;  // a drive root
    std::u16string_view p = path;
    if (!p.empty() && IsSeparator(p.back())) p.remove_suffix(1);
    WIN32_FIND_DATAW data;
    HANDLE h = FindFirstFileW(GetUnicodePath(p).c_str(), &data);
    if (h == INVALID_HANDLE_VALUE) return false;
    FindClose(h);
    return (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  });
}

std::uint64_t CYFileUtilities::GetFileSize(std::u16string_view path) {
  return YErrorFrame(VEL_FRAME(u"CYFileUtilities::GetFileSize"), [&]() -> std::uint64_t {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(GetUnicodePath(path).c_str(), GetFileExInfoStandard, &data)) return std::uint64_t{0};
    return (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) + data.nFileSizeLow;
  });
}

DATE CYFileUtilities::GetFileTime(std::u16string_view path, int which, int toLocal) {
  return YErrorFrame(VEL_FRAME(u"CYFileUtilities::GetFileTime"), [&](const YFrame& frame) {
    vel::UniqueFile file(CreateFileW(GetUnicodePath(path).c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) {
      CYException x = YReportWin32(GetLastError(), frame);
      x.AddEntry(kYErrOpenFile.message, kYErrOpenFile.code, frame.source, frame.line, frame.function);
      throw x.AddDetail(u"File", path);
    }
    FILETIME times[3];
    if (!::GetFileTime(file.get(), &times[0], &times[1], &times[2])) {
      CYException x = YReportWin32(GetLastError(), frame);
      x.AddEntry(kYErrGetFileTime.message, kYErrGetFileTime.code, frame.source, frame.line, frame.function);
      throw x.AddDetail(u"File", path);
    }
    // Checked only now, so a missing file reports the failed open first.
    if (which < 0 || which > 2) YThrow(kYErrInvalidParameter, frame);
    FILETIME chosen = times[which];
    if (toLocal == 1) {
      FILETIME local;
      if (!FileTimeToLocalFileTime(&chosen, &local)) YThrowWin32(GetLastError(), frame);
      chosen = local;
    }
    SYSTEMTIME st;
    if (!FileTimeToSystemTime(&chosen, &st)) YThrowWin32(GetLastError(), frame);
    return CYTime::SystemTimeToVariantTime(st);
  });
}

std::u16string CYFileUtilities::GetShortFilePath(std::u16string_view path, bool& ok) {
  return YErrorFrame(VEL_FRAME(u"CYFileUtilities::GetShortFilePath"), [&] {
    std::u16string p(path);
    for (char16_t& c : p) {
      if (c == u'/') c = u'\\';
    }
    std::vector<char16_t> buffer(MAX_PATH, u'\0');
    const DWORD n = GetShortPathNameW(GetUnicodePath(p).c_str(), buffer.data(), MAX_PATH);
    std::u16string result;
    if (n >= 1 && n < MAX_PATH) {
      result = buffer.data();
      ok = true;
    } else {
      result = p;
      ok = false;
    }
    RemoveUnicodePath(result);
    return result;
  });
}

std::u16string CYFileUtilities::GetShortFilePath(std::u16string_view path) {
  bool ok = false;
  return GetShortFilePath(path, ok);
}

std::u16string CYFileUtilities::GetLongFilePath(std::u16string_view path) {
  return YErrorFrame(VEL_FRAME(u"CYFileUtilities::GetLongFilePath"), [&](const YFrame& frame) {
    const std::u16string q = StartsWith(path, u"\\\\") ? std::u16string(path) : GetUnicodePath(path);
    auto fail = [&] {
      throw YReportWin32(GetLastError(), frame).AddDetail(u"File", path).AddDetail(u"FileSentToWin32", q);
    };
    const DWORD n = GetLongPathNameW(q.c_str(), nullptr, 0);
    if (n == 0) fail();
    std::vector<char16_t> buffer(n + 1, u'\0');
    if (GetLongPathNameW(q.c_str(), buffer.data(), n) == 0) fail();
    std::u16string result(buffer.data());
    RemoveUnicodePath(result);
    return result;
  });
}

std::u16string CYFileUtilities::GetTempDirectory() {
  return YErrorFrame(VEL_FRAME(u"CYFileUtilities::GetTempDirectory"), [&](const YFrame& frame) {
    const DWORD n = GetTempPathW(0, nullptr);
    std::vector<char16_t> buffer(static_cast<size_t>(n) + 1, u'\0');
    if (GetTempPathW(n + 1, buffer.data()) == 0) YThrowWin32(GetLastError(), frame);
    std::u16string text = CYStringHelper::ExpandEnvironment(buffer.data());
    EnsurePathSeparatorAtEnd(text, u"\\");
    return GetLongFilePath(text);
  });
}

std::u16string CYFileUtilities::SHGetFolder(int csidl, HWND owner) {
  return YErrorFrame(VEL_FRAME(u"CYFileUtilities::SHGetFolder"), [&](const YFrame& frame) {
    LPITEMIDLIST list = nullptr;
    const HRESULT hr = SHGetSpecialFolderLocation(owner, csidl, &list);
    if (FAILED(hr)) YThrowHr(hr, frame);
    return SHGetPathFromItemListAndDisposeIt(list);
  });
}

std::u16string CYFileUtilities::SHGetPathFromItemListAndDisposeIt(LPITEMIDLIST list) {
  return YErrorFrame(VEL_FRAME(u"CYFileUtilities::SHGetPathFromItemListAndDisposeIt"),
                     [&](const YFrame& frame) {
                       // The list is freed whether or not it converts: the caller gave it away.
                       struct Dispose {
                         LPITEMIDLIST list;
                         ~Dispose() {
                           IMalloc* malloc = nullptr;
                           if (list && SUCCEEDED(SHGetMalloc(&malloc)) && malloc) {
                             malloc->Free(list);
                             malloc->Release();
                           }
                         }
                       } dispose{list};
                       char16_t path[MAX_PATH + 1] = {};
                       if (!SHGetPathFromIDListW(list, path)) YThrow(kYErrSHGetPath, frame);
                       return std::u16string(path);
                     });
}

void CYFileUtilities::SetFileReadonly(std::u16string_view path, bool readOnly) {
  YErrorFrame(VEL_FRAME(u"CYFileUtilities::SetFileReadonly"), [&](const YFrame& frame) {
    const std::u16string target = GetUnicodePath(path);
    if (_wchmod(target.c_str(), readOnly ? _S_IREAD : _S_IREAD | _S_IWRITE) != 0) throw YReportCrtError(frame);
  });
}

void CYFileUtilities::DeleteFileW(std::u16string_view path, bool clearReadOnly) {
  YErrorFrame(VEL_FRAME(u"CYFileUtilities::DeleteFileW"), [&](const YFrame& frame) {
    if (clearReadOnly) SetFileReadonly(path, false);
    if (!::DeleteFileW(GetUnicodePath(path).c_str())) {
      CYException x = YReportWin32(GetLastError(), frame);
      x.AddEntry(kYErrDeleteFile.message, kYErrDeleteFile.code, frame.source, frame.line, frame.function);
      throw x.AddDetail(u"File", path);
    }
  });
}

void CYFileUtilities::MoveFileW(std::u16string_view source, std::u16string_view destination, bool failIfExists) {
  YErrorFrame(VEL_FRAME(u"CYFileUtilities::MoveFileW"), [&](const YFrame& frame) {
    if (!failIfExists && FileExists(destination)) DeleteFileW(destination, true);
    if (!::MoveFileW(GetUnicodePath(source).c_str(), GetUnicodePath(destination).c_str())) {
      CYException x = YReportWin32(GetLastError(), frame);
      x.AddEntry(kYErrMoveFile.message, kYErrMoveFile.code, frame.source, frame.line, frame.function);
      throw x.AddDetail(u"SrcFile", source).AddDetail(u"DstFile", destination);
    }
  });
}

void CYFileUtilities::BuildDirectory(std::u16string_view directory) {
  YErrorFrame(VEL_FRAME(u"CYFileUtilities::BuildDirectory"), [&](const YFrame& frame) {
    if (FileExists(directory)) {
      if (IsDirectory(directory)) return;
      throw YReport(kYErrCreateDirectory, frame).AddDetail(u"Directory", directory);
    }
    if (directory.empty()) YThrow(kYErrInvalidParameter, frame);

    std::u16string text(directory);
    RemoveUnicodePath(text);
    const bool network = StartsWith(text, u"\\\\") || StartsWith(text, u"//");
    const bool rooted = !text.empty() && IsSeparator(text.front());
    text = SetPathSeparator(text, u'\\');  // either separator splits
    std::vector<std::u16string> parts;
    for (size_t start = 0; start <= text.size();) {
      const size_t sep = text.find(u'\\', start);
      const size_t end = sep == std::u16string::npos ? text.size() : sep;
      if (end > start) parts.push_back(text.substr(start, end - start));
      start = end + 1;
    }
    if (parts.empty()) return;  // only separators: the root, which exists

    std::u16string base;
    size_t next = 0;
    if (parts[0].find(u':') != std::u16string::npos) {
      base = parts[0];
      next = 1;
    } else if (network) {
      base = u"\\\\" + parts[0];
      next = 1;
    }
    for (size_t i = next; i < parts.size(); ++i) {
      // A path without a leading separator stays relative to the current
      // directory instead of being built from the root.
      if (base.empty() && !rooted) {
        base = parts[i];
      } else {
        base += u'\\';
        base += parts[i];
      }
      if (!CreateDirectoryW(base.c_str(), nullptr)) {
        const DWORD error = GetLastError();
        if (error != static_cast<DWORD>(ERROR_ALREADY_EXISTS)) YThrowWin32(error, frame);
      }
    }
  });
}

void CYFileUtilities::StringToFileContent(std::u16string_view text, CYBuf& buffer, int encoding, bool withBom) {
  YErrorFrame(VEL_FRAME(u"CYFileUtilities::StringToFileContent"), [&](const YFrame& frame) {
    if (withBom) {
      static const BYTE kUtf16LE[] = {0xFF, 0xFE};
      static const BYTE kUtf16BE[] = {0xFE, 0xFF};
      static const BYTE kUtf8[] = {0xEF, 0xBB, 0xBF};
      switch (encoding) {
        case TextFileEncoding_Utf16LE: AppendBytes(buffer, kUtf16LE, sizeof kUtf16LE); break;
        case TextFileEncoding_Utf16BE: AppendBytes(buffer, kUtf16BE, sizeof kUtf16BE); break;
        case TextFileEncoding_Utf8: AppendBytes(buffer, kUtf8, sizeof kUtf8); break;
        default: break;
      }
    }
    switch (encoding) {
      case TextFileEncoding_Ansi:
      case TextFileEncoding_Utf8: {
        CYBufMalloc converted;
        CYStringHelper::StringToMultiByte(text, converted, encoding == TextFileEncoding_Ansi ? CP_ACP : CP_UTF8);
        const std::uint64_t n = converted.GetSize();
        if (n > 0) {
          CYLockHolder hold(converted);
          AppendBytes(buffer, converted.GetBuf(), n);
        }
        break;
      }
      case TextFileEncoding_Utf16LE: {
        // Code units low byte first, whatever the machine's order.
        std::vector<BYTE> bytes(text.size() * 2);
        for (size_t i = 0; i < text.size(); ++i) {
          bytes[2 * i] = static_cast<BYTE>(text[i] & 0xFF);
          bytes[2 * i + 1] = static_cast<BYTE>(text[i] >> 8);
        }
        AppendBytes(buffer, bytes.data(), bytes.size());
        break;
      }
      case TextFileEncoding_Utf16BE: {
        std::vector<BYTE> bytes(text.size() * 2);
        for (size_t i = 0; i < text.size(); ++i) {
          bytes[2 * i] = static_cast<BYTE>(text[i] >> 8);
          bytes[2 * i + 1] = static_cast<BYTE>(text[i] & 0xFF);
        }
        AppendBytes(buffer, bytes.data(), bytes.size());
        break;
      }
      default:
        YThrow(kYErrInvalidParameter, frame);
    }
  });
}

void CYFileUtilities::WriteTextFile(std::u16string_view path, std::u16string_view text, bool append, int encoding) {
  YErrorFrame(VEL_FRAME(u"CYFileUtilities::WriteTextFile"), [&](const YFrame& frame) {
    try {
      BuildDirectory(GetPathFromFilename(path));
      vel::UniqueFile file(CreateFileW(GetUnicodePath(path).c_str(), append ? GENERIC_READ | GENERIC_WRITE : GENERIC_WRITE,
                                        FILE_SHARE_READ, nullptr, append ? OPEN_ALWAYS : CREATE_ALWAYS,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
      if (!file.valid()) YThrowWin32(GetLastError(), frame);
      if (append) {
        const DWORD size = ::GetFileSize(file.get(), nullptr);
        // 0xFFFFFFFF is also the low part of a real size; only the last error tells.
        if (size == INVALID_FILE_SIZE && GetLastError() != ERROR_SUCCESS) YThrowWin32(GetLastError(), frame);
        if (size == 0) {
          append = false;  // a new or empty file gets a mark
        } else if (encoding == TextFileEncoding_Detect && size >= 3) {
          BYTE mark[3] = {};
          DWORD read = 0;
          if (!ReadFile(file.get(), mark, 3, &read, nullptr) || read != 3) YThrowWin32(GetLastError(), frame);
          if (mark[0] == 0xFF && mark[1] == 0xFE) {
            encoding = TextFileEncoding_Utf16LE;
          } else if (mark[0] == 0xFE && mark[1] == 0xFF) {
            encoding = TextFileEncoding_Utf16BE;
          } else if (mark[0] == 0xEF && mark[1] == 0xBB && mark[2] == 0xBF) {
            encoding = TextFileEncoding_Utf8;
          } else {
            encoding = TextFileEncoding_Ansi;
          }
        }
      }
      if (SetFilePointer(file.get(), 0, nullptr, FILE_END) == INVALID_SET_FILE_POINTER &&
          GetLastError() != ERROR_SUCCESS) {
        YThrowWin32(GetLastError(), frame);
      }
      CYBufMalloc content;
      StringToFileContent(text, content, encoding, !append);
      const std::uint64_t n = content.GetSize();
      if (n > 0) {
        CYLockHolder hold(content);
        DWORD written = 0;
        if (!WriteFile(file.get(), content.GetBuf(), static_cast<DWORD>(n), &written, nullptr) || written != n) {
          YThrowWin32(GetLastError(), frame);
        }
      }
    } catch (CYException& x) {
      x.AddDetail(u"Filename", path).AddDetail(u"Content", text);
      throw;
    }
  });
}
