// The fixture the CLI tests share: a fresh registry store and folder
// (TempStore) whose warnings go to a file log of the test's own instead of the
// system log, and velitems of this build run in that folder as a person would.
//
// Thread safety: as TempStore.
#pragma once

#include <string>

#include "platform/text.h"
#include "testing/ChildProcess.h"
#include "testing/FileBytes.h"
#include "testing/TempStore.h"
#include "testing/Tools.h"

namespace vel::testing {

using Result = ProcessResult;

class CliTest : public TempStore {
 protected:
  void SetUp() override {
    TempStore::SetUp();
    HKEY logging = Create(u"Software\\Zandor\\Logging\\Zandor software");
    SetDword(logging, u"EventLogLevel", 0);
    SetDword(logging, u"FileLogLevel", 2);
    SetString(logging, u"File", vel::FromUtf8(dir_ + "/log.txt"));
    RegCloseKey(logging);
  }
  // Runs `velitems ARGS` (shell-quoted by the caller).
  Result Velitems(const std::string& args) { return RunCaptured("velitems", args, dir_); }
  // What the runs so far logged (warnings and worse).
  std::string Log() { return ReadText(dir_ + "/log.txt"); }
};

}  // namespace vel::testing
