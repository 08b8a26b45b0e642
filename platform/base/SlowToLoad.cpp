// A library that takes as long to load as its loader wants: the resolver of
// its one function (an indirect function, resolved while the library is
// relocated, under the dynamic loader's lock) reads a byte from descriptor
// kGate when that is open, so the load ends when the test writes to it.
//
// The resolver runs before the library's own calls into the C library are
// bound, so it makes its one system call itself.

namespace {

constexpr long kGate = 1000;

int Loaded() { return 1; }

bool g_waited = false;  // the loader may resolve the function more than once

using LoadedFn = int (*)();

}  // namespace

extern "C" {

static LoadedFn ResolveVelSlowToLoad() {
#if defined(__x86_64__)
  if (g_waited) return &Loaded;
  g_waited = true;
  char byte = 0;
  long result;
  asm volatile("syscall"
               : "=a"(result)
               : "a"(0L /* read */), "D"(kGate), "S"(&byte), "d"(1L)
               : "rcx", "r11", "memory");
  (void)result;  // no such descriptor: no wait
#endif
  return &Loaded;
}

[[gnu::visibility("default")]] int VelSlowToLoad() __attribute__((ifunc("ResolveVelSlowToLoad")));

// A reference the loader must resolve while it relocates the library.
[[gnu::used, gnu::visibility("default")]] int (*volatile g_velSlowToLoad)() = &VelSlowToLoad;

}  // extern "C"
