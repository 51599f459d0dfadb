#include "io/utility_copy.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "numeric/radix_sort.h"

namespace velloc::host {

int copyUtilFile(UtilFile& src, UtilFile& dst) {
    if (int rc = src.point(0)) return rc;
    if (int rc = dst.point(-2)) return rc;
    if (int rc = dst.setRecordBytes(src.recordBytes())) return rc;
    // Whole doubles covering the record, and one spare: a record length that is not a
    // multiple of 8 still fits.
    std::vector<double> buf((src.recordBytes() + 7) / 8 + 1);
    while (src.read(buf.data()))
        if (int rc = dst.write(buf.data())) return rc;
    if (int rc = src.lastError()) return rc;
    src.point(0);
    dst.point(0);
    return 0;
}

int sortInPlace(UtilFile& file, UtilFile& scratch, const SortKey* keys, int nkeys) {
    // The scratch file's own memory may be the least resident one: released first, the sort
    // writes into the pooled mapping with the most pages already there.
    scratch.release();
    if (int rc = zsort(file, scratch, keys, nkeys)) return rc;
    file.swapRecords(scratch);
    return 0;
}

namespace {

// zsort's order of a key: NaN lowest, -0 equal to +0.
std::uint64_t sortOrderOf(const char* rec, int offset) {
    double d;
    std::memcpy(&d, rec + static_cast<std::size_t>(offset) * 8, 8);
    if (d != d) return 0;
    if (d == 0.0) d = 0.0;
    return orderKey(d);
}

} // namespace

bool reverseKeyOrder(UtilFile& src, UtilFile& dst, int key, bool srcAscending, int tie, int& rc) {
    rc = 0;
    const char* data = src.memoryData();
    const std::size_t rec = src.recordBytes();
    const auto n = static_cast<std::size_t>(src.count());
    if (data == nullptr || n == 0 || static_cast<std::size_t>(std::max(key, tie) + 1) * 8 > rec)
        return false;
    for (std::size_t i = 1; i < n; ++i) {
        const char* a = data + (i - 1) * rec;
        const char* b = data + i * rec;
        const std::uint64_t ka = sortOrderOf(a, key), kb = sortOrderOf(b, key);
        if (ka == kb) {
            if (sortOrderOf(a, tie) > sortOrderOf(b, tie)) return false;
        } else if ((ka < kb) != srcAscending) {
            return false;
        }
    }
    auto run = [&]() -> int {
        if (int e = dst.point(-2)) return e;
        if (int e = dst.setRecordBytes(rec)) return e;
        // Tie groups from the last to the first, each in its own order.
        std::size_t end = n;
        while (end > 0) {
            std::size_t begin = end - 1;
            const std::uint64_t k = sortOrderOf(data + begin * rec, key);
            while (begin > 0 && sortOrderOf(data + (begin - 1) * rec, key) == k)
                --begin;
            for (std::size_t i = begin; i < end; ++i)
                if (int e = dst.write(data + i * rec)) return e;
            end = begin;
        }
        return 0;
    };
    rc = run();
    src.point(0);
    dst.point(0);
    return true;
}

} // namespace velloc::host
