// turnReversed: a file already in the reverse of the wanted order, turned round instead of
// sorted (greedy matching takes the score-ordered treated units from the highest score down,
// and puts them back).
#include <algorithm>
#include <cstdint>
#include <vector>

#include "io/sort_keys.h"
#include "io/temp_files.h"
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

// Whether every key lies inside records of rec bytes.
bool keysInRecord(const SortKey* keys, int nkeys, std::size_t rec) {
    for (int j = 0; j < nkeys; ++j)
        if (keys[j].offset < 0 || static_cast<std::size_t>(keys[j].offset + 1) * 8 > rec)
            return false;
    return true;
}

// The longest tie group a turn on disk holds whole: a quarter of the threshold.
std::size_t longestGroupHeld(std::size_t rec) {
    return std::max<std::size_t>(1, UtilFile::spillThreshold() / 4 / rec);
}

// Records a turn on disk reads at a time: at most 4 MiB, and a quarter of the threshold.
std::size_t blockRecords(std::size_t rec) {
    return std::max<std::size_t>(1, std::min(std::size_t{4} << 20, UtilFile::spillThreshold() / 4) /
                                        rec);
}

// The check over a file on disk, read once: false when out of order or when a tie group of the
// first key holds more than maxGroup records; rc is set on a failed read. longest: the largest
// tie group seen.
bool spilledTurnsRound(UtilFile& src, const SortKey* keys, int nkeys, std::size_t maxGroup, int& rc,
                       std::size_t& longest) {
    const std::size_t rec = src.recordBytes();
    std::vector<char> a(rec), b(rec);
    longest = 0;
    if ((rc = src.point(0)) != 0) return true;
    std::size_t group = 0;
    for (std::int64_t i = 0; i < src.count(); ++i) {
        if (!src.read(b.data())) {
            rc = src.lastError() ? src.lastError() : kUtilIoError;
            return true;
        }
        if (i > 0 && !turnsRound(a.data(), b.data(), keys, nkeys)) return false;
        group = i > 0 && encode(a.data(), keys[0]) == encode(b.data(), keys[0]) ? group + 1 : 1;
        longest = std::max(longest, group);
        if (group > maxGroup) return false;
        a.swap(b);
    }
    return true;
}

// Records [first, first + n) of a file on disk into buf (one read, once the records the file
// holds back have gone out), or from buf into the file.
int readRecords(UtilFile& f, std::int64_t first, std::int64_t n, char* buf) {
    if (int e = f.point(0)) return e;
    return f.readRecordsAt(first, n, buf);
}

int writeRecords(UtilFile& f, std::int64_t first, std::int64_t n, const char* buf) {
    if (int e = f.point(first + 1)) return e;
    for (std::int64_t i = 0; i < n; ++i)
        if (int e = f.write(buf + static_cast<std::size_t>(i) * f.recordBytes())) return e;
    return 0;
}

// Reverses the order of n records of rec bytes in buf.
void reverseRecords(char* buf, std::size_t n, std::size_t rec) {
    for (std::size_t i = 0, j = n; i + 1 < j; ++i, --j)
        std::swap_ranges(buf + i * rec, buf + (i + 1) * rec, buf + (j - 1) * rec);
}

// The turn of a file on disk where it lies, perBlock records at a time: the whole file reversed
// (a block from each end swapped with the other, each reversed), then every tie group of the
// first key, now backwards, put back in its own order. Each group must hold fewer than perBlock
// records, so that a block always ends with at least one whole group.
int turnSpilledInPlace(UtilFile& f, const SortKey& first, std::size_t perBlock) {
    const std::size_t rec = f.recordBytes();
    const auto per = static_cast<std::int64_t>(perBlock);
    std::vector<char> buf(2 * perBlock * rec);
    char* front = buf.data();
    char* back = buf.data() + perBlock * rec;
    std::int64_t lo = 0, hi = f.count(); // records [lo, hi) are not reversed yet
    while (hi - lo >= 2 * per) {
        if (int e = readRecords(f, lo, per, front)) return e;
        if (int e = readRecords(f, hi - per, per, back)) return e;
        reverseRecords(front, perBlock, rec);
        reverseRecords(back, perBlock, rec);
        if (int e = writeRecords(f, lo, per, back)) return e;
        if (int e = writeRecords(f, hi - per, per, front)) return e;
        lo += per;
        hi -= per;
    }
    if (hi - lo > 1) {
        if (int e = readRecords(f, lo, hi - lo, front)) return e;
        reverseRecords(front, static_cast<std::size_t>(hi - lo), rec);
        if (int e = writeRecords(f, lo, hi - lo, front)) return e;
    }
    // The groups: a block is written back only when one of its groups had more than a record.
    const std::int64_t n = f.count();
    for (std::int64_t at = 0; at < n;) {
        const std::int64_t got = std::min(per, n - at);
        if (int e = readRecords(f, at, got, front)) return e;
        auto key = [&](std::int64_t i) {
            return encode(front + static_cast<std::size_t>(i) * rec, first);
        };
        // The last group may go on past the block: it waits for the next one.
        std::int64_t whole = got;
        if (at + got < n)
            while (whole > 0 && key(whole - 1) == key(got - 1))
                --whole;
        if (whole == 0) // the caller's check keeps groups shorter than a block
            return detail::fail(kUtilBadKey, f.name(), "a tie group is longer than its block");
        bool changed = false;
        for (std::int64_t g = 0; g < whole;) {
            std::int64_t end = g + 1;
            while (end < whole && key(end) == key(g))
                ++end;
            if (end - g > 1) {
                reverseRecords(front + static_cast<std::size_t>(g) * rec,
                               static_cast<std::size_t>(end - g), rec);
                changed = true;
            }
            g = end;
        }
        if (changed)
            if (int e = writeRecords(f, at, whole, front)) return e;
        at += whole;
    }
    return 0;
}

// The turn of a file on disk: blocks read from the end, each tie group gathered (backwards)
// until a record of another key shows it whole, then written in its own order.
int turnSpilled(UtilFile& src, UtilFile& dst, const SortKey& first) {
    const std::size_t rec = src.recordBytes();
    const std::size_t perBlock = blockRecords(rec);
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
        if (int e = readRecords(src, begin, end - begin, block.data())) return e;
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

// Writes the turn of src, checked to run against the keys, into dst (emptied first, given src's
// record length); both are left rewound. 0 or a utility-file status.
int writeTurn(UtilFile& src, UtilFile& dst, const SortKey& first) {
    const char* data = src.memoryData();
    const std::size_t rec = src.recordBytes();
    auto run = [&]() -> int {
        if (int e = dst.point(-2)) return e;
        if (int e = dst.setRecordBytes(rec)) return e;
        if (int e = dst.expectRecords(src.count())) return e;
        return data ? turnInMemory(data, static_cast<std::size_t>(src.count()), rec, dst, first)
                    : turnSpilled(src, dst, first);
    };
    int rc = run();
    src.point(0);
    const int flushed = dst.point(0);
    return rc == 0 ? flushed : rc;
}

} // namespace

bool turnReversed(UtilFile& src, UtilFile& dst, const SortKey* keys, int nkeys, int& rc) {
    rc = 0;
    const char* data = src.memoryData();
    const std::size_t rec = src.recordBytes();
    const auto n = static_cast<std::size_t>(src.count());
    if (n == 0 || nkeys < 1 || &src == &dst || !keysInRecord(keys, nkeys, rec)) return false;
    if (data != nullptr) {
        for (std::size_t i = 1; i < n; ++i)
            if (!turnsRound(data + (i - 1) * rec, data + i * rec, keys, nkeys)) return false;
    } else {
        // A tie group is held whole while it is turned.
        std::size_t longest = 0;
        const bool ordered =
            spilledTurnsRound(src, keys, nkeys, longestGroupHeld(rec), rc, longest);
        src.point(0);
        if (!ordered) return false;
        if (rc != 0) return true;
    }
    rc = writeTurn(src, dst, keys[0]);
    return true;
}

bool turnReversedInPlace(UtilFile& file, UtilFile& scratch, const SortKey* keys, int nkeys,
                         int& rc) {
    rc = 0;
    const std::size_t rec = file.recordBytes();
    if (file.memoryData() != nullptr || file.count() == 0 || nkeys < 1 || &file == &scratch ||
        !keysInRecord(keys, nkeys, rec))
        return false;
    const std::size_t perBlock = std::max<std::size_t>(2, blockRecords(rec));
    std::size_t longest = 0;
    const bool ordered = spilledTurnsRound(file, keys, nkeys, longestGroupHeld(rec), rc, longest);
    file.point(0);
    if (!ordered) return false;
    if (rc != 0) return true;
    if (longest >= perBlock) {
        // Groups too long for the block: turned into the scratch file, which trades places.
        rc = writeTurn(file, scratch, keys[0]);
        if (rc == 0) file.swapRecords(scratch);
        return true;
    }
    rc = turnSpilledInPlace(file, keys[0], perBlock);
    if (int e = file.point(0); rc == 0) rc = e;
    return true;
}

} // namespace velloc::host
