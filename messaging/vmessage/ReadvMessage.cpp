#include "messaging/vmessage/ReadvMessage.h"

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
#include "platform/win32/crtio.h"
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

// The file's bytes as 8-bit text (a UTF-8 byte-order mark dropped).
Attempt TextAttempt(std::span<const std::uint8_t> bytes) {
  vel::ByteReader in(bytes);
  if (in.remaining() < 3 || in.U24() != kUtf8Mark) in.Seek(0);
  const std::string_view text = in.Chars(in.remaining());
  const UINT codePage = EightBitCodePage(text);
  return {Decode(text, codePage), codePage};
}

// The file's bytes as UTF-16 little-endian (a byte-order mark dropped; an odd
// last byte ignored).
Attempt Utf16Attempt(std::span<const std::uint8_t> bytes) {
  vel::ByteReader in(bytes, vel::ByteOrder::kLittle);
  std::u16string text;
  text.reserve(bytes.size() / 2);
  while (in.remaining() >= 2) text.push_back(static_cast<char16_t>(in.U16()));
  if (!text.empty() && text.front() == 0xFEFF) text.erase(0, 1);
  return {std::move(text), CP_UTF8};
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
    const int fd = _wopen(path, _O_RDONLY | _O_BINARY);
    if (fd < 0) return kvMessageOpenFailed;
    std::vector<std::uint8_t> bytes;
    char chunk[65536];
    for (;;) {
      const int n = _read(fd, chunk, sizeof chunk);
      if (n <= 0) break;
      bytes.insert(bytes.end(), chunk, chunk + n);
    }
    _close(fd);

    for (Attempt (*attempt)(std::span<const std::uint8_t>) : {&TextAttempt, &Utf16Attempt}) {
      const Attempt a = attempt(bytes);
      CvMessageReader reader(a.text, bits, a.codePage);
      if (reader.ReadMessage()) {
        Fill(*r.get(), reader);
        *record = r.release();
        return 0;
      }
    }
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
  }
  return kvMessageNotAccepted;
}
