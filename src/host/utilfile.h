// Utility files: sequential files of fixed-length records, held in memory and spilled to a
// temporary folder past a size threshold, so a BY group larger than memory still runs.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace velloc::host {

class UtilFile {
  public:
    // name: the member name, for messages ("VLCDATA"); recordBytes may be 0 until the first
    // write after setRecordBytes().
    UtilFile(std::string name, std::size_t recordBytes = 0);
    ~UtilFile();
    UtilFile(const UtilFile&) = delete;
    UtilFile& operator=(const UtilFile&) = delete;
    UtilFile(UtilFile&&) noexcept;
    UtilFile& operator=(UtilFile&&) noexcept;

    const std::string& name() const;
    std::size_t recordBytes() const;
    // Changes the record length; only allowed while the file is empty. Returns non-zero if not.
    int setRecordBytes(std::size_t bytes);

    // 0 rewinds, -2 empties, k >= 1 positions before record k (1-based) for the next read.
    int point(std::int64_t position);
    // Reads the next record into buf; false at the end of the file.
    bool read(void* buf);
    // Appends a record when positioned at the end; otherwise overwrites the record at the
    // position (a rewind followed by writes rewrites the file in place). Non-zero on failure.
    int write(const void* buf);
    std::int64_t count() const;     // records in the file
    std::int64_t position() const;  // 1-based number of the next record to read or write

    // Spill threshold in bytes (applies to files created afterwards and to growth of
    // existing ones); tests set it small to force spilling.
    static void setSpillThreshold(std::size_t bytes);
    static std::size_t spillThreshold();
    static void setTempDir(std::string dir); // default: $TMPDIR or /tmp
    bool spilled() const;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

struct SortKey {
    int offset;       // position of the 8-byte double key, in doubles from the record start
    bool descending;
};

// Stable sort of src's records into dst (emptied first) by the keys in order. In memory when
// the data fit under the spill threshold, else by merging sorted runs from disk. NaN keys sort
// as the smallest values. Returns 0, or non-zero after logging an error.
int zsort(UtilFile& src, UtilFile& dst, const SortKey* keys, int nkeys);

} // namespace velloc::host
