// CYSystem: naming of kernel objects and the operating system's language.
//
// Thread safety: pure functions; any thread. GetOSLanguage reads the system
// locale on every call, so it follows changes of the process's locale.
#pragma once

#include <string>
#include <string_view>

class CYSystem {
 public:
  // A kernel object name derived from any text (a file path, say): letters
  // and digits in upper case, every other character "_", at most 260
  // characters (the last ones kept); with bGlobal, at most 253 behind the
  // "Global\" prefix, so every process of the machine finds the same object.
  // Letters are those of ASCII and Latin-1, so the name never depends on the
  // process's locale: two processes must derive the same name from one path.
  static std::u16string MakeKernelObjectName(std::u16string_view name, bool bGlobal);

  // The two-letter ISO 639 name of the system default locale's language
  // ("de"), trimmed of white space. When the locale cannot tell (a language
  // whose name is longer than two letters among them: the buffer holds two
  // and the terminator), the system text of the error is logged at level 2
  // and the result is empty.
  static std::u16string GetOSLanguage();
};
