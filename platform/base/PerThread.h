// vel::PerThread<T>::Get(): this thread's own T, made on first use and
// destroyed when the thread ends; null when none can be had (no memory, no
// key left), which callers of a cache treat as "nothing kept".
//
// Not a C++ thread_local with a destructor: the C library registers such a
// destructor under the dynamic loader's lock, so a thread's first use of one
// waits for any library another thread is loading at that moment (the media
// libraries take tens of milliseconds). A POSIX key's destructor needs no such
// lock. The code must stay loaded while threads that used it live: use it in
// libraries that are never unloaded (linked with -z nodelete).
//
// T names the use: one T, one slot per thread.
#pragma once

#include <pthread.h>

#include <new>

namespace vel {

template <class T>
class PerThread {
 public:
  static T* Get() noexcept {
    if (mine_ != nullptr) return mine_;
    static const Key key;
    if (!key.ok) return nullptr;
    T* made = new (std::nothrow) T();
    if (made == nullptr) return nullptr;
    if (pthread_setspecific(key.key, made) != 0) {
      delete made;
      return nullptr;
    }
    mine_ = made;
    return made;
  }

 private:
  struct Key {
    Key() noexcept : ok(pthread_key_create(&key, &Destroy) == 0) {}
    pthread_key_t key{};
    bool ok;
  };
  // Runs on the ending thread itself.
  static void Destroy(void* object) noexcept {
    mine_ = nullptr;
    delete static_cast<T*>(object);
  }
  static inline thread_local T* mine_ = nullptr;
};

}  // namespace vel
