// CYStringHelper: splitting and joining strings, and conversion between wide
// (UTF-16) text and byte text in a Windows code page.
//
//   auto parts = CYStringHelper::TokenizeString(u"|a||b|", u"|");   // {"a", "b"}
//   std::u16string s = CYStringHelper::MultiByteToString(bytes, 0, CP_UTF8);
//
// Thread safety: stateless; any thread.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "platform/com/types.h"

class CYBuf;

class CYStringHelper {
 public:
  // Every character of delimiters separates tokens; runs count as one and no
  // token is empty. An empty text gives no tokens; null or empty delimiters 1010.
  static std::vector<std::u16string> TokenizeString(std::u16string_view text, const char16_t* delimiters);
  // The strings with separator between neighbours.
  static std::u16string UnTokenizeString(const std::vector<std::u16string>& strings, std::u16string_view separator);

  // length 0: the bytes up to their terminating zero. Invalid byte sequences
  // give "" (no error); a conversion failing otherwise raises the system error.
  static std::u16string MultiByteToString(const char* bytes, std::size_t length, UINT codePage);
  // The whole content of buffer, converted as above (locked while read).
  static std::u16string MultiByteToString(CYBuf& buffer, UINT codePage);
  // buffer is allocated to exactly the converted bytes, without terminator.
  static void StringToMultiByte(std::u16string_view text, CYBuf& buffer, UINT codePage);

  static std::u16string IntToString(int value);
  static std::u16string& AppendInt(std::u16string& text, int value);
  // "\r\n", then a lone "\r", become "\n"; every "\n" then becomes newline.
  static std::u16string ConvertNewlinesTo(std::u16string_view text, std::u16string_view newline);
  // %NAME% references expanded from the process environment. An expansion
  // that would exceed 32,768 characters raises the system error.
  static std::u16string ExpandEnvironment(std::u16string_view text);
};
