// turnReversed: a file already in the reverse of the wanted order, turned round instead of
// sorted (greedy matching takes the score-ordered treated units from the highest score down,
// and puts them back).
#include <algorithm>
#include <cstdint>
#include <vector>

#include "io/sort_keys.h"
#include "io/utility_file.h"

namespace velloc::host {

using detail::encode;

namespace {

// Whether consecutive records a, b run against the first key, or tie in it and follow the
// others.
bool turnsRound(const char* a, const char* b, const SortKey* keys, int nkeys) {
    const std::uint64_t ka = encode(a, keys[0]), kb = encode(b, keys[0]);
    if (ka != kb) return ka > kb;
    for (int j = 1; j < nkeys; ++j) {
        const std::uint64_t x = encode(a, keys[j]), y = encode(b, keys[j]);
        if (x != y) return x < y;
    }
    return true;
}

// The check over a file on disk, read once: false when out of order or when a tie group of the
// first key holds more than maxGroup records; rc is set on a failed read.
bool spilledTurnsRound(UtilFile& src, const SortKey* keys, int nkeys, std::size_t maxGroup,
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
        if (i > 0 && !turnsRound(a.data(), b.data(), keys, nkeys)) return false;
        group = i > 0 && encode(a.data(), keys[0]) == encode(b.data(), keys[0]) ? group + 1 : 1;
        if (group > maxGroup) return false;
        a.swap(b);
    }
    return true;
}

// The turn of a file on disk: blocks read from the end, each tie group gathered (backwards)
// until a record of another key shows it whole, then written in its own order.
int turnSpilled(UtilFile& src, UtilFile& dst, const SortKey& first) {
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
            const std::uint64_t k = encode(r, first);
            if (!group.empty() && k != groupKey)
                if (int e = flush()) return e;
            group.insert(group.end(), r, r + rec);
            groupKey = k;
        }
        end = begin;
    }
    return flush();
}

// The turn of a file in memory: tie groups from the last to the first, each in its own order.
int turnInMemory(const char* data, std::size_t n, std::size_t rec, UtilFile& dst,
                 const SortKey& first) {
    std::size_t end = n;
    while (end > 0) {
        std::size_t begin = end - 1;
        const std::uint64_t k = encode(data + begin * rec, first);
        while (begin > 0 && encode(data + (begin - 1) * rec, first) == k)
            --begin;
        for (std::size_t i = begin; i < end; ++i)
            if (int e = dst.write(data + i * rec)) return e;
        end = begin;
    }
    return 0;
}

} // namespace

bool turnReversed(UtilFile& src, UtilFile& dst, const SortKey* keys, int nkeys, int& rc) {
    rc = 0;
    const char* data = src.memoryData();
    const std::size_t rec = src.recordBytes();
    const auto n = static_cast<std::size_t>(src.count());
    if (n == 0 || nkeys < 1 || &src == &dst) return false;
    for (int j = 0; j < nkeys; ++j)
        if (keys[j].offset < 0 || static_cast<std::size_t>(keys[j].offset + 1) * 8 > rec)
            return false;
    if (data != nullptr) {
        for (std::size_t i = 1; i < n; ++i)
            if (!turnsRound(data + (i - 1) * rec, data + i * rec, keys, nkeys)) return false;
    } else {
        // A tie group is held whole while it is turned: at most a quarter of the threshold.
        const std::size_t maxGroup = std::max<std::size_t>(1, UtilFile::spillThreshold() / 4 / rec);
        const bool ordered = spilledTurnsRound(src, keys, nkeys, maxGroup, rc);
        src.point(0);
        if (!ordered) return false;
        if (rc != 0) return true;
    }
    auto run = [&]() -> int {
        if (int e = dst.point(-2)) return e;
        if (int e = dst.setRecordBytes(rec)) return e;
        if (int e = dst.expectRecords(src.count())) return e;
        return data ? turnInMemory(data, n, rec, dst, keys[0]) : turnSpilled(src, dst, keys[0]);
    };
    rc = run();
    src.point(0);
    const int flushed = dst.point(0);
    if (rc == 0) rc = flushed;
    return true;
}

} // namespace velloc::host
