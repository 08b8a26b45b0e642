// The commands of velitems. Each takes the arguments after its own name and
// returns the process's exit status: 0 done, 1 failed (message already on
// standard error), 2 bad arguments (through UsageError).
#pragma once

#include <string>
#include <vector>

namespace velitems {

using Args = std::vector<std::string>;

int RunRegister(const Args& args);
int RunUnregister(const Args& args);
int RunMimeTypes(const Args& args);
int RunPlugin(const Args& args);
int RunRead(const Args& args);
int RunValidate(const Args& args);
int RunPath(const Args& args);
int RunWrite(const Args& args);
int RunMms(const Args& args);
int RunPicture(const Args& args);
int RunKeywords(const Args& args);
int RunRegistry(const Args& args);

// Writes "velitems: <why>" and the usage text to standard error; returns 2.
int UsageError(const std::string& why);

}  // namespace velitems
