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
    if (int rc = dst.expectRecords(src.count())) return rc;
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

// Whether consecutive records a, b keep the order reverseKeyOrder needs.
bool inKeyOrder(const char* a, const char* b, int key, bool ascending, int tie) {
    const std::uint64_t ka = sortOrderOf(a, key), kb = sortOrderOf(b, key);
    if (ka == kb) return sortOrderOf(a, tie) <= sortOrderOf(b, tie);
    return (ka < kb) == ascending;
}

// The order check over a file on disk, read once: false when out of order or when a tie group
// holds more than maxGroup records (the turn would have to hold them); rc is set on a failed read.
bool spilledInKeyOrder(UtilFile& src, int key, bool ascending, int tie, std::size_t maxGroup,
                       int& rc) {
    const std::size_t rec = src.recordBytes();
    std::vector<char> a(rec), b(rec);
    if ((rc = src.point(0)) != 0) return true;
    std::size_t group = 0;
    for (std::int64_t i = 0; i < src.count(); ++i) {
        if (!src.read(b.data())) {
            rc = src.lastError() ? src.lastError() : kUtilIoError;
            return true;
        }
        if (i > 0 && !inKeyOrder(a.data(), b.data(), key, ascending, tie)) return false;
        group = i > 0 && sortOrderOf(a.data(), key) == sortOrderOf(b.data(), key) ? group + 1 : 1;
        if (group > maxGroup) return false;
        a.swap(b);
    }
    return true;
}

// The turn of a file on disk: blocks read from the end, each tie group gathered (backwards)
// until a record of another key shows it whole, then written in its own order.
int turnSpilled(UtilFile& src, UtilFile& dst, int key) {
    const std::size_t rec = src.recordBytes();
    const std::size_t blockBytes = std::min(std::size_t{4} << 20, UtilFile::spillThreshold() / 4);
    const std::size_t perBlock = std::max<std::size_t>(1, blockBytes / rec);
    std::vector<char> block(perBlock * rec), group; // group: the open tie group, last first
    std::uint64_t groupKey = 0;
    auto flush = [&]() -> int {
        for (std::size_t at = group.size(); at > 0; at -= rec)
            if (int e = dst.write(group.data() + at - rec)) return e;
        group.clear();
        return 0;
    };
    for (std::int64_t end = src.count(); end > 0;) {
        const std::int64_t begin = std::max<std::int64_t>(0, end - std::int64_t(perBlock));
        if (int e = src.point(begin + 1)) return e;
        for (std::int64_t i = begin; i < end; ++i)
            if (!src.read(block.data() + std::size_t(i - begin) * rec))
                return src.lastError() ? src.lastError() : kUtilIoError;
        for (std::int64_t i = end; i-- > begin;) {
            const char* r = block.data() + std::size_t(i - begin) * rec;
            const std::uint64_t k = sortOrderOf(r, key);
            if (!group.empty() && k != groupKey)
                if (int e = flush()) return e;
            group.insert(group.end(), r, r + rec);
            groupKey = k;
        }
        end = begin;
    }
    return flush();
}

} // namespace

bool reverseKeyOrder(UtilFile& src, UtilFile& dst, int key, bool srcAscending, int tie, int& rc) {
    rc = 0;
    const char* data = src.memoryData();
    const std::size_t rec = src.recordBytes();
    const auto n = static_cast<std::size_t>(src.count());
    if (n == 0 || static_cast<std::size_t>(std::max(key, tie) + 1) * 8 > rec) return false;
    if (data != nullptr) {
        for (std::size_t i = 1; i < n; ++i)
            if (!inKeyOrder(data + (i - 1) * rec, data + i * rec, key, srcAscending, tie))
                return false;
    } else {
        // A tie group is held whole while it is turned: at most a quarter of the threshold.
        const std::size_t maxGroup = std::max<std::size_t>(1, UtilFile::spillThreshold() / 4 / rec);
        const bool ordered = spilledInKeyOrder(src, key, srcAscending, tie, maxGroup, rc);
        src.point(0);
        if (!ordered) return false;
        if (rc != 0) return true;
    }
    auto run = [&]() -> int {
        if (int e = dst.point(-2)) return e;
        if (int e = dst.setRecordBytes(rec)) return e;
        if (int e = dst.expectRecords(src.count())) return e;
        if (data == nullptr) return turnSpilled(src, dst, key);
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
