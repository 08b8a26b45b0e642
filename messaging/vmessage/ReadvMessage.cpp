#include "messaging/vmessage/ReadvMessage.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <new>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "messaging/vmessage/vMessageText.h"
#include "platform/base/ByteReader.h"
#include "platform/com/combase.h"
#include "platform/com/oleauto.h"
#include "platform/win32/UniqueHandles.h"
#include "platform/win32/fileapi.h"
#include "platform/win32/winbase.h"

void FreevMessageRecord(vMessageRecord* record) noexcept {
  if (!record) return;
  for (BSTR* s : {&record->body, &record->senderNumber, &record->senderName, &record->recipientNumbers,
                  &record->recipientNames, &record->dateText}) {
    SysFreeString(*s);
  }
  CoTaskMemFree(record);
}

namespace {

using vel::vmessage::Decode;
using vel::vmessage::EightBitCodePage;

constexpr LCID kUserDefaultLocale = 0x400;
constexpr std::uint32_t kUtf8Mark = 0xEFBBBF;

struct Attempt {
  std::u16string text;
  UINT codePage;
};

// The whole file in storage of UTF-16 units (an odd last byte in the high
// half's place), so that the UTF-16 reading is a view of it rather than a
// second copy of the file. Read straight into place, sized from the file.
struct FileText {
  std::u16string storage;
  std::size_t size = 0;  // in bytes

  std::span<const std::uint8_t> bytes() const noexcept {
    return {reinterpret_cast<const std::uint8_t*>(storage.data()), size};
  }
};

// false: the file does not open.
bool ReadFileText(const char16_t* path, FileText& file) {
  std::int64_t expected = 0;
  vel::UniqueFile handle(vel::OpenFileForReading(path, &expected));
  if (!handle.valid()) return false;
  // A unit more than the file is said to hold, so that its end is met
  // without growing (and copying) the storage; a file that grew meanwhile is
  // read to its end all the same.
  if (expected > 0) file.storage.resize(static_cast<std::size_t>(expected) / 2 + 1);
  for (;;) {
    if (file.size >= file.storage.size() * 2) file.storage.resize(file.storage.size() + 32768);
    char* at = reinterpret_cast<char*>(file.storage.data()) + file.size;
    const std::size_t room = file.storage.size() * 2 - file.size;
    DWORD read = 0;
    if (!ReadFile(handle.get(), at, static_cast<DWORD>(std::min<std::size_t>(room, 1u << 30)), &read, nullptr) ||
        read == 0) {
      break;
    }
    file.size += read;
  }
  file.storage.resize((file.size + 1) / 2);
  return true;
}

// The first line of 8-bit text holds at most this many of its first bytes
// (the reader takes 261 characters to find the line end; a character comes
// from at most 4 bytes, 8 leave room for any decoder's idea of an invalid
// sequence; a UTF-8 mark goes before).
constexpr std::size_t kFirstLineBytes = 3 + 8 * (CvMessageReader::kLineChars + 2);

// Whether the 8-bit reading could be accepted at all: its first line needs
// "BEGIN", and every ASCII letter of text decoded from 8-bit bytes is the
// same byte in the file. A UTF-16 file never has it as 8-bit text, and is not
// decoded a second time just to fail.
bool MayBeEightBitText(std::span<const std::uint8_t> bytes) {
  const std::string_view head(reinterpret_cast<const char*>(bytes.data()),
                              std::min(bytes.size(), kFirstLineBytes));
  return head.find("BEGIN") != std::string_view::npos;
}

// The file's bytes as 8-bit text (a UTF-8 byte-order mark dropped).
Attempt TextAttempt(std::span<const std::uint8_t> bytes) {
  vel::ByteReader in(bytes);
  if (in.remaining() < 3 || in.U24() != kUtf8Mark) in.Seek(0);
  const std::string_view text = in.Chars(in.remaining());
  const UINT codePage = EightBitCodePage(text);
  return {Decode(text, codePage), codePage};
}

// The file's text as UTF-16 little-endian (a byte-order mark dropped; an odd
// last byte ignored), in place: a view of the file's storage.
std::u16string_view Utf16Text(FileText& file) {
  std::u16string& units = file.storage;
  const std::size_t count = file.size / 2;
  if constexpr (std::endian::native == std::endian::big) {
    for (std::size_t i = 0; i < count; ++i) units[i] = static_cast<char16_t>((units[i] >> 8) | (units[i] << 8));
  }
  std::u16string_view text(units.data(), count);
  if (!text.empty() && text.front() == 0xFEFF) text.remove_prefix(1);
  return text;
}

BSTR Bstr(const std::u16string& s) {
  BSTR b = SysAllocStringLen(s.data(), static_cast<UINT>(s.size()));
  if (!b) throw std::bad_alloc();
  return b;
}

int StatusNumber(const std::u16string& status) {
  if (status == u"READ") return 0;
  if (status == u"UNREAD") return 1;
  if (status == u"SENT") return 2;
  if (status == u"UNSENT") return 3;
  return 0;
}

void Fill(vMessageRecord& r, const CvMessageReader& reader) {
  r.status = StatusNumber(reader.Status());
  r.recipientCount = reader.RecipientCount();
  r.date = 0;
  if (!reader.DateText().empty()) {
    DATE d = 0;
    if (SUCCEEDED(VarDateFromStr(reader.DateText().c_str(), kUserDefaultLocale, 0, &d))) r.date = d;
  }
  r.body = Bstr(reader.Body());
  r.senderNumber = Bstr(reader.SenderNumber());
  r.senderName = Bstr(reader.SenderName());
  r.recipientNumbers = Bstr(reader.RecipientNumbers());
  r.recipientNames = Bstr(reader.RecipientNames());
  r.dateText = Bstr(reader.DateText());
}

}  // namespace

int ReadvMessage(const char16_t* path, unsigned bits, vMessageRecord** record) noexcept {
  if (!record) return kvMessageNotAccepted;
  *record = nullptr;
  if (!path) return kvMessageFileMissing;
  const DWORD attributes = GetFileAttributesW(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) return kvMessageFileMissing;
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return kvMessageFileUnreadable;

  vel::vmessage::UniqueRecord r(static_cast<vMessageRecord*>(CoTaskMemAlloc(sizeof(vMessageRecord))));
  if (!r) return E_OUTOFMEMORY;
  *r.get() = vMessageRecord{};
  try {
    FileText file;
    if (!ReadFileText(path, file)) return kvMessageOpenFailed;
    if (MayBeEightBitText(file.bytes())) {
      const Attempt a = TextAttempt(file.bytes());
      CvMessageReader reader(a.text, bits, a.codePage);
      if (reader.ReadMessage()) {
        Fill(*r.get(), reader);
        *record = r.release();
        return 0;
      }
    }
    // Last: the storage may be turned into this host's byte order.
    CvMessageReader reader(Utf16Text(file), bits, CP_UTF8);
    if (reader.ReadMessage()) {
      Fill(*r.get(), reader);
      *record = r.release();
      return 0;
    }
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
  }
  return kvMessageNotAccepted;
}
