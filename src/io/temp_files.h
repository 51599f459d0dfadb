// Temporary files and raw positioned I/O behind the utility files and the sort, and the record
// of the last failure that xprrlog reports.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

namespace velloc::host::detail {

// Records the details of a failure for xprrlog and returns code.
int fail(int code, std::string a1 = {}, std::string a2 = {}, std::string a3 = {});

// The details are kept per thread: work split over threads hands a helper thread's failure to
// the thread that reports it.
struct FailureDetails {
    int code = 0;
    std::string a1, a2, a3;
};
FailureDetails lastFailure();
void adoptFailure(const FailureDetails& f);

// The folder for temporary files: setTempDir's choice, else $TMPDIR, else /tmp.
void setTempDir(std::string dir);
std::string tempDir();

// An already unlinked file in the temporary folder, so it disappears with its descriptor even
// if the process dies. Closes on destruction.
class TempFile {
  public:
    TempFile() = default;
    ~TempFile();
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;
    TempFile(TempFile&& o) noexcept : fd_(o.fd_) { o.fd_ = -1; }
    TempFile& operator=(TempFile&& o) noexcept;

    // Creates the file; member names the utility file in messages. Returns 0 or a code.
    int create(const std::string& member);
    // Takes a file recycled earlier when there is one, else creates one: a recycled file's
    // bytes are stale, so the caller reads only what it wrote.
    int createOrReuse(const std::string& member);
    void close();
    // Closes the file into the pool of recycled files instead, for the next create with reuse.
    // Overwriting pages the page cache holds costs a tenth of writing fresh ones on virtual
    // machines that hand freed memory back to the host (0.6-1 GB/s fresh, 11 GB/s reused).
    void recycle();
    // Closes every recycled file (when a step ends), giving their space back.
    static void closeRecycled();
    bool open() const { return fd_ >= 0; }
    // Exactly n bytes at byte offset off; 0 or a code (disk full, I/O error, short file).
    int writeAt(const void* p, std::size_t n, std::uint64_t off, const std::string& member);
    int readAt(void* p, std::size_t n, std::uint64_t off, const std::string& member);

  private:
    int fd_ = -1;
};

} // namespace velloc::host::detail
