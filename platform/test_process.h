// For tests: runs a program built beside the test binaries ($VEL_TEST_BIN) as
// a second process, which inherits the environment (VEL_REGISTRY,
// VEL_MUTEX_DIR, TMPDIR) the test has set.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

// The process id, or -1 when it could not be started.
inline pid_t SpawnTestProgram(const std::string& name, std::vector<std::string> args) {
  const char* bin = std::getenv("VEL_TEST_BIN");
  const std::string exe = std::string(bin != nullptr ? bin : ".") + "/" + name;
  args.insert(args.begin(), exe);
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    execv(exe.c_str(), argv.data());
    _exit(127);
  }
  return pid;
}

// The program's exit status, or -1 when it did not exit normally.
inline int WaitTestProgram(pid_t pid) {
  int status = 0;
  if (pid <= 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}
