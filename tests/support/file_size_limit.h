// A full disk for tests of failed saves: while a FileSizeLimit lives, no
// file of this process grows past the given size (a write beyond it fails
// with EFBIG; SIGXFSZ is ignored meanwhile).
#pragma once
#include <sys/resource.h>

#include <csignal>

namespace vltest {

class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    getrlimit(RLIMIT_FSIZE, &old_);
    rlimit limit = old_;
    limit.rlim_cur = bytes;
    handler_ = std::signal(SIGXFSZ, SIG_IGN);
    setrlimit(RLIMIT_FSIZE, &limit);
  }
  ~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &old_);
    std::signal(SIGXFSZ, handler_);
  }
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;

 private:
  rlimit old_{};
  void (*handler_)(int) = nullptr;
};

}  // namespace vltest
