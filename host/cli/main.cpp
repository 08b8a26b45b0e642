// velitems: the command-line host. Dispatches "velitems <command> ..." to the
// command's function.
#include <cstdio>
#include <cstring>
#include <string>

#include "host/cli/com_host.h"
#include "host/cli/commands.h"

namespace velitems {
namespace {

struct Command {
  const char* name;
  int (*run)(const Args& args);
  const char* usage;  // one or more lines, each "velitems <name> ...   what it does"
};

constexpr Command kCommands[] = {
    {"register", RunRegister,
     "velitems register [MODULE.so ...]    register the modules (libVelItems.so, libVelItemPlugins.so and\n"
     "                                     libveldshow.so beside the binary by default)\n"},
    {"unregister", RunUnregister, "velitems unregister [MODULE.so ...]  remove their registration\n"},
    {"mimetypes", RunMimeTypes, "velitems mimetypes                   registered MIME types, one a line, in the factory's order\n"},
    {"plugin", RunPlugin, "velitems plugin FILE | --mime TYPE   the plugin the factory picks (\"Audio\", ...) or \"none\"\n"},
    {"read", RunRead,
     "velitems read [--json] [--all] [-r] [-j N] PATH ...\n"
     "                                     the item of each file (folders with -r, N threads); the\n"
     "                                     table shows the properties that hold a value (--all: every one)\n"},
    {"validate", RunValidate, "velitems validate PATH ...           the validation status, as number and names\n"},
    {"path", RunPath, "velitems path FILE                   the storage folder proposed for the file's item\n"},
    {"write", RunWrite,
     "velitems write FILE NAME[:VT]=VALUE ... [--clear NAME ...]\n"
     "                                     write an item holding exactly these properties\n"},
    {"mms", RunMms, "velitems mms extract [--json] FILE DIR   unpack a message into DIR, one item per part\n"
     "velitems mms compose --title TEXT --from NUMBER --to NUMBER [--to NUMBER ...] --folder DIR FILE...\n"
     "                                       compose a message from FILEs into DIR; prints its path\n"},
    {"picture", RunPicture,
     "velitems picture [--raw] get FILE OUT    write the image embedded in the audio file to OUT\n"
     "velitems picture [--raw] set FILE IMAGE  embed IMAGE as the audio file's front cover\n"
     "velitems picture clear FILE          remove the audio file's picture\n"
     "                                     .wma/.mp3/.wmv/.asf keep an attached-picture body (MIME type,\n"
     "                                     picture type, description, image); get and set deal in the image,\n"
     "                                     --raw in the body itself\n"},
    {"keywords", RunKeywords,
     "velitems keywords get FILE           the image's IPTC keywords, one a line\n"
     "velitems keywords set FILE [KEYWORD ...]\n"
     "                                     replace the image's keywords (none given: remove them all)\n"},
    {"registry", RunRegistry, "velitems registry dump [KEY]         the registry store as text\n"},
};

void PrintUsage(std::FILE* out) {
  std::fputs("usage: velitems <command> [arguments]\n\n", out);
  for (const Command& c : kCommands) std::fputs(c.usage, out);
  std::fputs(
      "\nKEY is a registry path beginning with a root: HKEY_LOCAL_MACHINE (HKLM), HKEY_CURRENT_USER (HKCU),\n"
      "HKEY_CLASSES_ROOT (HKCR), HKEY_USERS (HKU) or HKEY_CURRENT_CONFIG (HKCC).\n"
      "NAME is a property name in urn:zandor:vel:core, or {NAMESPACE}NAME; VT is a VARIANT type such as VT_I4,\n"
      "VT_R8, VT_BOOL, VT_DATE (default VT_BSTR). --clear NAME writes NAME as VT_EMPTY.\n"
      "A failing file or step is reported in one line on standard error; --verbose adds the module's\n"
      "error report (XML), which read --json always carries.\n"
      "Commands that find the module unregistered register it first.\n"
      "\n"
      "velitems help COMMAND                the usage of one command\n"
      "velitems --version                   the version\n"
      "\n"
      "Exit status: 0 all went well; 1 some file or step failed (each failure is reported on standard\n"
      "error and the next file goes on); 2 usage error.\n",
      out);
}

const Command* FindCommand(const std::string& name) {
  for (const Command& c : kCommands) {
    if (name == c.name) return &c;
  }
  return nullptr;
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
  if (name == "--version") {
    std::printf("velitems %s\n", VEL_VERSION);
    return 0;
  }
  if (name == "help" || name == "--help" || name == "-h") {
    if (argc == 2) {
      PrintUsage(stdout);
      return 0;
    }
    const Command* c = FindCommand(argv[2]);
    if (!c) return UsageError("unknown command \"" + std::string(argv[2]) + "\"");
    std::fputs(c->usage, stdout);
    return 0;
  }
  if (const Command* c = FindCommand(name)) {
    Args args;
    for (int i = 2; i < argc; ++i) {
      if (std::strcmp(argv[i], "--verbose") == 0)
        SetVerbose(true);
      else
        args.emplace_back(argv[i]);
    }
    return c->run(args);
  }
  return UsageError("unknown command \"" + name + "\"");
}
