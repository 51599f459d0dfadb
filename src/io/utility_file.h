// Utility files: sequential files of fixed-length records, held in memory and spilled to a
// temporary folder past a size threshold, so a BY group larger than memory still runs.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace velloc::host {

// Result codes of the utility files and the sort. Each is also the number of its message in
// group kGroupHostRun, so xprrlog can report it.
enum UtilStatus : int {
    kUtilOk = 0,
    kUtilIoError = 301,     // a read or write of the temporary file failed
    kUtilDiskFull = 302,    // no space left in the temporary folder
    kUtilBadPosition = 303, // point() outside -2, 0 .. count + 1
    kUtilNoRecordLength = 304,
    kUtilNotEmpty = 305, // record length changed while the file holds records
    kUtilNoMemory = 306,
    kUtilBadKey = 307,     // sort key outside the record, or a bad key count
    kUtilTempCreate = 308, // the temporary file could not be created
    kUtilSameFile = 309,   // sort source and target are the same file
};

struct SortKey;

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

    // Empties the file and hands its memory to the next file that grows from empty (this one
    // included): for a file that no phase reads again. point(-2) keeps the memory instead.
    // Either way a spilled file's temporary file is kept open for the next file that spills.
    void release();
    // Frees the memory released files left for others and closes the temporary files that
    // emptied spilled files kept for the next spill (when a step ends).
    static void releasePool();
    // Closes only the temporary files that emptied spilled files kept: before a phase that
    // writes many fresh pages of its own (the output data set), so that it takes the pages just
    // freed instead of pages the system must first provide.
    static void releaseRecycledFiles();

    // 0 rewinds, -2 empties, k >= 1 positions before record k (1-based) for the next read or
    // write; k = count() + 1 positions at the end. Non-zero for any other position, and when
    // a rewind of a spilled file fails to write the records it held back.
    int point(std::int64_t position);
    // Reads the next record into buf; false at the end of the file or on an I/O failure
    // (lastError() tells them apart).
    bool read(void* buf);
    // The next record where it lies, without read()'s copy: in memory, or in the read window
    // of a spilled file. Valid until the next call on the file; nullptr where read() would
    // return false.
    const void* next();
    // Copies records first .. first + n - 1 (0-based) into buf without moving the position, so
    // that several threads can each read a part of the file at once: any number may call it
    // while nothing writes the file and its writes have gone out (a rewind sends them).
    // Non-zero on a fault, which goes to the calling thread's fault handler (one at a time),
    // or for records outside the file.
    int readRecordsAt(std::int64_t first, std::int64_t n, void* buf) const;
    // Appends a record when positioned at the end; otherwise overwrites the record at the
    // position (a rewind followed by writes rewrites the file in place). Non-zero on failure.
    int write(const void* buf);
    // Appends n records to a file held in memory and positioned at its end, and returns where
    // they go: the caller fills them (from any number of threads) before its next call on the
    // file. nullptr when the file is on disk or the records would pass the spill threshold
    // (nothing appended: write them one by one), or on a fault (lastError() set; the block
    // counts as one write).
    char* appendInPlace(std::int64_t n);
    // The file is about to receive about n records: when they would pass the spill threshold
    // an empty file goes to disk at once instead of filling the threshold's worth of fresh
    // memory first only to write it out. Non-zero on failure (as a spill's).
    int expectRecords(std::int64_t n);
    std::int64_t count() const;    // records in the file
    std::int64_t position() const; // 1-based number of the next record to read or write
    int lastError() const;         // code of the last failure, 0 if none since emptied

    // Spill threshold in bytes (applies to files created afterwards and to growth of
    // existing ones); tests set it small to force spilling.
    static void setSpillThreshold(std::size_t bytes);
    static std::size_t spillThreshold();
    static void setTempDir(std::string dir); // default: $TMPDIR or /tmp
    static std::string tempDir();
    bool spilled() const;

    // Exchanges everything but the names with other: records, record length, position,
    // last error and storage (memory or temporary file).
    void swapRecords(UtilFile& other) noexcept;

    // Called with the code of every I/O fault (read or write error, full disk, no memory, no
    // temporary file) once its details are recorded; the procedure installs one that ends
    // the step, so no caller can go on with partial data. nullptr: the code is only returned.
    using FaultHandler = void (*)(int code);
    static void setFaultHandler(FaultHandler handler);

    // Test hook: the nth read (or write) of any utility file from now on, counted only while
    // the named phase runs (any phase when empty), fails as an I/O error of the file would.
    enum class FaultOp { Read, Write };
    static void injectFault(FaultOp op, std::string phase, std::int64_t nth = 1);
    static void clearInjectedFault();

    // The records back to back when held in memory, else nullptr: a reader can skip the copy
    // of read(). Valid until the next write, point(-2) or spill.
    const char* memoryData() const;
    // The same for a phase that rewrites fields of records where they lie (no read or write of
    // the file takes part, so no injected fault either). Valid as memoryData() is.
    char* memoryDataForUpdate();

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// The next record of f as doubles, for a reader that only reads it: where it lies (next())
// when a record is a whole number of doubles, so aligned, else read into buf, which holds at
// least f.recordBytes(). nullptr where read() would return false. Valid until the next call on f.
inline const double* nextDoubles(UtilFile& f, double* buf) {
    if (f.recordBytes() % sizeof(double) == 0) return static_cast<const double*>(f.next());
    return f.read(buf) ? buf : nullptr;
}

// Rewrites the records of f in order through fn(rec), which changes fields of *rec and returns
// false to stop (before changing that record): where they lie when f is in memory and its
// records are whole doubles, else each read, changed and written back. Non-zero on a fault.
template <class Fn> int updateRecords(UtilFile& f, Fn&& fn) {
    const std::size_t bytes = f.recordBytes();
    const std::int64_t n = f.count();
    if (char* mem = bytes % sizeof(double) == 0 ? f.memoryDataForUpdate() : nullptr) {
        for (std::int64_t k = 0; k < n; ++k)
            if (!fn(reinterpret_cast<double*>(mem + static_cast<std::size_t>(k) * bytes))) break;
        return kUtilOk;
    }
    std::vector<double> buf(bytes / sizeof(double) + 1);
    for (std::int64_t k = 1; k <= n; ++k) {
        if (int rc = f.point(k)) return rc;
        if (!f.read(buf.data())) return f.lastError() ? f.lastError() : kUtilIoError;
        if (!fn(buf.data())) break;
        if (int rc = f.point(k)) return rc;
        if (int rc = f.write(buf.data())) return rc;
    }
    return kUtilOk;
}

struct SortKey {
    int offset; // position of the 8-byte double key, in doubles from the record start
    bool descending;
};

// Stable sort of src's records into dst (emptied first, given src's record length) by the keys
// in order. In memory when the data fit under the spill threshold, else by merging sorted runs
// from disk. NaN keys sort as the smallest values (the largest when descending); -0 and +0 tie.
// src is left intact; both files are left rewound. Returns 0 or a UtilStatus code for the
// caller to report with xprrlog.
int zsort(UtilFile& src, UtilFile& dst, const SortKey* keys, int nkeys);

// zsort's order for a file on disk, written back into the file itself: its records go into
// sorted runs in a temporary file and are merged over the file's own temporary file, so the
// sort needs one temporary file's worth of disk and page cache, not two. scratch takes the
// records when they only need turning round (see turnReversed) and then trades them with file;
// otherwise it is left as it was. Both are left rewound. 0 or a UtilStatus code; on a fault
// file's records are lost (a fault ends the step).
int sortSpilledInPlace(UtilFile& file, UtilFile& scratch, const SortKey* keys, int nkeys);

// The sort of records already in the reverse of the keys' order, without sorting: when src's
// records run against the first key (each next one before it in the keys' order), records
// that tie in it being in the order of the others, writes into dst (emptied first, given src's
// record length) the tie groups of the first key from the last to the first, each in its own
// order, which is what zsort gives; zsort tries this first. A file on disk is read twice (the
// check, then from the end in blocks) and each tie group is held while it is turned. Returns
// false, having written nothing, when src is not in that order, or is on disk with a tie
// group larger than a quarter of the spill threshold; else true, with rc the utility-file
// status. Both are left rewound.
bool turnReversed(UtilFile& src, UtilFile& dst, const SortKey* keys, int nkeys, int& rc);

// turnReversed for a file on disk, written back into the file itself: the whole file reversed,
// then each tie group of the first key put back in its own order, a few MiB at a time, so that
// no second file's worth of disk and page cache is needed. A file with a tie group too long for
// that is turned into scratch, which then trades records with file. Returns false (nothing
// written) when file is in memory or not in that order; else true, with rc the status. On a
// fault the file's records are lost (a fault ends the step). Both are left rewound.
bool turnReversedInPlace(UtilFile& file, UtilFile& scratch, const SortKey* keys, int nkeys,
                         int& rc);

// Logs the error text of a utility-file or sort result code, with the details (file, record,
// system error) of the most recent failure of that code.
void xprrlog(int code);

} // namespace velloc::host
