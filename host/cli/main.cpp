// velitems: the command-line host. Dispatches "velitems <command> ..." to the
// command's function; more commands join the table below.
#include <cstdio>
#include <cstring>
#include <string>

#include "host/cli/commands.h"

namespace velitems {
namespace {

struct Command {
  const char* name;
  int (*run)(const Args& args);
  const char* usage;  // one or more lines, each "velitems <name> ...   what it does"
};

constexpr Command kCommands[] = {
    {"registry", RunRegistry, "velitems registry dump [KEY]   the registry store as text\n"},
};

void PrintUsage(std::FILE* out) {
  std::fputs("usage: velitems <command> [arguments]\n\n", out);
  for (const Command& c : kCommands) std::fputs(c.usage, out);
  std::fputs(
      "\nKEY is a registry path beginning with a root: HKEY_LOCAL_MACHINE (HKLM), HKEY_CURRENT_USER (HKCU),\n"
      "HKEY_CLASSES_ROOT (HKCR), HKEY_USERS (HKU) or HKEY_CURRENT_CONFIG (HKCC).\n",
      out);
}

}  // namespace

int UsageError(const std::string& why) {
  std::fprintf(stderr, "velitems: %s\n\n", why.c_str());
  PrintUsage(stderr);
  return 2;
}

}  // namespace velitems

int main(int argc, char** argv) {
  using namespace velitems;
  if (argc < 2) return UsageError("no command given");
  const std::string name = argv[1];
  if (name == "help" || name == "--help" || name == "-h") {
    PrintUsage(stdout);
    return 0;
  }
  for (const Command& c : kCommands) {
    if (name == c.name) return c.run(Args(argv + 2, argv + argc));
  }
  return UsageError("unknown command \"" + name + "\"");
}
