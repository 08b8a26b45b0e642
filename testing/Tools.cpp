#include "testing/Tools.h"

#include <stdio.h>

#include <cstdio>
#include <cstdlib>

namespace vel::testing {

bool HaveTool(const std::string& tool) {
  return std::system(("command -v " + tool + " >/dev/null 2>&1").c_str()) == 0;
}

bool HaveFfmpeg() { return HaveTool("ffmpeg"); }

bool RunFfmpeg(const std::string& args) {
  return std::system(("ffmpeg -v error -nostdin -y " + args + " >/dev/null 2>&1").c_str()) == 0;
}

std::string ProbeTags(const std::filesystem::path& file) {
  const std::string command = "ffprobe -v error -show_entries format_tags -of default=nw=1:nk=0 '" + file.string() + "'";
  std::string out;
  if (FILE* pipe = popen(command.c_str(), "r")) {
    char buffer[256];
    while (std::fgets(buffer, sizeof buffer, pipe)) out += buffer;
    pclose(pipe);
  }
  return out;
}

bool DecodesCleanly(const std::filesystem::path& file) {
  const std::string command =
      "test -z \"$(ffmpeg -v error -nostdin -i '" + file.string() + "' -f null - 2>&1)\"";
  return std::system(command.c_str()) == 0;
}

}  // namespace vel::testing
