// A second logging process for the sink tests:
//   ylib_log_child TAG COUNT    logs "TAG line N" at level 3 for N = 0 .. COUNT-1
// through the front end with its own sinks and the configuration in $VEL_REGISTRY.
#include <cstdlib>
#include <string>

#include "ylib/YLogging.h"
#include "ylib/YUtf8.h"

int main(int argc, char** argv) {
  if (argc != 3) return 100;
  const std::u16string tag = YUtf8ToUtf16(argv[1]);
  const int count = std::atoi(argv[2]);
  for (int i = 0; i < count; ++i) CYLogging::Log(kYLogInfo, u"%s line %d", tag, i);
  return 0;
}
