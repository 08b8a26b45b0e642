// CYException: the module's one error type, an XML report with one entry per
// place the error passed through (origin first, outer functions after it).
//
//   <error>
//     <errorentry>
//       <description>..</description><errorcode>..</errorcode>
//       <sourcefile>..</sourcefile><sourceline>..</sourceline><sourcefunction>..</sourcefunction>
//       <Detailname>..</Detailname>...
//     </errorentry> ...
//   </error>
//
// Reports are built by the error frame (YErrorFrame.h), which adds one stack
// entry (code 1005) per function the report leaves. GetXml is the text handed
// to the COM error object; GetText is the text written to logs.
//
// Thread safety: a report is a plain value owned by the thread handling it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/com/types.h"
#include "ylib/YXmlNode.h"

class _com_error;

// The failure HRESULT of this module's family: its error description is a report's XML.
constexpr HRESULT kVelErrorHResult = static_cast<HRESULT>(0x80045D53u);

// An error code with its fixed message.
struct YErrorDef {
  std::int32_t code;
  const char16_t* message;
};

// Codes of the error frame.
constexpr YErrorDef kYErrUnknownException{1001, u"Unhandled exception caught (Possibly caused by access violation)"};
constexpr YErrorDef kYErrStdException{1002, u"std exception caught: "};          // + what()
constexpr YErrorDef kYErrCharException{1003, u"char* exception caught: "};        // + the text
constexpr YErrorDef kYErrWideCharException{1004, u"wchar_t* exception caught: "}; // + the text
constexpr YErrorDef kYErrStackEntry{1005, u"Stacktrace."};
constexpr YErrorDef kYErrInvalidParameter{1010, u"Invalid function parameter."};
// Codes of the library.
constexpr YErrorDef kYErrCreateDirectory{2001, u"Failed to create directory."};
constexpr YErrorDef kYErrTimeConversion{2002, u"Time conversion failed."};
constexpr YErrorDef kYErrOpenRegistryKey{2004, u"Failed to open registry key."};
constexpr YErrorDef kYErrFileNotOpen{2006, u"File not open."};
constexpr YErrorDef kYErrArrayNotLocked{2007, u"Array not locked."};
constexpr YErrorDef kYErrMoveFile{2008, u"Failed to move file."};
constexpr YErrorDef kYErrSHGetPath{2010, u"SHGetPath failed."};
constexpr YErrorDef kYErrDeleteFile{2012, u"Failed to delete file."};
constexpr YErrorDef kYErrGetFileTime{2013, u"Failed to get file time."};
constexpr YErrorDef kYErrReadRegistryValue{2014, u"Failed to read registry value."};
constexpr YErrorDef kYErrWriteRegistryValue{2015, u"Failed to write registry value."};
constexpr YErrorDef kYErrUnsupportedXsdType{2017, u"Unsupported VARIANT type for XSD conversion."};
constexpr YErrorDef kYErrInvalidStringArrayChar{2021,
                                                u"Invalid character found in string array value, \",\" is not allowed."};

// GetText flags.
constexpr int kYTextAllEntries = 1;
constexpr int kYTextStackTrace = 2;
constexpr int kYTextErrorCodes = 4;
constexpr int kYTextForLog = kYTextAllEntries | kYTextStackTrace | kYTextErrorCodes;

class CYException {
 public:
  // A report with one entry.
  CYException(std::u16string_view message, std::int32_t code, std::u16string_view file, int line,
              std::u16string_view function);
  // A report carried by a COM error: a report of this module's family
  // (kVelErrorHResult) is read back from the description, so the trace goes
  // on; any other error becomes one entry with the error's text and HRESULT.
  explicit CYException(const _com_error& e);
  CYException(const CYException& other);
  CYException(CYException&& other) noexcept = default;
  CYException& operator=(const CYException& other);
  CYException& operator=(CYException&& other) noexcept = default;
  virtual ~CYException();

  CYException& AddEntry(std::u16string_view message, std::int32_t code, std::u16string_view file, int line,
                        std::u16string_view function);
  // Appends <name>text</name> to the newest entry that is not a stack entry.
  // Spaces, "<" and "&" are removed from the name ("Registry key" ->
  // Registrykey); a name left empty is written as "detail".
  CYException& AddDetail(std::u16string_view name, std::u16string_view text);
  // The number as "0x%X" when hex, else "%d" (both read it as 32 bits).
  CYException& AddDetail(std::u16string_view name, std::int64_t number, bool hex);
  // Appends copies of all of other's entries, in order.
  CYException& AppendEntries(const CYException& other);

  std::u16string GetXml() const;
  // flags: kYTextAllEntries, kYTextStackTrace, kYTextErrorCodes. Every "%" is
  // doubled, so the text can be used as a format.
  std::u16string GetText(int flags) const;
  std::u16string GetStackTrace() const;

  // The code of the origin entry (0 for an empty report).
  std::int32_t GetCode() const;
  const CYXmlNode& GetTree() const;

 private:
  CYException();  // an empty report
  CYXmlNode& Root();

  std::unique_ptr<CYXmlNode> m_root;  // null only after a move
};
