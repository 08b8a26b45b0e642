// Programs from outside the build that peer tests compare against (ffmpeg,
// ffprobe, exiftool ...): whether they are there, and running them quietly.
//
// Thread safety: plain functions; any thread.
#pragma once

#include <filesystem>
#include <string>

namespace vel::testing {

// Whether a program is on the PATH.
bool HaveTool(const std::string& tool);

bool HaveFfmpeg();
// Runs ffmpeg with args (quiet, overwriting); true when it succeeded.
bool RunFfmpeg(const std::string& args);
// The format tags ffprobe sees in a file, as "key=value" lines.
std::string ProbeTags(const std::filesystem::path& file);
// Whether ffmpeg decodes the whole file without an error.
bool DecodesCleanly(const std::filesystem::path& file);

}  // namespace vel::testing
