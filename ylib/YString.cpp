#include "ylib/YString.h"

#include <climits>
#include <cstring>

#include "platform/win32/winbase.h"
#include "platform/win32/winerror.h"
#include "ylib/YBuf.h"
#include "ylib/YErrorFrame.h"
#include "ylib/YFormat.h"

namespace {

constexpr char16_t kSource[] = u"YString";
constexpr DWORD kMaxExpanded = 32768;

[[noreturn]] void ThrowLastError(const YFrame& frame) {
  DWORD error = GetLastError();
  YThrowWin32(error != 0 ? error : static_cast<DWORD>(ERROR_INVALID_PARAMETER), frame);
}

// The conversion of a byte range, raising only when the conversion proper fails.
std::u16string Convert(const char* bytes, int length, UINT codePage, const YFrame& frame) {
  const int needed = MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, bytes, length, nullptr, 0);
  if (needed <= 0) return {};
  std::u16string text(static_cast<std::size_t>(needed), u'\0');
  const int written = MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, bytes, length, text.data(), needed);
  if (written <= 0) ThrowLastError(frame);
  text.resize(static_cast<std::size_t>(written));
  return text;
}

}  // namespace

std::vector<std::u16string> CYStringHelper::TokenizeString(std::u16string_view text, const char16_t* delimiters) {
  return YErrorFrame(VEL_FRAME(u"CYStringHelper::TokenizeString"), [&](const YFrame& frame) {
    std::vector<std::u16string> tokens;
    if (text.empty()) return tokens;
    if (delimiters == nullptr || *delimiters == 0) YThrow(kYErrInvalidParameter, frame);
    const std::u16string_view separators(delimiters);
    std::size_t start = text.find_first_not_of(separators);
    while (start != std::u16string_view::npos) {
      const std::size_t end = text.find_first_of(separators, start);
      tokens.emplace_back(text.substr(start, end == std::u16string_view::npos ? end : end - start));
      if (end == std::u16string_view::npos) break;
      start = text.find_first_not_of(separators, end);
    }
    return tokens;
  });
}

std::u16string CYStringHelper::UnTokenizeString(const std::vector<std::u16string>& strings,
                                                std::u16string_view separator) {
  return YErrorFrame(VEL_FRAME(u"CYStringHelper::UnTokenizeString"), [&] {
    std::u16string text;
    for (std::size_t i = 0; i < strings.size(); ++i) {
      if (i != 0) text += separator;
      text += strings[i];
    }
    return text;
  });
}

std::u16string CYStringHelper::MultiByteToString(const char* bytes, std::size_t length, UINT codePage) {
  return YErrorFrame(VEL_FRAME(u"CYStringHelper::MultiByteToString"), [&](const YFrame& frame) {
    if (bytes == nullptr) {
      if (length != 0) YThrow(kYErrInvalidParameter, frame);
      return std::u16string();
    }
    if (length == 0) length = std::strlen(bytes);
    if (length == 0) return std::u16string();
    if (length > static_cast<std::size_t>(INT_MAX)) YThrow(kYErrInvalidParameter, frame);
    return Convert(bytes, static_cast<int>(length), codePage, frame);
  });
}

std::u16string CYStringHelper::MultiByteToString(CYBuf& buffer, UINT codePage) {
  return YErrorFrame(VEL_FRAME(u"CYStringHelper::MultiByteToString"), [&](const YFrame& frame) {
    const std::uint64_t size = buffer.GetSize();
    if (size == 0) return std::u16string();
    if (size > static_cast<std::uint64_t>(INT_MAX)) YThrow(kYErrInvalidParameter, frame);
    CYLockHolder hold(buffer);
    return Convert(static_cast<const char*>(buffer.GetBuf()), static_cast<int>(size), codePage, frame);
  });
}

void CYStringHelper::StringToMultiByte(std::u16string_view text, CYBuf& buffer, UINT codePage) {
  YErrorFrame(VEL_FRAME(u"CYStringHelper::StringToMultiByte"), [&](const YFrame& frame) {
    if (text.size() > static_cast<std::size_t>(INT_MAX)) YThrow(kYErrInvalidParameter, frame);
    const int length = static_cast<int>(text.size());
    int needed = 0;
    if (length != 0) {
      needed = WideCharToMultiByte(codePage, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
      if (needed <= 0) ThrowLastError(frame);
    }
    buffer.Alloc(static_cast<std::uint64_t>(needed));
    if (needed == 0) return;
    CYLockHolder hold(buffer);
    const int written =
        WideCharToMultiByte(codePage, 0, text.data(), length, static_cast<char*>(buffer.GetBuf()), needed, nullptr,
                            nullptr);
    if (written != needed) ThrowLastError(frame);
  });
}

std::u16string CYStringHelper::IntToString(int value) { return YFormat(u"%d", value); }

std::u16string& CYStringHelper::AppendInt(std::u16string& text, int value) { return text += IntToString(value); }

std::u16string CYStringHelper::ConvertNewlinesTo(std::u16string_view text, std::u16string_view newline) {
  return YErrorFrame(VEL_FRAME(u"CYStringHelper::ConvertNewlinesTo"), [&] {
    std::u16string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
      const char16_t c = text[i];
      if (c == u'\r') {
        if (i + 1 < text.size() && text[i + 1] == u'\n') ++i;
        out += newline;
      } else if (c == u'\n') {
        out += newline;
      } else {
        out += c;
      }
    }
    return out;
  });
}

std::u16string CYStringHelper::ExpandEnvironment(std::u16string_view text) {
  return YErrorFrame(VEL_FRAME(u"CYStringHelper::ExpandEnvironment"), [&](const YFrame& frame) {
    const std::u16string source(text);
    std::u16string expanded(kMaxExpanded, u'\0');
    const DWORD n = ExpandEnvironmentStringsW(source.c_str(), expanded.data(), kMaxExpanded);
    if (n == 0) ThrowLastError(frame);
    if (n > kMaxExpanded) YThrowWin32(static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER), frame);
    expanded.resize(std::u16string_view(expanded.c_str()).size());
    return expanded;
  });
}
