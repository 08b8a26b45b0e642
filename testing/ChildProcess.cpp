#include "testing/ChildProcess.h"

#include <stdio.h>
#include <sys/wait.h>
#include <unistd.h>

#include "testing/FileBytes.h"
#include "testing/TempRegistry.h"

namespace vel::testing {

pid_t SpawnChild(const std::string& name, std::vector<std::string> args) {
  const std::string exe = TestBinDir() + "/" + name;
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

int WaitChild(pid_t pid) {
  int status = 0;
  if (pid <= 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

ProcessResult RunCommand(const std::string& command) {
  ProcessResult r{-1, "", ""};
  FILE* p = popen(command.c_str(), "r");
  if (p == nullptr) return r;
  char buf[4096];
  std::size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
  const int status = pclose(p);
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}

ProcessResult RunCaptured(const std::string& name, const std::string& args, const std::string& dir) {
  const std::string errFile = dir + "/stderr.txt";
  ProcessResult r = RunCommand(TestBinDir() + "/" + name + " " + args + " 2>" + errFile);
  r.err = ReadText(errFile);
  return r;
}

}  // namespace vel::testing
