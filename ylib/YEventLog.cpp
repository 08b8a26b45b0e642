#include "ylib/YEventLog.h"

#include <cstring>
#include <stdexcept>

#include "platform/win32/crtio.h"
#include "platform/win32/eventlog.h"
#include "platform/win32/winbase.h"
#include "ylib/YErrorFrame.h"
#include "ylib/YFile.h"
#include "ylib/YFileUtilities.h"
#include "ylib/YFormat.h"
#include "ylib/YRegistry.h"

namespace {

constexpr char16_t kSource[] = u"YEventLog";
constexpr char16_t kEventLogKey[] = u"HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\EventLog\\Application";

// Writes little-endian fields into a fixed-size image.
class ImageWriter {
 public:
  explicit ImageWriter(std::vector<std::uint8_t>& image) : m_image(image) {}
  void U16(std::size_t at, std::uint16_t v) {
    m_image.at(at) = static_cast<std::uint8_t>(v);
    m_image.at(at + 1) = static_cast<std::uint8_t>(v >> 8);
  }
  void U32(std::size_t at, std::uint32_t v) {
    U16(at, static_cast<std::uint16_t>(v));
    U16(at + 2, static_cast<std::uint16_t>(v >> 16));
  }
  void Bytes(std::size_t at, const void* data, std::size_t n) {
    if (at + n > m_image.size()) throw std::out_of_range("message file image");
    std::memcpy(m_image.data() + at, data, n);
  }

 private:
  std::vector<std::uint8_t>& m_image;
};

}  // namespace

// The layout of the message file: headers in the first 0x200 bytes, one
// ".rsrc" section (file offset 0x200, RVA 0x1000, 0x400 bytes) holding
//   type directory    RT_MESSAGETABLE (11)
//   name directory    1
//   language entry    1033
//   data entry        -> message table
//   message table     one block, ids 1..1, one Unicode entry "%1\r\n"
std::vector<std::uint8_t> CYEventLog::MessageFileContent() {
  return YErrorFrame(VEL_FRAME(u"CYEventLog::MessageFileContent"), [&] {
    constexpr std::uint32_t kFileSize = 1536;
    constexpr std::uint32_t kHeadersSize = 0x200;
    constexpr std::uint32_t kSectionRva = 0x1000;
    constexpr std::uint32_t kSectionRawSize = kFileSize - kHeadersSize;
    constexpr std::uint32_t kPe = 0x80;  // e_lfanew
    constexpr std::uint32_t kCoff = kPe + 4;
    constexpr std::uint32_t kOptional = kCoff + 20;
    constexpr std::uint16_t kOptionalSize = 224;  // PE32 with 16 data directories
    constexpr std::uint32_t kSectionTable = kOptional + kOptionalSize;

    std::vector<std::uint8_t> image(kFileSize, 0);
    ImageWriter w(image);

    // DOS header and stub.
    w.Bytes(0, "MZ", 2);
    w.U16(0x02, 0x90);    // bytes on last page
    w.U16(0x04, 3);       // pages
    w.U16(0x08, 4);       // header paragraphs
    w.U16(0x0C, 0xFFFF);  // maximum extra paragraphs
    w.U16(0x10, 0xB8);    // initial SP
    w.U16(0x18, 0x40);    // relocation table
    w.U32(0x3C, kPe);
    static const std::uint8_t kStub[] = {0x0E, 0x1F, 0xBA, 0x0E, 0x00, 0xB4, 0x09, 0xCD, 0x21, 0xB8, 0x01, 0x4C, 0xCD, 0x21};
    w.Bytes(0x40, kStub, sizeof kStub);
    static const char kStubText[] = "This program cannot be run in DOS mode.\r\r\n$";
    w.Bytes(0x40 + sizeof kStub, kStubText, sizeof kStubText - 1);

    // PE signature and COFF header.
    w.Bytes(kPe, "PE\0\0", 4);
    w.U16(kCoff + 0, 0x014C);  // i386
    w.U16(kCoff + 2, 1);       // one section
    w.U16(kCoff + 16, kOptionalSize);
    // executable image, no line numbers, no local symbols, 32-bit machine, DLL
    w.U16(kCoff + 18, 0x0002 | 0x0004 | 0x0008 | 0x0100 | 0x2000);

    // Optional header (PE32). No code and no entry point: resources only.
    constexpr std::uint32_t o = kOptional;
    w.U16(o + 0, 0x010B);
    image[o + 2] = 6;                       // linker version
    w.U32(o + 8, kSectionRawSize);          // size of initialised data
    w.U32(o + 20, kSectionRva);             // base of code
    w.U32(o + 24, kSectionRva);             // base of data
    w.U32(o + 28, 0x10000000);              // image base
    w.U32(o + 32, 0x1000);                  // section alignment
    w.U32(o + 36, 0x200);                   // file alignment
    w.U16(o + 40, 4);                       // operating system version 4.0
    w.U16(o + 48, 4);                       // subsystem version 4.0
    w.U32(o + 56, kSectionRva + 0x1000);    // size of image
    w.U32(o + 60, kHeadersSize);
    w.U16(o + 68, 2);                       // Windows GUI subsystem
    w.U32(o + 72, 0x100000);                // stack reserve
    w.U32(o + 76, 0x1000);                  // stack commit
    w.U32(o + 80, 0x100000);                // heap reserve
    w.U32(o + 84, 0x1000);                  // heap commit
    w.U32(o + 92, 16);                      // number of data directories

    // Resource section content, offsets relative to the section start.
    constexpr std::uint32_t kTypeDir = 0x00, kNameDir = 0x18, kLangDir = 0x30, kDataEntry = 0x48, kTable = 0x58;
    constexpr std::uint32_t kSubdirectory = 0x80000000;
    const std::uint32_t r = kHeadersSize;
    w.U16(r + kTypeDir + 14, 1);  // one entry by id
    w.U32(r + kTypeDir + 16, 11);  // RT_MESSAGETABLE
    w.U32(r + kTypeDir + 20, kSubdirectory | kNameDir);
    w.U16(r + kNameDir + 14, 1);
    w.U32(r + kNameDir + 16, 1);
    w.U32(r + kNameDir + 20, kSubdirectory | kLangDir);
    w.U16(r + kLangDir + 14, 1);
    w.U32(r + kLangDir + 16, 1033);
    w.U32(r + kLangDir + 20, kDataEntry);
    // The message table: one block {low id, high id, offset of its entries},
    // then the entry {length, flags = Unicode, text with terminator, padded to 4}.
    static const char16_t kText[] = u"%1\r\n";
    const std::uint16_t entryLength = 4 + 2 * static_cast<std::uint16_t>(sizeof kText / 2);  // 14
    const std::uint16_t paddedLength = static_cast<std::uint16_t>((entryLength + 3) & ~3u);   // 16
    w.U32(r + kTable + 0, 1);        // blocks
    w.U32(r + kTable + 4, 1);        // low id
    w.U32(r + kTable + 8, 1);        // high id
    w.U32(r + kTable + 12, 16);      // entries follow the block
    w.U16(r + kTable + 16, paddedLength);
    w.U16(r + kTable + 18, 1);       // MESSAGE_RESOURCE_UNICODE
    for (std::size_t i = 0; i < sizeof kText / 2; ++i) w.U16(r + kTable + 20 + 2 * i, kText[i]);
    const std::uint32_t tableSize = 16 + paddedLength;
    w.U32(r + kDataEntry + 0, kSectionRva + kTable);  // data entries hold RVAs
    w.U32(r + kDataEntry + 4, tableSize);
    const std::uint32_t resourceSize = kTable + tableSize;

    // The resource data directory (the third) and the section header.
    w.U32(o + 96 + 2 * 8, kSectionRva);
    w.U32(o + 96 + 2 * 8 + 4, resourceSize);
    w.Bytes(kSectionTable, ".rsrc", 5);
    w.U32(kSectionTable + 8, resourceSize);       // virtual size
    w.U32(kSectionTable + 12, kSectionRva);
    w.U32(kSectionTable + 16, kSectionRawSize);
    w.U32(kSectionTable + 20, kHeadersSize);      // file offset
    w.U32(kSectionTable + 36, 0x40000040);        // initialised data, readable
    return image;
  });
}

CYEventLog::~CYEventLog() { Close(); }

void CYEventLog::Close() noexcept {
  if (m_hEventSource) DeregisterEventSource(m_hEventSource);
  m_hEventSource = nullptr;
}

void CYEventLog::InitEventResources() noexcept {
  try {
    YErrorFrame(VEL_FRAME(u"CYEventLog::InitEventResources"), [&] {
      const std::u16string& source = m_config.applicationName;
      const std::u16string key = CYFileUtilities::ConcatPathname(kEventLogKey, source);
      const std::u16string file = CYFileUtilities::ConcatPathname(CYFileUtilities::GetTempDirectory(), kYEventMessageFile);
      // Written only when they differ: every process start comes here, and a
      // write would take the store's write lock and wake its watchers.
      if (CYRegistry::GetStringValue(key, u"EventMessageFile", u"") != file) {
        CYRegistry::SetValue(key, u"EventMessageFile", file.c_str());
      }
      if (CYRegistry::GetDWORDValue(key, u"TypesSupported", 0, false) != 7) {
        CYRegistry::SetValue(key, u"TypesSupported", static_cast<DWORD>(7));
      }
      if (CYFileUtilities::FileExists(file)) return;
      // Written under a name of this thread's own and then renamed, so no
      // process ever finds a half-written message file under the real name.
      const std::u16string partial = YFormat(u"%s.%d-%d.tmp", file, GetCurrentProcessId(), GetCurrentThreadId());
      try {
        const std::vector<std::uint8_t> content = MessageFileContent();
        {
          CYFile out;
          out.OpenEx(partial, _O_BINARY | _O_CREAT | _O_TRUNC | _O_WRONLY);
          if (out.WriteBytes(content.data(), static_cast<unsigned>(content.size())) != static_cast<int>(content.size())) {
            throw std::runtime_error("short write");
          }
          out.Close();
        }
        CYFileUtilities::MoveFileW(partial, file, false);
      } catch (...) {
        try {
          if (CYFileUtilities::FileExists(partial)) CYFileUtilities::DeleteFileW(partial, true);
        } catch (...) {
        }
        throw;
      }
    });
  } catch (...) {
    OutputDebugStringW(u"CYEventLog: Failed to create event source file and registry resources");
  }
}

void CYEventLog::Init() {
  YErrorFrame(VEL_FRAME(u"CYEventLog::Init"), [&] {
    Close();
    InitEventResources();
    m_hEventSource = RegisterEventSourceW(nullptr, m_config.applicationName.c_str());
  });
}

void CYEventLog::Log(int level, const std::u16string& text, bool force) {
  YErrorFrame(VEL_FRAME(u"CYEventLog::Log"), [&] {
    if (!((level <= m_config.EventLogLevel && m_hEventSource) || force)) return;
    const WORD type = level == kYLogError     ? EVENTLOG_ERROR_TYPE
                      : level == kYLogWarning ? EVENTLOG_WARNING_TYPE
                                              : EVENTLOG_INFORMATION_TYPE;
    const std::u16string message =
        YFormat(u"%s %s (YLib %s)\n\n%s", m_config.applicationName, m_config.subName, kYLibVersion, text);
    LPCWSTR strings[] = {message.c_str()};
    if (!ReportEventW(m_hEventSource, type, 0, 1, nullptr, 1, 0, strings, nullptr)) {
      const DWORD error = GetLastError();
      OutputDebugStringW(YFormat(u"ReportEvent failed, error: %d", error).c_str());
    }
  });
}
