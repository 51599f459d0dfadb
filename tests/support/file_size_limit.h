// A file size limit for the length of a scope, so that writes past it fail as on a full disk
// (EFBIG, with SIGXFSZ ignored) instead of ending the test process.
#pragma once
#include <sys/resource.h>

#include <csignal>

namespace velloc::testing {

class FileSizeLimit {
  public:
    explicit FileSizeLimit(rlim_t bytes) {
        ok_ = ::getrlimit(RLIMIT_FSIZE, &old_) == 0;
        handler_ = std::signal(SIGXFSZ, SIG_IGN);
        rlimit small = old_;
        small.rlim_cur = bytes;
        ok_ = ok_ && ::setrlimit(RLIMIT_FSIZE, &small) == 0;
    }
    ~FileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &old_);
        std::signal(SIGXFSZ, handler_);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;
    bool ok() const { return ok_; } // the limit is in force

  private:
    rlimit old_{};
    void (*handler_)(int) = SIG_DFL;
    bool ok_ = false;
};

} // namespace velloc::testing
