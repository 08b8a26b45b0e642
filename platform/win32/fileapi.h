// The Win32 file and directory functions the module calls.
//
// Paths: the "\\?\" prefix is dropped and every "\" becomes "/", so
// "\home\u\a.mp3", "\\?\home\u\a.mp3" and "/home/u/a.mp3" name one file.
// Drive-letter paths ("C:...") and network paths ("\\server\...",
// "\\?\UNC\...") have no meaning here: ERROR_PATH_NOT_FOUND. The text handed to
// Linux is UTF-8. Names compare as the file system compares them (with case).
//
// File handles are kernel objects of the shared handle table: any thread may
// use them, CloseHandle closes them. Share modes are honoured between handles
// of this and other processes through open-file-description locks on bytes far
// beyond any file's end (so file data is never locked): a handle that denies
// reading or writing cannot be opened while another handle reads or writes, and
// the other way round (ERROR_SHARING_VIOLATION). FILE_SHARE_DELETE is not
// needed: Linux always lets a name be removed while the file is open. On file
// systems without those locks share modes are not enforced.
//
// Attributes: FILE_ATTRIBUTE_READONLY is a file without its owner's write
// permission; it is honoured as the platform does even for a user who could
// write anyway: writing opens, DeleteFileW and a replacing MoveFileExW fail
// with ERROR_ACCESS_DENIED. FILE_ATTRIBUTE_DIRECTORY is a directory;
// FILE_ATTRIBUTE_NORMAL stands alone for any other file.
//
// Times: the creation time is the file's birth time where the file system
// keeps one, otherwise its last status change.
#pragma once

#include "platform/com/types.h"
#include "platform/win32/winbase.h"

// The separator of the file system's own path texts. The file functions take
// both separators; texts the module makes for others (paths it records,
// prints or proposes) use this one.
constexpr char16_t kNativePathSeparator[] = u"/";

constexpr DWORD MAX_PATH = 260;

constexpr DWORD GENERIC_READ = 0x80000000;
constexpr DWORD GENERIC_WRITE = 0x40000000;
constexpr DWORD GENERIC_ALL = 0x10000000;
constexpr DWORD FILE_READ_DATA = 0x0001;
constexpr DWORD FILE_WRITE_DATA = 0x0002;
constexpr DWORD FILE_APPEND_DATA = 0x0004;
constexpr DWORD FILE_READ_ATTRIBUTES = 0x0080;
constexpr DWORD FILE_WRITE_ATTRIBUTES = 0x0100;

constexpr DWORD FILE_SHARE_READ = 0x1;
constexpr DWORD FILE_SHARE_WRITE = 0x2;
constexpr DWORD FILE_SHARE_DELETE = 0x4;

constexpr DWORD CREATE_NEW = 1;
constexpr DWORD CREATE_ALWAYS = 2;
constexpr DWORD OPEN_EXISTING = 3;
constexpr DWORD OPEN_ALWAYS = 4;
constexpr DWORD TRUNCATE_EXISTING = 5;

constexpr DWORD FILE_ATTRIBUTE_READONLY = 0x1;
constexpr DWORD FILE_ATTRIBUTE_HIDDEN = 0x2;
constexpr DWORD FILE_ATTRIBUTE_DIRECTORY = 0x10;
constexpr DWORD FILE_ATTRIBUTE_ARCHIVE = 0x20;
constexpr DWORD FILE_ATTRIBUTE_NORMAL = 0x80;
constexpr DWORD INVALID_FILE_ATTRIBUTES = 0xFFFFFFFF;
constexpr DWORD FILE_FLAG_BACKUP_SEMANTICS = 0x02000000;

constexpr DWORD FILE_BEGIN = 0;
constexpr DWORD FILE_CURRENT = 1;
constexpr DWORD FILE_END = 2;
constexpr DWORD INVALID_SET_FILE_POINTER = 0xFFFFFFFF;
constexpr DWORD INVALID_FILE_SIZE = 0xFFFFFFFF;

constexpr DWORD PAGE_READONLY = 0x02;
constexpr DWORD FILE_MAP_READ = 0x0004;

constexpr DWORD MOVEFILE_REPLACE_EXISTING = 0x1;
constexpr DWORD MOVEFILE_COPY_ALLOWED = 0x2;

union LARGE_INTEGER {
  struct {
    DWORD LowPart;
    LONG HighPart;
  };
  LONGLONG QuadPart;
};

struct OVERLAPPED;

struct WIN32_FIND_DATAW {
  DWORD dwFileAttributes;
  FILETIME ftCreationTime;
  FILETIME ftLastAccessTime;
  FILETIME ftLastWriteTime;
  DWORD nFileSizeHigh;
  DWORD nFileSizeLow;
  DWORD dwReserved0;
  DWORD dwReserved1;
  WCHAR cFileName[MAX_PATH];
  WCHAR cAlternateFileName[14];
};

struct WIN32_FILE_ATTRIBUTE_DATA {
  DWORD dwFileAttributes;
  FILETIME ftCreationTime;
  FILETIME ftLastAccessTime;
  FILETIME ftLastWriteTime;
  DWORD nFileSizeHigh;
  DWORD nFileSizeLow;
};

enum GET_FILEEX_INFO_LEVELS { GetFileExInfoStandard = 0 };

extern "C" {

// OPEN_ALWAYS and CREATE_ALWAYS set ERROR_ALREADY_EXISTS when the file was
// there, 0 otherwise. A directory opens only with FILE_FLAG_BACKUP_SEMANTICS.
// hTemplateFile (a file handle, or null): a file that this call creates gets
// the template's permission bits (read-only among them), so a file written
// anew beside an original and renamed over it keeps the original's access.
HANDLE CreateFileW(LPCWSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                   SECURITY_ATTRIBUTES* lpSecurityAttributes, DWORD dwCreationDisposition,
                   DWORD dwFlagsAndAttributes, HANDLE hTemplateFile);
// Synchronous only: lpOverlapped must be null.
BOOL ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead, LPDWORD lpNumberOfBytesRead,
              OVERLAPPED* lpOverlapped);
BOOL WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite, LPDWORD lpNumberOfBytesWritten,
               OVERLAPPED* lpOverlapped);
DWORD GetFileSize(HANDLE hFile, LPDWORD lpFileSizeHigh);
BOOL GetFileSizeEx(HANDLE hFile, LARGE_INTEGER* lpFileSize);
DWORD SetFilePointer(HANDLE hFile, LONG lDistanceToMove, LONG* lpDistanceToMoveHigh, DWORD dwMoveMethod);
BOOL SetFilePointerEx(HANDLE hFile, LARGE_INTEGER liDistanceToMove, LARGE_INTEGER* lpNewFilePointer,
                      DWORD dwMoveMethod);
BOOL GetFileTime(HANDLE hFile, FILETIME* lpCreationTime, FILETIME* lpLastAccessTime, FILETIME* lpLastWriteTime);
// Writes the file's data through to the storage device.
BOOL FlushFileBuffers(HANDLE hFile);

// CreateFileMappingW, MapViewOfFile and UnmapViewOfFile: see mappings.h,
// included at the end of this header.

// The last path component is a pattern of "*" and "?"; "." and ".." are found
// like any other name.
HANDLE FindFirstFileW(LPCWSTR lpFileName, WIN32_FIND_DATAW* lpFindFileData);
BOOL FindNextFileW(HANDLE hFindFile, WIN32_FIND_DATAW* lpFindFileData);
BOOL FindClose(HANDLE hFindFile);

DWORD GetFileAttributesW(LPCWSTR lpFileName);
// Attributes, times and size (0 for a folder) with one status call; only
// GetFileExInfoStandard (ERROR_INVALID_PARAMETER otherwise).
BOOL GetFileAttributesExW(LPCWSTR lpFileName, GET_FILEEX_INFO_LEVELS fInfoLevelId, LPVOID lpFileInformation);
BOOL DeleteFileW(LPCWSTR lpFileName);
// Fails with ERROR_ALREADY_EXISTS when the destination exists.
BOOL MoveFileW(LPCWSTR lpExistingFileName, LPCWSTR lpNewFileName);
// Moves between file systems are not offered (ERROR_NOT_SAME_DEVICE).
BOOL MoveFileExW(LPCWSTR lpExistingFileName, LPCWSTR lpNewFileName, DWORD dwFlags);
BOOL CreateDirectoryW(LPCWSTR lpPathName, SECURITY_ATTRIBUTES* lpSecurityAttributes);

// There are no short (8.3) names here: an existing path answers 0 with
// ERROR_NOT_SUPPORTED, a missing one ERROR_FILE_NOT_FOUND/ERROR_PATH_NOT_FOUND.
DWORD GetShortPathNameW(LPCWSTR lpszLongPath, LPWSTR lpszShortPath, DWORD cchBuffer);
// Every name is already long: an existing path comes back as given. A buffer
// too small answers the size needed, terminator included.
DWORD GetLongPathNameW(LPCWSTR lpszShortPath, LPWSTR lpszLongPath, DWORD cchBuffer);
// TMPDIR (when set and not empty) or "/tmp", with a trailing "/".
DWORD GetTempPathW(DWORD nBufferLength, LPWSTR lpBuffer);
// The path of the file a handle has open, symbolic links resolved (the file
// itself, not the name it was opened by), as a "/" path without the "\\?\"
// prefix; dwFlags must be 0 (FILE_NAME_NORMALIZED | VOLUME_NAME_DOS). A
// buffer too small answers the size needed, terminator included.
DWORD GetFinalPathNameByHandleW(HANDLE hFile, LPWSTR lpszFilePath, DWORD cchFilePath, DWORD dwFlags);

}  // extern "C"

namespace vel {

// Opens an existing file for reading as CreateFileW(GENERIC_READ,
// FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, OPEN_EXISTING)
// does, except that the handle takes no part in share modes: it denies
// nothing and is denied nothing, which spares the lock calls of every open.
// Meant for readers of users' files: every writer of this module replaces a
// file whole (ReplacingFile), so no writer changes what such a reader reads,
// and other programs on this system ignore share modes anyway. *size gets
// the file's size at the open. A folder fails with ERROR_ACCESS_DENIED;
// other failures set the last error as CreateFileW does.
HANDLE OpenFileForReading(LPCWSTR path, std::int64_t* size);

}  // namespace vel

#include "platform/win32/mappings.h"
