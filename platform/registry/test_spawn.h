// Runs registry_test_helper (beside the test binaries) as a second process.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

inline pid_t SpawnHelper(std::vector<std::string> args) {
  const char* bin = std::getenv("VEL_TEST_BIN");
  std::string exe = std::string(bin != nullptr ? bin : ".") + "/registry_test_helper";
  args.insert(args.begin(), exe);
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = fork();
  if (pid == 0) {
    execv(exe.c_str(), argv.data());
    _exit(127);
  }
  return pid;
}

// The helper's exit status (its Win32 error), or -1 when it died otherwise.
inline int WaitHelper(pid_t pid) {
  int status = 0;
  if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}
