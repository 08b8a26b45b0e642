// Second processes for tests: programs built beside the test binaries
// (TestBinDir()) run as children that inherit the environment the test has set
// (VEL_REGISTRY, VEL_MUTEX_DIR, TMPDIR), either started and waited for
// separately, or run to the end with their output captured.
//
// Thread safety: plain functions; any thread, each child waited for once.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace vel::testing {

// Starts TestBinDir()/name with args. The process id, or -1 when it could not
// be started.
pid_t SpawnChild(const std::string& name, std::vector<std::string> args);

// The child's exit status, or -1 when it did not exit normally.
int WaitChild(pid_t pid);

struct ProcessResult {
  int status;  // exit status, -1 when it did not exit normally
  std::string out;
  std::string err;
};

// Runs a shell command to its end; out is its standard output, err stays empty.
ProcessResult RunCommand(const std::string& command);

// Runs `TestBinDir()/name ARGS` through the shell (args quoted by the caller);
// its standard error goes through the file stderr.txt in `dir`.
ProcessResult RunCaptured(const std::string& name, const std::string& args, const std::string& dir);

}  // namespace vel::testing
