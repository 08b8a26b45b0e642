// vel::FileVersion: a file as the file system tells its versions apart. A file
// written or replaced since another was taken has another inode, size, or
// modification or change time. Caches of what was read from a file key on it.
#pragma once

#include <sys/stat.h>

namespace vel {

struct FileVersion {
  dev_t device = 0;
  ino_t inode = 0;
  off_t size = 0;
  timespec modified{};
  timespec changed{};

  static FileVersion Of(const struct stat& info) {
    return {info.st_dev, info.st_ino, info.st_size, info.st_mtim, info.st_ctim};
  }
  bool operator==(const FileVersion& o) const {
    return device == o.device && inode == o.inode && size == o.size && modified.tv_sec == o.modified.tv_sec &&
           modified.tv_nsec == o.modified.tv_nsec && changed.tv_sec == o.changed.tv_sec &&
           changed.tv_nsec == o.changed.tv_nsec;
  }
};

}  // namespace vel
