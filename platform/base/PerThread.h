// vel::PerThread<T>::Get(): this thread's own T, made on first use and
// destroyed when the thread ends; null when none can be had (no memory, no
// key left), which callers of a cache treat as "nothing kept".
//
// Kept under a POSIX key, not in C++ thread-local storage. The thread-local
// storage of a library loaded with dlopen is placed on its first use in the
// process, under a lock the dynamic loader holds through every load; and a
// thread_local with a destructor is registered under the loader's lock on
// each thread's first use. Either way a first use would wait for any library
// another thread is loading at that moment (the media libraries take tens of
// milliseconds). A key's values and its destructor need no such lock.
//
// A T with a destructor is destroyed from the key, so that code must stay
// loaded while threads that used it live: use such a T only in libraries that
// are never unloaded (linked with -z nodelete). A trivially destructible T is
// freed with the C library's free, so it may live in a library that is
// unloaded: its key is deleted with the library (the values of threads still
// running then are left).
//
// T names the use: one T, one slot per thread.
#pragma once

#include <pthread.h>

#include <cstddef>
#include <cstdlib>
#include <new>
#include <type_traits>

namespace vel {

template <class T>
class PerThread {
  static constexpr bool kFreed = std::is_trivially_destructible_v<T>;
  static_assert(alignof(T) <= alignof(std::max_align_t), "made with the C library's allocator");

 public:
  static T* Get() noexcept {
    static Key key;
    if (!key.ok) return nullptr;
    if (void* mine = pthread_getspecific(key.key)) return static_cast<T*>(mine);
    void* memory = kFreed ? std::malloc(sizeof(T)) : ::operator new(sizeof(T), std::nothrow);
    if (memory == nullptr) return nullptr;
    T* made = new (memory) T();
    if (pthread_setspecific(key.key, made) != 0) {
      Destroy(made);
      return nullptr;
    }
    return made;
  }

 private:
  struct Key {
    // A freed T's destructor is the C library's own, never code of the
    // library that may be unloaded.
    Key() noexcept : ok(pthread_key_create(&key, kFreed ? &::free : &Destroy) == 0) {}
    ~Key() {
      if constexpr (kFreed) {
        if (ok) pthread_key_delete(key);
        ok = false;
      }
    }
    pthread_key_t key{};
    bool ok;
  };
  // Runs on the ending thread itself (a T with a destructor), or where Get failed.
  static void Destroy(void* object) noexcept {
    if constexpr (kFreed) {
      std::free(object);
    } else {
      delete static_cast<T*>(object);
    }
  }
};

}  // namespace vel
