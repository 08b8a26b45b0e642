// A library that keeps per-thread objects, as the module and the Windows
// Media runtime do, for the test of a thread's first use while another
// library is being loaded. Loaded with dlopen, so any C++ thread-local
// storage it had would be made on a thread's first use.
#include <string>

#include "platform/base/PerThread.h"
#include "platform/com/comobject.h"

namespace {

struct WithDestructor {
  std::string owned;
};

struct PlainTable {
  int entries[64];
  int count = 0;
};

vel::com::LockCount g_locks;

}  // namespace

// 1 when this thread has its own objects of both kinds and the lock count
// counted an object made and released here.
extern "C" [[gnu::visibility("default")]] int VelUsePerThread() {
  WithDestructor* object = vel::PerThread<WithDestructor>::Get();
  PlainTable* table = vel::PerThread<PlainTable>::Get();
  if (object == nullptr || table == nullptr) return 0;
  ++table->count;
  g_locks.Add();
  const bool counted = !g_locks.None();
  g_locks.Remove();
  return counted && g_locks.None() ? 1 : 0;
}
