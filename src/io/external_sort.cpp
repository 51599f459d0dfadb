// zsort: stable sort of a utility file by 8-byte double keys. Keys are mapped to unsigned
// integers whose order is the wanted order, so every comparison is a plain integer compare.
#include "base/cores.h"
#include "io/sort_keys.h"
#include "io/temp_files.h"
#include "io/utility_file.h"
#include "numeric/radix_sort.h"

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

namespace velloc::host {

using detail::fail;

namespace {

constexpr std::size_t kIoBytes = std::size_t{1} << 20;
// From this many records an in-memory sort gathers them on two cores.
constexpr std::size_t kTwoCoreRecords = std::size_t{1} << 16;

using detail::encode;

template <int N> struct Item {
    std::uint64_t k[N];
    std::uint64_t idx;
};

// Sorts items by their keys in order, equal keys keeping index order (the order items start
// in): a stable radix sort by each key, the last first, on two threads for many items.
template <int N> void sortItems(std::vector<Item<N>>& items) {
    std::vector<Item<N>> spare(items.size());
    for (int j = N - 1; j >= 0; --j)
        if (radixSortTwoThreads(items.data(), spare.data(), items.size(),
                                [j](const Item<N>& it) { return it.k[j]; }) != items.data())
            items.swap(spare);
}

// emit(k, index(k)) for k = from .. to-1, stopping at the first non-zero result, which it
// returns. The records are read in sorted order, far apart in data: each one's cache lines are
// asked for some records ahead, so the copies do not wait on memory one record at a time.
template <class Index, class Emit>
int emitInOrder(const char* data, std::size_t from, std::size_t to, std::size_t rec, Index index,
                Emit& emit) {
    constexpr std::size_t kAhead = 12;
    for (std::size_t k = from; k < to; ++k) {
        if (k + kAhead < to) {
            const char* r = data + index(k + kAhead) * rec;
            for (std::size_t at = 0; at < rec; at += 64)
                __builtin_prefetch(r + at);
            __builtin_prefetch(r + rec - 1);
        }
        if (int rc = emit(k, index(k)); rc != kUtilOk) return rc;
    }
    return kUtilOk;
}

// Each sorter calls finish(index), where index(k) is the position in data of the k-th record
// in sorted order, and returns what finish returns.
template <int N, class Finish>
int sortFixed(const char* data, std::size_t n, std::size_t rec, const SortKey* keys,
              Finish& finish) {
    std::vector<Item<N>> items(n);
    for (std::size_t i = 0; i < n; ++i) {
        const char* r = data + i * rec;
        for (int j = 0; j < N; ++j)
            items[i].k[j] = encode(r, keys[j]);
        items[i].idx = i;
    }
    sortItems(items);
    return finish([&](std::size_t k) { return items[k].idx; });
}

template <class Finish>
int sortGeneral(const char* data, std::size_t n, std::size_t rec, const SortKey* keys, int nkeys,
                Finish& finish) {
    std::size_t m = static_cast<std::size_t>(nkeys);
    std::vector<std::uint64_t> enc(n * m);
    for (std::size_t i = 0; i < n; ++i)
        for (std::size_t j = 0; j < m; ++j)
            enc[i * m + j] = encode(data + i * rec, keys[j]);
    std::vector<std::uint64_t> perm(n);
    for (std::size_t i = 0; i < n; ++i)
        perm[i] = i;
    std::stable_sort(perm.begin(), perm.end(), [&](std::uint64_t a, std::uint64_t b) {
        const std::uint64_t* x = enc.data() + a * m;
        const std::uint64_t* y = enc.data() + b * m;
        for (std::size_t j = 0; j < m; ++j)
            if (x[j] != y[j]) return x[j] < y[j];
        return false;
    });
    return finish([&](std::size_t k) { return perm[k]; });
}

// The sorted order of the records (stable: equal keys keep their order in data), to finish.
template <class Finish>
int withSortedOrder(const char* data, std::size_t n, std::size_t rec, const SortKey* keys,
                    int nkeys, Finish&& finish) {
    switch (nkeys) {
    case 0:
        return finish([](std::size_t k) { return k; });
    case 1:
        return sortFixed<1>(data, n, rec, keys, finish);
    case 2:
        return sortFixed<2>(data, n, rec, keys, finish);
    case 3:
        return sortFixed<3>(data, n, rec, keys, finish);
    default:
        return sortGeneral(data, n, rec, keys, nkeys, finish);
    }
}

// emit(k, i) for the records in sorted order (i = index in data), stopping at the first
// non-zero result, which it returns.
template <class Emit>
int sortRecords(const char* data, std::size_t n, std::size_t rec, const SortKey* keys, int nkeys,
                Emit&& emit) {
    return withSortedOrder(data, n, rec, keys, nkeys,
                           [&](auto index) { return emitInOrder(data, 0, n, rec, index, emit); });
}

// Whether key k strictly increases from each record to the next: the records are then in
// its order with no ties, and a stable sort by the keys before it gives the same order.
bool strictlyIncreasing(const char* data, std::size_t n, std::size_t rec, const SortKey& k) {
    for (std::size_t i = 1; i < n; ++i)
        if (!(encode(data + (i - 1) * rec, k) < encode(data + i * rec, k))) return false;
    return true;
}

// Writes the n records of data in sorted order to the run file from byte fileOff on, through
// 1 MiB buffers; a large run has each half gathered and written by a core of its own (the
// gather waits on memory record by record), each half at its own place in the file, so the
// file is the same either way.
int writeRun(detail::TempFile& runFile, const std::string& name, const char* data, std::size_t n,
             std::size_t rec, const SortKey* keys, int nkeys, std::uint64_t fileOff) {
    const std::size_t bufBytes = std::max(rec, kIoBytes / rec * rec);
    auto part = [&](auto index, std::size_t from, std::size_t to) {
        std::vector<char> out(bufBytes);
        std::size_t used = 0;
        std::uint64_t off = fileOff + from * rec;
        auto emit = [&](std::size_t, std::uint64_t i) {
            if (used + rec > out.size()) {
                if (int e = runFile.writeAt(out.data(), used, off, name); e != kUtilOk) return e;
                off += used;
                used = 0;
            }
            std::memcpy(out.data() + used, data + i * rec, rec);
            used += rec;
            return static_cast<int>(kUtilOk);
        };
        int rc = emitInOrder(data, from, to, rec, index, emit);
        if (rc == kUtilOk && used > 0) rc = runFile.writeAt(out.data(), used, off, name);
        return rc;
    };
    return withSortedOrder(data, n, rec, keys, nkeys, [&](auto index) {
        if (n < kTwoCoreRecords || !twoCores()) return part(index, 0, n);
        int first = kUtilOk, second = kUtilOk;
        detail::FailureDetails secondFailure;
        runBeside([&] { first = part(index, 0, n / 2); },
                  [&] {
                      second = part(index, n / 2, n);
                      if (second != kUtilOk) secondFailure = detail::lastFailure();
                  });
        if (first != kUtilOk) return first;
        if (second != kUtilOk) detail::adoptFailure(secondFailure);
        return second;
    });
}

struct Run {
    std::uint64_t next; // byte offset of the next unread record in the run file
    std::uint64_t end;
    std::size_t bufPos = 0, bufLen = 0;
    char* buf = nullptr;
};

// Sorted runs of at most a quarter of the threshold each, written back to back to one temporary
// file, then merged through a heap that breaks ties by run number: runs hold consecutive
// stretches of the source, so the merge is stable. A run's work area (its records and keys) is
// memory the step must fault in, on virtual machines at a cost near the sort's own: a quarter
// of the threshold halves the peak it adds and keeps the run's gather closer in cache, for a
// merge of four times as many runs that costs less (the sort of 10,000,000 working records
// 2.6 to 2.1 s, of 3,000,000 0.65 to 0.57 s with a peak resident set 240 MB lower). dst may be src
// itself: once the runs hold every record the source is emptied and the merge writes over its
// temporary file, whose pages the page cache already holds, instead of filling a third file's worth
// of fresh ones.
int externalSort(UtilFile& src, UtilFile& dst, const SortKey* keys, int nkeys) {
    const std::string& name = src.name();
    const std::size_t rec = src.recordBytes();
    const std::size_t runRecs = std::max<std::size_t>(1, UtilFile::spillThreshold() / 4 / rec);

    detail::TempFile runFile;
    if (int rc = runFile.createOrReuse(name); rc != kUtilOk) return rc;
    struct Recycle {
        detail::TempFile& f;
        ~Recycle() { f.recycle(); }
    } recycleRuns{runFile};

    std::vector<Run> runs;
    {
        std::uint64_t total = static_cast<std::uint64_t>(src.count());
        std::size_t cap = static_cast<std::size_t>(std::min<std::uint64_t>(runRecs, total));
        std::vector<char> data(cap * rec);
        std::uint64_t fileOff = 0;
        src.point(0);
        for (;;) {
            std::size_t n = 0;
            while (n < cap && src.read(data.data() + n * rec))
                ++n;
            // A short run before the end means the read failed.
            if (n < cap && src.position() <= src.count()) return src.lastError();
            if (n == 0) break;
            Run r;
            r.next = fileOff;
            // Within a run, as in a sort in memory, a last key the records follow strictly
            // (the observation number of a file in its order) is not sorted by; the merge
            // still compares every key.
            int runKeys = nkeys;
            while (runKeys > 1 && strictlyIncreasing(data.data(), n, rec, keys[runKeys - 1]))
                --runKeys;
            if (int e = writeRun(runFile, name, data.data(), n, rec, keys, runKeys, fileOff);
                e != kUtilOk)
                return e;
            fileOff += static_cast<std::uint64_t>(n) * rec;
            r.end = fileOff;
            runs.push_back(r);
            if (n < cap) break;
        }
    }
    if (&dst == &src) {
        const auto total = src.count();
        if (int e = src.point(-2); e != kUtilOk) return e;
        if (int e = src.expectRecords(total); e != kUtilOk) return e;
    }

    // Merge buffers share the threshold's worth of memory, each between one record and
    // kIoBytes.
    const std::size_t nr = runs.size();
    std::size_t per = UtilFile::spillThreshold() / std::max<std::size_t>(nr, 1);
    per = std::max(rec, std::min(per, kIoBytes) / rec * rec);
    std::vector<char> bufs(per * nr);
    const std::size_t m = static_cast<std::size_t>(nkeys);
    std::vector<std::uint64_t> head(nr * m); // encoded keys of each run's current record
    std::vector<std::uint32_t> heap;
    heap.reserve(nr);

    auto current = [&](std::uint32_t r) { return runs[r].buf + runs[r].bufPos; };
    // Loads the next record of run r; false when the run is exhausted (or on error, in rc).
    int rc = kUtilOk;
    auto refill = [&](std::uint32_t r) -> bool {
        Run& run = runs[r];
        if (run.bufPos + rec < run.bufLen) {
            run.bufPos += rec;
        } else {
            if (run.next >= run.end) return false;
            std::size_t len =
                static_cast<std::size_t>(std::min<std::uint64_t>(per, run.end - run.next));
            if (int e = runFile.readAt(run.buf, len, run.next, name); e != kUtilOk) {
                rc = e;
                return false;
            }
            run.next += len;
            run.bufPos = 0;
            run.bufLen = len;
        }
        const char* p = current(r);
        for (std::size_t j = 0; j < m; ++j)
            head[r * m + j] = encode(p, keys[j]);
        return true;
    };
    auto less = [&](std::uint32_t a, std::uint32_t b) {
        const std::uint64_t* x = head.data() + a * m;
        const std::uint64_t* y = head.data() + b * m;
        for (std::size_t j = 0; j < m; ++j)
            if (x[j] != y[j]) return x[j] < y[j];
        return a < b;
    };
    auto siftDown = [&](std::size_t i) {
        const std::size_t n = heap.size();
        std::uint32_t v = heap[i];
        for (;;) {
            std::size_t c = 2 * i + 1;
            if (c >= n) break;
            if (c + 1 < n && less(heap[c + 1], heap[c])) ++c;
            if (!less(heap[c], v)) break;
            heap[i] = heap[c];
            i = c;
        }
        heap[i] = v;
    };

    for (std::uint32_t r = 0; r < nr; ++r) {
        runs[r].buf = bufs.data() + static_cast<std::size_t>(r) * per;
        runs[r].bufPos = runs[r].bufLen = 0;
        if (refill(r)) heap.push_back(r);
        if (rc != kUtilOk) return rc;
    }
    for (std::size_t i = heap.size() / 2; i-- > 0;)
        siftDown(i);

    while (!heap.empty()) {
        std::uint32_t r = heap[0];
        if (int e = dst.write(current(r)); e != kUtilOk) return e;
        if (!refill(r)) {
            if (rc != kUtilOk) return rc;
            heap[0] = heap.back();
            heap.pop_back();
        }
        if (!heap.empty()) siftDown(0);
    }
    return kUtilOk;
}

int sortInMemory(const char* data, UtilFile& src, UtilFile& dst, const SortKey* keys, int nkeys) {
    const std::size_t rec = src.recordBytes();
    const std::size_t n = static_cast<std::size_t>(src.count());
    // A last key the records already follow (an observation number) costs the sort nothing.
    while (nkeys > 1 && strictlyIncreasing(data, n, rec, keys[nkeys - 1]))
        --nkeys;
    // Many records go into the sorted file's memory in place, each half gathered on a core of
    // its own: the gather waits on memory, record by record, far more than it computes.
    if (n >= kTwoCoreRecords && twoCores()) {
        char* out = dst.appendInPlace(static_cast<std::int64_t>(n));
        if (out == nullptr && dst.lastError() != kUtilOk) return dst.lastError();
        if (out != nullptr)
            return withSortedOrder(data, n, rec, keys, nkeys, [&](auto index) {
                auto copy = [&](std::size_t k, std::uint64_t i) {
                    std::memcpy(out + k * rec, data + i * rec, rec);
                    return static_cast<int>(kUtilOk);
                };
                const std::size_t half = n / 2;
                runBeside([&] { emitInOrder(data, 0, half, rec, index, copy); },
                          [&] { emitInOrder(data, half, n, rec, index, copy); });
                return static_cast<int>(kUtilOk);
            });
    }
    return sortRecords(data, n, rec, keys, nkeys,
                       [&](std::size_t, std::uint64_t i) { return dst.write(data + i * rec); });
}

int checkKeys(const UtilFile& src, const SortKey* keys, int nkeys) {
    if (nkeys < 0 || (nkeys > 0 && keys == nullptr))
        return fail(kUtilBadKey, src.name(), "the key list is invalid");
    const std::size_t rec = src.recordBytes();
    for (int j = 0; j < nkeys; ++j) {
        if (keys[j].offset < 0 ||
            (rec > 0 && (static_cast<std::size_t>(keys[j].offset) + 1) * 8 > rec))
            return fail(kUtilBadKey, src.name(),
                        "key " + std::to_string(j + 1) + " at double " +
                            std::to_string(keys[j].offset) + " lies outside the " +
                            std::to_string(rec) + "-byte records");
    }
    return kUtilOk;
}

} // namespace

int zsort(UtilFile& src, UtilFile& dst, const SortKey* keys, int nkeys) {
    if (&src == &dst) return fail(kUtilSameFile, src.name());
    if (int e = checkKeys(src, keys, nkeys); e != kUtilOk) return e;
    const std::size_t rec = src.recordBytes();
    int rc = kUtilOk;
    if (nkeys > 0 && turnReversed(src, dst, keys, nkeys, rc)) return rc;
    if (int e = dst.point(-2); e != kUtilOk) return e;
    if (int e = dst.setRecordBytes(rec); e != kUtilOk) return e;
    if (int e = dst.expectRecords(src.count()); e != kUtilOk) return e;
    try {
        const char* data = src.memoryData();
        std::uint64_t bytes = static_cast<std::uint64_t>(src.count()) * rec;
        if (src.count() == 0) {
            rc = kUtilOk;
        } else if (data != nullptr && bytes <= UtilFile::spillThreshold()) {
            rc = sortInMemory(data, src, dst, keys, nkeys);
        } else {
            rc = externalSort(src, dst, keys, nkeys);
        }
    } catch (const std::bad_alloc&) {
        rc = fail(kUtilNoMemory, src.name(), "sort work space");
    }
    src.point(0);
    // The rewind writes what the sorted file still holds back: its failure is the sort's.
    if (int e = dst.point(0); rc == kUtilOk) rc = e;
    return rc;
}

int sortSpilledInPlace(UtilFile& file, UtilFile& scratch, const SortKey* keys, int nkeys) {
    if (&file == &scratch) return fail(kUtilSameFile, file.name());
    if (int e = checkKeys(file, keys, nkeys); e != kUtilOk) return e;
    int rc = kUtilOk;
    if (nkeys > 0 && turnReversedInPlace(file, scratch, keys, nkeys, rc)) return rc;
    if (file.count() == 0) return file.point(0);
    try {
        rc = externalSort(file, file, keys, nkeys);
    } catch (const std::bad_alloc&) {
        rc = fail(kUtilNoMemory, file.name(), "sort work space");
    }
    // The rewind writes what the file still holds back: its failure is the sort's.
    if (int e = file.point(0); rc == kUtilOk) rc = e;
    return rc;
}

} // namespace velloc::host
