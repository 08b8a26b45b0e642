// A second process for the named-mutex tests: it holds, contends for or
// abandons a "Global\" mutex as the test asks.
//   loop NAME FILE N   N times: take the mutex, append "S pid" and "E pid" to FILE, release
//   hold NAME READY    take the mutex, create READY, and end without releasing it
//   try NAME MS        exit 0 acquired, 1 timed out, 2 abandoned, 3 failed
//   exists NAME        exit 0 when the mutex already existed, 1 when this process created it
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/text.h"
#include "platform/win32/winbase.h"

namespace {

void Append(int fd, const char* what) {
  char line[64];
  int n = std::snprintf(line, sizeof line, "%s %d\n", what, static_cast<int>(getpid()));
  if (write(fd, line, static_cast<size_t>(n)) != n) _exit(4);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return 3;
  const std::string mode = argv[1];
  const std::u16string name = vel::FromUtf8(argv[2]);
  HANDLE m = CreateMutexW(nullptr, FALSE, name.c_str());
  if (!m) return 3;
  if (mode == "exists") return GetLastError() == static_cast<DWORD>(ERROR_ALREADY_EXISTS) ? 0 : 1;
  if (mode == "loop" && argc == 5) {
    int fd = open(argv[3], O_WRONLY | O_APPEND | O_CREAT, 0644);
    for (int i = 0, n = std::atoi(argv[4]); i < n; ++i) {
      DWORD w = WaitForSingleObject(m, INFINITE);
      if (w != WAIT_OBJECT_0) return 3;
      Append(fd, "S");
      usleep(100);
      Append(fd, "E");
      if (!ReleaseMutex(m)) return 3;
    }
    return 0;
  }
  if (mode == "hold" && argc == 4) {
    if (WaitForSingleObject(m, INFINITE) != WAIT_OBJECT_0) return 3;
    close(open(argv[3], O_WRONLY | O_CREAT, 0644));
    _exit(0);
  }
  if (mode == "try" && argc == 4) {
    switch (WaitForSingleObject(m, static_cast<DWORD>(std::atoi(argv[3])))) {
      case WAIT_OBJECT_0:
        return 0;
      case static_cast<DWORD>(WAIT_TIMEOUT):
        return 1;
      case WAIT_ABANDONED:
        return 2;
      default:
        return 3;
    }
  }
  return 3;
}
