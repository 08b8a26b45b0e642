// Runs the velitems binary of this build as a person would, for the CLI tests.
#pragma once

#include <stdio.h>
#include <sys/wait.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

struct VelitemsResult {
  int status;  // exit status, -1 when it did not exit normally
  std::string out;
  std::string err;
};

// Runs `velitems ARGS` (shell-quoted by the caller) from $VEL_TEST_BIN; its
// standard error goes through a file in `dir`.
inline VelitemsResult RunVelitems(const std::string& args, const std::string& dir) {
  const char* bin = std::getenv("VEL_TEST_BIN");
  const std::string errFile = dir + "/stderr.txt";
  const std::string command = std::string(bin != nullptr ? bin : ".") + "/velitems " + args + " 2>" + errFile;
  VelitemsResult r{-1, "", ""};
  FILE* p = popen(command.c_str(), "r");
  if (p == nullptr) return r;
  char buf[4096];
  std::size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
  const int status = pclose(p);
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  std::ifstream e(errFile);
  std::stringstream s;
  s << e.rdbuf();
  r.err = s.str();
  return r;
}
