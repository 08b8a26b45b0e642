// CYFileUtilities: path texts and the few file-system operations the module
// needs (existence, size, times, directories, deleting, moving, text files,
// the temporary directory and the shell's special folders).
//
// Both '/' and '\' are separators in every text operation. Calls that reach
// the file system first turn the path into its extended-length form
// (GetUnicodePath) and give paths back without it (RemoveUnicodePath); the
// platform maps either form to its own paths.
//
// Thread safety: no state, no locks; any thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/com/types.h"
#include "platform/win32/shlobj.h"

class CYBuf;
class CYException;
struct YFrame;

// Encodings of WriteTextFile and StringToFileContent.
enum TextFileEncoding : int {
  TextFileEncoding_Detect = 0,  // appending only: taken from the file's byte order mark
  TextFileEncoding_Ansi = 1,
  TextFileEncoding_Utf16LE = 2,
  TextFileEncoding_Utf16BE = 3,
  TextFileEncoding_Utf8 = 4,
};

class CYFileUtilities {
 public:
  // Path texts (no file-system access).
  static std::u16string GetFilenameFromPath(std::u16string_view path);
  static std::u16string GetPathFromFilename(std::u16string_view path);  // separator kept
  static std::u16string GetFilenameWithoutExtension(std::u16string_view path);
  static std::u16string GetFileExtension(std::u16string_view path);  // ".txt", or ""
  static void EnsurePathSeparatorAtEnd(std::u16string& path, std::u16string_view separator = u"\\");
  static std::u16string SetPathSeparator(std::u16string_view path, char16_t separator);
  static bool IsRelativePath(std::u16string_view path);
  // first and second with one separator between them (a separator already
  // ending first, or starting second, is kept as the only one); "\\" by
  // default, as registry key paths want. An empty first text with a
  // non-empty second raises 1010.
  static std::u16string ConcatPathname(std::u16string_view first, std::u16string_view second,
                                       std::u16string_view separator = u"\\");
  static std::u16string GetUnicodePath(std::u16string_view path);
  static void RemoveUnicodePath(std::u16string& path);

  // File system.
  static bool FileExists(std::u16string_view path);  // the name is a search pattern
  static void CheckFileExists(std::u16string_view path);
  static bool IsDirectory(std::u16string_view path);
  static std::uint64_t GetFileSize(std::u16string_view path);  // 0 when it cannot be opened
  // which: 0 creation, 1 last access, 2 last write; toLocal 1: local time.
  static DATE GetFileTime(std::u16string_view path, int which, int toLocal);
  // There are no short names here: the path (separators '\') with ok false.
  static std::u16string GetShortFilePath(std::u16string_view path, bool& ok);
  static std::u16string GetShortFilePath(std::u16string_view path);
  static std::u16string GetLongFilePath(std::u16string_view path);
  // Ends in a separator.
  static std::u16string GetTempDirectory();
  static std::u16string SHGetFolder(int csidl, HWND owner = nullptr);
  static std::u16string SHGetPathFromItemListAndDisposeIt(LPITEMIDLIST list);
  static void SetFileReadonly(std::u16string_view path, bool readOnly);
  static void DeleteFileW(std::u16string_view path, bool clearReadOnly);
  static void MoveFileW(std::u16string_view source, std::u16string_view destination, bool failIfExists);
  static void BuildDirectory(std::u16string_view directory);
  // Appends the encoded text (with the encoding's mark when withBom) to buffer.
  static void StringToFileContent(std::u16string_view text, CYBuf& buffer, int encoding, bool withBom);
  static void WriteTextFile(std::u16string_view path, std::u16string_view text, bool append, int encoding);
};

// The C runtime's text for the calling thread's errno, with errno as code, or
// "Undefined error." (1006) when there is no text. Shared with CYFile.
CYException YReportCrtError(const YFrame& frame);
