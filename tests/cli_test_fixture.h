// The fixture the CLI tests share: a fresh registry store and folder
// (TempStore) whose warnings go to a file log of the test's own instead of the
// system log, velitems run in that folder, and small file helpers.
#pragma once

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/registry/test_store_fixture.h"
#include "platform/text.h"
#include "tests/velitems_process.h"

using Result = VelitemsResult;

inline void WriteText(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

inline std::string ReadText(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

// Whether a program (a peer such as ffmpeg or exiftool) is on the PATH.
inline bool HaveTool(const std::string& tool) {
  return std::system(("command -v " + tool + " >/dev/null 2>&1").c_str()) == 0;
}

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
  Result Velitems(const std::string& args) { return RunVelitems(args, dir_); }
  // What the runs so far logged (warnings and worse).
  std::string Log() { return ReadText(dir_ + "/log.txt"); }
};
