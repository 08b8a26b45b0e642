#include "messaging/vmessage/ReadvMessage.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <new>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "messaging/vmessage/vMessageText.h"
#include "platform/base/ByteOrder.h"
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

// Back to the file's start; false when the file cannot be positioned.
bool Rewind(HANDLE file) {
  LARGE_INTEGER start{};
  return SetFilePointerEx(file, start, nullptr, FILE_BEGIN) != FALSE;
}

// The whole file, from its start, into file's storage; expected is its size
// at the open. false when it cannot be read from its start.
bool ReadFileText(HANDLE handle, std::int64_t expected, FileText& file) {
  if (!Rewind(handle)) return false;
  file = FileText{};
  // A unit more than the file is said to hold, so that its end is met
  // without growing (and copying) the storage; a file that grew meanwhile is
  // read to its end all the same.
  if (expected > 0) file.storage.resize(static_cast<std::size_t>(expected) / 2 + 1);
  for (;;) {
    if (file.size >= file.storage.size() * 2) file.storage.resize(file.storage.size() + 32768);
    char* at = reinterpret_cast<char*>(file.storage.data()) + file.size;
    const std::size_t room = file.storage.size() * 2 - file.size;
    DWORD read = 0;
    if (!ReadFile(handle, at, static_cast<DWORD>(std::min<std::size_t>(room, 1u << 30)), &read, nullptr) ||
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
// decoded a second time just to fail. head: the file's first bytes,
// kFirstLineBytes of them unless it is shorter.
bool MayBeEightBitText(std::string_view head) { return head.find("BEGIN") != std::string_view::npos; }

// The file's first kFirstLineBytes bytes (fewer in a shorter file; none
// when it cannot be read).
std::string ReadHead(HANDLE file) {
  std::string head(kFirstLineBytes, '\0');
  DWORD read = 0;
  if (!Rewind(file) || !ReadFile(file, head.data(), static_cast<DWORD>(head.size()), &read, nullptr)) read = 0;
  head.resize(read);
  return head;
}

bool HasUtf8Mark(std::string_view head) {
  return head.size() >= 3 &&
         vel::LoadU24Unchecked(reinterpret_cast<const std::uint8_t*>(head.data()), vel::ByteOrder::kBig) == kUtf8Mark;
}

// The file's bytes as 8-bit text (a UTF-8 byte-order mark dropped), in the
// code page given or else the one the bytes call for.
Attempt TextAttempt(std::span<const std::uint8_t> bytes, std::optional<UINT> given = std::nullopt) {
  vel::ByteReader in(bytes);
  if (in.remaining() < 3 || in.U24() != kUtf8Mark) in.Seek(0);
  const std::string_view text = in.Chars(in.remaining());
  const UINT codePage = given ? *given : EightBitCodePage(text);
  return {Decode(text, codePage), codePage};
}

bool IsContinuation(char c) noexcept { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

// The file read from its start a piece of pieceBytes at a time, a UTF-8 mark
// at its start left out, and each piece handed to use (never an empty one)
// cut where a UTF-8 sequence starts: the bytes from the last lead byte among
// a piece's last four go to the front of the next piece. Cut there, a valid
// sequence is never split, and every piece of valid UTF-8 is valid UTF-8 and
// decodes as it does within the whole text; a text with an invalid sequence
// has a piece with one. false when a read fails or use answers false.
template <class Use>
bool ForEachUtf8Piece(HANDLE file, bool mark, std::size_t pieceBytes, Use&& use) {
  if (!Rewind(file)) return false;
  constexpr std::size_t kLongestSequence = 4;
  std::vector<char> buffer(pieceBytes + kLongestSequence);
  std::size_t carried = 0;
  bool first = true;
  for (;;) {
    DWORD read = 0;
    if (!ReadFile(file, buffer.data() + carried, static_cast<DWORD>(pieceBytes), &read, nullptr)) return false;
    std::size_t begin = 0;
    if (first && mark) begin = std::min<std::size_t>(3, read);
    first = false;
    const std::size_t end = carried + read;
    std::size_t cut = end;
    if (read > 0) {
      // The file goes on (or ends with the next read): keep the last
      // sequence's start for the next piece.
      for (std::size_t back = 1; back <= kLongestSequence && end - back > begin; ++back) {
        if (!IsContinuation(buffer[end - back])) {
          cut = end - back;
          break;
        }
      }
    }
    if (cut > begin && !use(std::string_view(buffer.data() + begin, cut - begin))) return false;
    if (read == 0) return true;
    std::copy(buffer.begin() + static_cast<std::ptrdiff_t>(cut), buffer.begin() + static_cast<std::ptrdiff_t>(end),
              buffer.begin());
    carried = end - cut;
  }
}

// The 8-bit reading of a file of valid UTF-8, decoded straight from pieces
// of the file into a text sized once, so that the file's bytes are never
// held beside it: a first pass checks the bytes and counts the text, a
// second decodes it. kNotUtf8: some byte sequence is not valid UTF-8 (the
// ANSI code page is then the 8-bit reading's). kNotStreamed: the file could
// not be read in pieces (or changed between the passes, or is too long for
// one text) and is to be read whole.
enum class StreamedUtf8 { kDecoded, kNotUtf8, kNotStreamed };

StreamedUtf8 StreamUtf8Text(HANDLE file, bool mark, std::size_t pieceBytes, std::u16string& text) {
  std::size_t count = 0;
  bool valid = true;
  const bool counted = ForEachUtf8Piece(file, mark, pieceBytes, [&](std::string_view piece) {
    const int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, piece.data(), static_cast<int>(piece.size()),
                                      nullptr, 0);
    valid = n > 0;
    count += valid ? static_cast<std::size_t>(n) : 0;
    return valid && count <= 0x7FFFFFFF;
  });
  if (!valid) return StreamedUtf8::kNotUtf8;
  if (!counted) return StreamedUtf8::kNotStreamed;
  text.assign(count, u'\0');
  std::size_t done = 0;
  const bool decoded = ForEachUtf8Piece(file, mark, pieceBytes, [&](std::string_view piece) {
    if (done == count) return false;  // the file has grown
    const int n = MultiByteToWideChar(CP_UTF8, 0, piece.data(), static_cast<int>(piece.size()), text.data() + done,
                                      static_cast<int>(count - done));
    done += n > 0 ? static_cast<std::size_t>(n) : 0;
    return n > 0;
  });
  if (decoded && done == count) return StreamedUtf8::kDecoded;
  std::u16string().swap(text);
  return StreamedUtf8::kNotStreamed;
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
    std::int64_t expected = 0;
    const vel::UniqueFile handle(vel::OpenFileForReading(path, &expected));
    if (!handle.valid()) return kvMessageOpenFailed;
    const std::string head = ReadHead(handle.get());
    FileText file;  // read whole only when a reading needs it
    bool fileRead = false;
    if (MayBeEightBitText(head)) {
      // The text of UTF-8 is twice the file's size: it is decoded from the
      // file in pieces, never beside a copy of the whole file.
      Attempt a{{}, CP_UTF8};
      const StreamedUtf8 streamed =
          StreamUtf8Text(handle.get(), HasUtf8Mark(head), vel::vmessage::kEightBitPieceBytes, a.text);
      if (streamed != StreamedUtf8::kDecoded) {
        if (!ReadFileText(handle.get(), expected, file)) return kvMessageOpenFailed;
        fileRead = true;
        a = streamed == StreamedUtf8::kNotUtf8 ? TextAttempt(file.bytes(), CP_ACP) : TextAttempt(file.bytes());
      }
      CvMessageReader reader(a.text, bits, a.codePage);
      if (reader.ReadMessage()) {
        Fill(*r.get(), reader);
        *record = r.release();
        return 0;
      }
    }
    if (!fileRead && !ReadFileText(handle.get(), expected, file)) return kvMessageOpenFailed;
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
