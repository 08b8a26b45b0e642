#include <spawn.h>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "platform/text.h"
#include "platform/win32/winbase.h"

extern char** environ;

namespace {

// Converts with the size query first, as callers do; the last error is
// returned through *error when the conversion fails.
std::u16string ToWide(UINT cp, const std::string& in, DWORD flags = 0, DWORD* error = nullptr) {
  SetLastError(0);
  int n = MultiByteToWideChar(cp, flags, in.data(), static_cast<int>(in.size()), nullptr, 0);
  if (error) *error = GetLastError();
  if (n == 0) return u"<fail>";
  std::u16string out(static_cast<size_t>(n), u'\0');
  EXPECT_EQ(MultiByteToWideChar(cp, flags, in.data(), static_cast<int>(in.size()), out.data(), n), n);
  return out;
}

std::string ToNarrow(UINT cp, const std::u16string& in, const char* defaultChar = nullptr, BOOL* used = nullptr,
                     DWORD flags = 0) {
  int n = WideCharToMultiByte(cp, flags, in.data(), static_cast<int>(in.size()), nullptr, 0, defaultChar, used);
  if (n == 0) return "<fail>";
  std::string out(static_cast<size_t>(n), '\0');
  EXPECT_EQ(WideCharToMultiByte(cp, flags, in.data(), static_cast<int>(in.size()), out.data(), n, defaultChar, used),
            n);
  return out;
}

TEST(CodePages, DecodeTable) {
  struct Row {
    const char* name;
    UINT cp;
    std::string in;
    std::u16string out;
  };
  const Row rows[] = {
      {"1252 euro and e-acute", 1252, "\x80\xE9", u"\u20AC\u00E9"},
      {"1252 undefined byte", 1252, "\x81", u"\u0081"},
      {"ANSI is 1252", CP_ACP, "\x80", u"\u20AC"},
      {"OEM is 437", CP_OEMCP, "\x82\xDB", u"\u00E9\u2588"},
      {"UTF-8", CP_UTF8, "h\xC3\xA9\xF0\x9F\x8E\xB5", u"h\u00E9\U0001F3B5"},
      {"UTF-8 invalid byte", CP_UTF8, "a\xFF" "b", u"a\uFFFDb"},
      {"UTF-8 cut off", CP_UTF8, "a\xE2\x82", u"a\uFFFD"},
      {"UTF-8 surrogate", CP_UTF8, "\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},
      {"UTF-8 embedded zero", CP_UTF8, std::string("a\0b", 3), std::u16string(u"a\0b", 3)},
      {"932 Shift-JIS", 932, "\x93\xFA\x96\x7B\x8C\xEA", u"\u65E5\u672C\u8A9E"},
      {"932 cut-off lead byte", 932, "A\x93", u"A\uFFFD"},
      {"936 GBK", 936, "\xD6\xD0\xCE\xC4", u"\u4E2D\u6587"},
      {"1251 Cyrillic", 1251, "\xCF\xF0\xE8", u"\u041F\u0440\u0438"},
      {"1255 Hebrew, the last letter too", 1255, "\xF9\xEC\xE5\xED", u"\u05E9\u05DC\u05D5\u05DD"},
      {"1258 Vietnamese, the last letter too", 1258, "Vi\xEA", u"Vi\u00EA"},
      {"28605 Latin-9 euro", 28605, "\xA4", u"\u20AC"},
      {"20866 KOI8-R", 20866, "\xF0", u"\u041F"},
      {"50220 ISO-2022-JP", 50220, "\x1B$BF|K\\\x1B(B", u"\u65E5\u672C"},
      {"51932 EUC-JP", 51932, "\xC6\xFC", u"\u65E5"},
      {"54936 GB18030 beyond BMP", 54936, "\x90\x30\x81\x30", u"\U00010000"},
  };
  for (const Row& r : rows) EXPECT_EQ(ToWide(r.cp, r.in), r.out) << r.name;
}

TEST(CodePages, EncodeTableWithDefaultChar) {
  struct Row {
    const char* name;
    UINT cp;
    std::u16string in;
    const char* defaultChar;
    std::string out;
    BOOL used;
  };
  const Row rows[] = {
      {"1252", 1252, u"\u20AC\u00E9", nullptr, "\x80\xE9", FALSE},
      {"1252 unmappable", 1252, u"a\u65E5b", nullptr, "a?b", TRUE},
      {"1252 own default", 1252, u"\u65E5", "#", "#", TRUE},
      {"1252 pair unmappable once", 1252, u"\U0001F3B5", nullptr, "?", TRUE},
      {"1252 lone surrogate", 1252, u"\xD800x", nullptr, "?x", TRUE},
      {"932", 932, u"\u65E5\u672C", nullptr, "\x93\xFA\x96\x7B", FALSE},
      {"50220 shifts back", 50220, u"\u65E5\u672C", nullptr, "\x1B$BF|K\\\x1B(B", FALSE},
  };
  for (const Row& r : rows) {
    BOOL used = 2;
    EXPECT_EQ(ToNarrow(r.cp, r.in, r.defaultChar, &used), r.out) << r.name;
    EXPECT_EQ(used, r.used) << r.name;
  }
  EXPECT_EQ(ToNarrow(CP_UTF8, u"\u00E9\U0001F3B5"), "\xC3\xA9\xF0\x9F\x8E\xB5");
  EXPECT_EQ(ToNarrow(CP_UTF8, u"a\xDC00"), "a\xEF\xBF\xBD");
  EXPECT_EQ(ToNarrow(CP_UTF8, u"ab\u00E9cd\U0001F3B5e\xD800" u"f"), "ab\xC3\xA9" "cd\xF0\x9F\x8E\xB5" "e\xEF\xBF\xBD" "f")
      << "ASCII runs between other characters";
}

TEST(CodePages, SizeQueriesAndTerminators) {
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "abc", -1, nullptr, 0), 4);
  WCHAR wide[4] = {1, 1, 1, 1};
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "abc", -1, wide, 4), 4);
  EXPECT_EQ(std::u16string(wide, 4), std::u16string(u"abc\0", 4));
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "abc", 3, nullptr, 0), 3);
  SetLastError(0);
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "abc", -1, wide, 3), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));

  EXPECT_EQ(WideCharToMultiByte(1252, 0, u"\u20AC", -1, nullptr, 0, nullptr, nullptr), 2);
  char narrow[2];
  SetLastError(0);
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, u"\u20AC", -1, narrow, 2, nullptr, nullptr), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
}

// ASCII text in a code page that keeps ASCII is widened and narrowed without
// a converter: the same characters the converter gives when the text goes
// on past ASCII, and back to the same bytes.
TEST(CodePages, AsciiTextAsTheConverterGivesIt) {
  std::string ascii;
  for (int c = 1; c < 0x80; ++c) ascii += static_cast<char>(c);
  std::u16string wideAscii(ascii.begin(), ascii.end());
  for (UINT cp : {874u, 1250u, 1251u, 1252u, 1253u, 1254u, 1255u, 1256u, 1257u, 1258u, 20127u, 20866u, 21866u,
                  28591u, 28592u, 28595u, 28597u, 28599u, 28605u}) {
    SCOPED_TRACE(cp);
    EXPECT_EQ(ToWide(cp, ascii), wideAscii);
    // One more byte that is not ASCII sends the whole text through the converter.
    const std::u16string longer = ToWide(cp, ascii + "\xE9");
    ASSERT_EQ(longer.size(), wideAscii.size() + 1);
    EXPECT_EQ(longer.substr(0, wideAscii.size()), wideAscii);
    EXPECT_EQ(longer.back(), ToWide(cp, "\xE9").back());
    BOOL used = TRUE;
    EXPECT_EQ(ToNarrow(cp, wideAscii, nullptr, &used), ascii);
    EXPECT_FALSE(used);
  }
}

// Long UTF-8 text is decoded in pieces: characters of every length and
// invalid sequences that fall across a piece's end decode as the whole text
// does, and a strict decode still fails on a fault far from the start.
TEST(CodePages, LongUtf8DecodesAsAWhole) {
  const std::string units[] = {"a", "\xC3\xA9", "\xE2\x82\xAC", "\xF0\x9F\x8E\xB5", "\xE2\x82", "\x80", "\xFF"};
  std::string text;
  for (std::size_t i = 0; text.size() < 300'000; ++i) text += units[(i * 7 + i / 5) % std::size(units)];
  std::u16string whole;
  ASSERT_TRUE(vel::DecodeUtf8(text, false, whole));
  const int n = static_cast<int>(text.size());
  ASSERT_EQ(MultiByteToWideChar(CP_UTF8, 0, text.data(), n, nullptr, 0), static_cast<int>(whole.size()));
  std::u16string out(whole.size(), u'\0');
  ASSERT_EQ(MultiByteToWideChar(CP_UTF8, 0, text.data(), n, out.data(), static_cast<int>(out.size())),
            static_cast<int>(whole.size()));
  EXPECT_TRUE(out == whole);
  SetLastError(0);
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, text.data(), n, out.data(), static_cast<int>(out.size()) - 1), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));

  std::string valid(200'000, 'x');
  valid += "\xE2\x82\xAC";
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, valid.data(), static_cast<int>(valid.size()), nullptr, 0),
            200'001);
  valid += "\xFF";
  SetLastError(0);
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, valid.data(), static_cast<int>(valid.size()), nullptr, 0),
            0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_UNICODE_TRANSLATION));
}

TEST(CodePages, Errors) {
  WCHAR w[8];
  char n[8];
  BOOL used = FALSE;
  struct Row {
    const char* name;
    std::function<int()> call;
    LONG error;
  };
  const Row rows[] = {
      {"strict UTF-8", [&] { return MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, "a\xC0\xAF", 3, w, 8); },
       ERROR_NO_UNICODE_TRANSLATION},
      {"strict 932", [&] { return MultiByteToWideChar(932, MB_ERR_INVALID_CHARS, "\x93", 1, w, 8); },
       ERROR_NO_UNICODE_TRANSLATION},
      {"strict UTF-8 out",
       [&] { return WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, u"\xD800", 1, n, 8, nullptr, nullptr); },
       ERROR_NO_UNICODE_TRANSLATION},
      {"unknown code page in", [&] { return MultiByteToWideChar(12345, 0, "a", 1, w, 8); }, ERROR_INVALID_PARAMETER},
      {"unknown code page out", [&] { return WideCharToMultiByte(12345, 0, u"a", 1, n, 8, nullptr, nullptr); },
       ERROR_INVALID_PARAMETER},
      {"empty input", [&] { return MultiByteToWideChar(1252, 0, "", 0, w, 8); }, ERROR_INVALID_PARAMETER},
      {"UTF-8 with used-default flag", [&] { return WideCharToMultiByte(CP_UTF8, 0, u"a", 1, n, 8, nullptr, &used); },
       ERROR_INVALID_PARAMETER},
      {"UTF-8 with other flags", [&] { return MultiByteToWideChar(CP_UTF8, MB_PRECOMPOSED, "a", 1, w, 8); },
       ERROR_INVALID_FLAGS},
  };
  for (const Row& r : rows) {
    SetLastError(0);
    EXPECT_EQ(r.call(), 0) << r.name;
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(r.error)) << r.name;
  }
  DWORD error = 0;
  EXPECT_EQ(ToWide(1252, "\x81", MB_ERR_INVALID_CHARS, &error), u"\u0081") << "defined by the platform's table";
}

TEST(CodePages, AnsiCodePageFromEnvironment) {
  if (const char* want = std::getenv("VEL_ANSI_CODEPAGE")) {
    EXPECT_EQ(GetACP(), static_cast<UINT>(std::atoi(want)));
    EXPECT_EQ(ToWide(CP_ACP, "\xCF"), u"\u041F");
    return;
  }
  EXPECT_EQ(GetACP(), 1252u);
  std::string self = "/proc/self/exe";
  std::string filter = "--gtest_filter=CodePages.AnsiCodePageFromEnvironment";
  std::vector<std::string> env = {"VEL_ANSI_CODEPAGE=1251"};
  for (char** e = environ; *e; ++e) env.emplace_back(*e);
  std::vector<char*> envp, argv = {self.data(), filter.data(), nullptr};
  for (auto& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  pid_t pid;
  ASSERT_EQ(posix_spawn(&pid, self.c_str(), nullptr, nullptr, argv.data(), envp.data()), 0);
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the run with VEL_ANSI_CODEPAGE=1251 failed";
}

}  // namespace
