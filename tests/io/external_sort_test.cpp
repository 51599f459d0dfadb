#include <gtest/gtest.h>

#include "../support/file_size_limit.h"
#include "io/temp_files.h"
#include "io/utility_file.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

using namespace velloc::host;

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Records of 5 doubles: id (unique, shows the tie order), three keys and a payload.
using Rec = std::array<double, 5>;
constexpr std::size_t kRec = sizeof(Rec);

class ThresholdGuard {
  public:
    explicit ThresholdGuard(std::size_t bytes) : saved_(UtilFile::spillThreshold()) {
        UtilFile::setSpillThreshold(bytes);
    }
    ~ThresholdGuard() { UtilFile::setSpillThreshold(saved_); }

  private:
    std::size_t saved_;
};

// The oracle compares doubles directly: NaN below everything, -0 equal to +0.
int compareKey(double a, double b) {
    bool na = std::isnan(a), nb = std::isnan(b);
    if (na || nb) return na == nb ? 0 : (na ? -1 : 1);
    return a < b ? -1 : (a > b ? 1 : 0);
}

std::vector<Rec> oracle(std::vector<Rec> v, const std::vector<SortKey>& keys) {
    std::stable_sort(v.begin(), v.end(), [&](const Rec& x, const Rec& y) {
        for (const SortKey& k : keys) {
            int c = compareKey(x[k.offset], y[k.offset]);
            if (k.descending) c = -c;
            if (c != 0) return c < 0;
        }
        return false;
    });
    return v;
}

// Keys drawn from few values so ties abound, with NaN and both zeros among them.
std::vector<Rec> makeData(int n, unsigned seed) {
    std::mt19937 rng(seed);
    const double k1[] = {kNaN, -2.5, 0.0, -0.0, 1.0, 3.75};
    const double k2[] = {kNaN, -1.0, 0.5, 2.0};
    std::vector<Rec> v;
    for (int i = 0; i < n; ++i) {
        v.push_back({double(i + 1), k1[rng() % 6], k2[rng() % 4], double(rng() % 3),
                     std::ldexp(double(rng()), -20)});
    }
    return v;
}

void load(UtilFile& f, const std::vector<Rec>& v) {
    for (const Rec& r : v)
        ASSERT_EQ(f.write(r.data()), 0);
}

std::vector<Rec> contents(UtilFile& f) {
    std::vector<Rec> out;
    f.point(0);
    Rec r;
    while (f.read(r.data()))
        out.push_back(r);
    return out;
}

// Bitwise equality, so NaN records compare and -0 is told from +0.
bool sameRecords(const std::vector<Rec>& a, const std::vector<Rec>& b) {
    return a.size() == b.size() &&
           (a.empty() || std::memcmp(a.data(), b.data(), a.size() * kRec) == 0);
}

std::vector<Rec> sortWith(const std::vector<Rec>& data, const std::vector<SortKey>& keys,
                          std::size_t threshold, bool* srcSpilled = nullptr) {
    ThresholdGuard guard(threshold);
    UtilFile src("VLCVOUT", kRec), dst("VLCTEMP", kRec);
    load(src, data);
    if (srcSpilled) *srcSpilled = src.spilled();
    Rec junk{9, 9, 9, 9, 9};
    dst.write(junk.data()); // must be replaced, not appended to
    EXPECT_EQ(zsort(src, dst, keys.data(), static_cast<int>(keys.size())), 0);
    EXPECT_EQ(dst.recordBytes(), kRec);
    EXPECT_EQ(src.position(), 1);
    EXPECT_TRUE(sameRecords(contents(src), data)) << "source changed";
    return contents(dst);
}

} // namespace

TEST(ZSort, SpilledAndInMemorySortsAgreeWithTheOracle) {
    const std::vector<Rec> data = makeData(20000, 7);
    const std::vector<SortKey> keys = {{1, false}, {2, true}};
    const std::vector<Rec> want = oracle(data, keys);

    bool spilled = true;
    std::vector<Rec> mem = sortWith(data, keys, std::size_t{1} << 30, &spilled);
    EXPECT_FALSE(spilled);
    EXPECT_TRUE(sameRecords(mem, want));

    // 80 runs of 250 records each.
    std::vector<Rec> ext = sortWith(data, keys, 8000 * 5, &spilled);
    EXPECT_TRUE(spilled);
    EXPECT_TRUE(sameRecords(ext, want));
    // Runs of a single record: the merge alone orders the file.
    std::vector<Rec> tiny =
        sortWith(std::vector<Rec>(data.begin(), data.begin() + 700), keys, kRec);
    EXPECT_TRUE(sameRecords(tiny, oracle({data.begin(), data.begin() + 700}, keys)));
}

// Enough records for an in-memory sort to gather them on two cores, each half into its part of
// the sorted file: one, two and four keys, and none (the records as they are).
TEST(ZSort, ManyRecordsInMemoryAgreeWithTheOracle) {
    const std::vector<Rec> data = makeData(150001, 11);
    for (const std::vector<SortKey>& keys :
         std::vector<std::vector<SortKey>>{{{1, true}},
                                           {{1, false}, {2, true}},
                                           {{3, false}, {1, false}, {2, true}, {4, true}},
                                           {}}) {
        bool spilled = true;
        const std::vector<Rec> got = sortWith(data, keys, std::size_t{1} << 30, &spilled);
        EXPECT_FALSE(spilled);
        EXPECT_TRUE(sameRecords(got, oracle(data, keys))) << keys.size() << " keys";
    }
}

// A last key the records already follow strictly (the id, or the id descending over records
// in reverse) leaves only the keys before it to sort by; one the records almost follow (one
// tie, or one pair out of order) must still be sorted by: in memory, and in the runs of a
// sort on disk (24 runs of 250 records, the tie and the swap each inside one).
TEST(ZSort, LastKeysTheRecordsFollowAgreeWithTheOracle) {
    const std::vector<Rec> data = makeData(6000, 13);
    std::vector<Rec> reversed(data.rbegin(), data.rend());
    std::vector<Rec> tied = data, swapped = data;
    tied[3101][0] = tied[3100][0];
    std::swap(swapped[4100][0], swapped[4101][0]);
    struct Case {
        const std::vector<Rec>* data;
        std::vector<SortKey> keys;
    };
    for (const Case& c :
         {Case{&data, {{1, false}, {0, false}}}, Case{&reversed, {{1, true}, {0, true}}},
          Case{&data, {{3, false}, {2, true}, {0, false}}}, Case{&tied, {{1, false}, {0, false}}},
          Case{&swapped, {{1, false}, {0, false}}}, Case{&swapped, {{1, false}, {0, true}}}}) {
        const std::vector<Rec> want = oracle(*c.data, c.keys);
        for (std::size_t threshold : {std::size_t{1} << 30, std::size_t{8000} * 5}) {
            bool spilled = false;
            EXPECT_TRUE(sameRecords(sortWith(*c.data, c.keys, threshold, &spilled), want));
            EXPECT_EQ(spilled, threshold < (std::size_t{1} << 30));
        }
    }
}

TEST(ZSort, ThreeAndFourKeysAgreeWithTheOracle) {
    const std::vector<Rec> data = makeData(5000, 11);
    for (std::vector<SortKey> keys :
         {std::vector<SortKey>{{3, true}, {1, false}, {2, false}},
          std::vector<SortKey>{{3, false}, {2, true}, {1, true}, {4, false}}}) {
        const std::vector<Rec> want = oracle(data, keys);
        EXPECT_TRUE(sameRecords(sortWith(data, keys, std::size_t{1} << 30), want));
        EXPECT_TRUE(sameRecords(sortWith(data, keys, 1000 * kRec), want));
    }
}

// Keys over the whole range of doubles, so every bit of the order is exercised, including
// both signs, subnormals, infinities and repeated values; one key against two with a group.
TEST(ZSort, KeysSpreadOverEveryBitAgreeWithTheOracle) {
    std::mt19937_64 rng(17);
    std::vector<Rec> data;
    for (int i = 0; i < 30000; ++i) {
        std::uint64_t bits = rng();
        double v;
        std::memcpy(&v, &bits, sizeof v);
        if (i % 97 == 0) v = i % 2 ? HUGE_VAL : -HUGE_VAL;
        if (i % 89 == 0) v = std::ldexp(double(rng() % 1000), -1074);
        if (i % 13 == 0 && i > 0) v = data[rng() % i][1]; // a tie with an earlier record
        data.push_back({double(i + 1), v, double(rng() % 2), std::sin(double(i)), 0});
    }
    for (std::vector<SortKey> keys :
         {std::vector<SortKey>{{1, false}}, std::vector<SortKey>{{1, true}},
          std::vector<SortKey>{{2, true}, {1, false}},
          std::vector<SortKey>{{2, false}, {3, true}, {1, false}}})
        EXPECT_TRUE(sameRecords(sortWith(data, keys, std::size_t{1} << 30), oracle(data, keys)));
}

TEST(ZSort, NaNIsLowestAscendingAndHighestDescendingAndTiesKeepTheirOrder) {
    // id, key: 3, NaN, -1, 3, 0, -0, NaN
    const double key[] = {3, kNaN, -1, 3, 0, -0.0, kNaN};
    std::vector<Rec> data;
    for (int i = 0; i < 7; ++i)
        data.push_back({double(i + 1), key[i], 0, 0, 0});
    auto ids = [](const std::vector<Rec>& v) {
        std::vector<int> out;
        for (const Rec& r : v)
            out.push_back(static_cast<int>(r[0]));
        return out;
    };
    for (std::size_t threshold : {std::size_t{1} << 20, 2 * kRec}) {
        SortKey up{1, false}, down{1, true};
        // Ascending: NaN (2, 7), -1 (3), zeros tie (5, 6), 3 (1, 4).
        EXPECT_EQ(ids(sortWith(data, {up}, threshold)), (std::vector<int>{2, 7, 3, 5, 6, 1, 4}));
        // Descending: 3 (1, 4), zeros (5, 6), -1 (3), NaN (2, 7).
        EXPECT_EQ(ids(sortWith(data, {down}, threshold)), (std::vector<int>{1, 4, 5, 6, 3, 2, 7}));
        // No key: a stable copy.
        EXPECT_EQ(ids(sortWith(data, {}, threshold)), (std::vector<int>{1, 2, 3, 4, 5, 6, 7}));
    }
}

TEST(ZSort, FileExactlyAtTheThresholdSortsInMemory) {
    const std::vector<Rec> data = makeData(64, 3);
    const std::vector<SortKey> keys = {{2, false}, {0, true}};
    bool spilled = true;
    EXPECT_TRUE(sameRecords(sortWith(data, keys, 64 * kRec, &spilled), oracle(data, keys)));
    EXPECT_FALSE(spilled);
    EXPECT_TRUE(sameRecords(sortWith(data, keys, 63 * kRec, &spilled), oracle(data, keys)));
    EXPECT_TRUE(spilled);
}

TEST(ZSort, EmptyAndOneRecordFiles) {
    for (std::size_t threshold : {std::size_t{1} << 20, std::size_t{1}}) {
        EXPECT_TRUE(sortWith({}, {{1, false}}, threshold).empty());
        std::vector<Rec> one = {{1, kNaN, 2, 3, 4}};
        EXPECT_TRUE(sameRecords(sortWith(one, {{1, true}}, threshold), one));
    }
    // An empty source without a record length still empties the target.
    UtilFile src("VLCTREAT"), dst("VLCTEMP", 8);
    double x = 1;
    dst.write(&x);
    SortKey k{0, false};
    EXPECT_EQ(zsort(src, dst, &k, 1), 0);
    EXPECT_EQ(dst.count(), 0);
}

TEST(ZSort, BadKeysAndSameFileAreRefused) {
    UtilFile src("VLCVOUT", kRec), dst("VLCTEMP", kRec);
    load(src, makeData(10, 1));
    SortKey outside{5, false}; // doubles 0..4 only
    EXPECT_EQ(zsort(src, dst, &outside, 1), kUtilBadKey);
    SortKey negative{-1, false};
    EXPECT_EQ(zsort(src, dst, &negative, 1), kUtilBadKey);
    EXPECT_EQ(zsort(src, dst, nullptr, 1), kUtilBadKey);
    SortKey ok{1, false};
    EXPECT_EQ(zsort(src, dst, &ok, -1), kUtilBadKey);
    EXPECT_EQ(zsort(src, src, &ok, 1), kUtilSameFile);
    EXPECT_EQ(src.count(), 10);
}

TEST(ZSort, TargetThatHeldAnotherRecordLengthIsReset) {
    UtilFile src("VLCVOUT", kRec), dst("VLCTEMP", 16);
    std::vector<Rec> data = makeData(100, 5);
    load(src, data);
    double two[2] = {1, 2};
    dst.write(two);
    SortKey k{3, false};
    ASSERT_EQ(zsort(src, dst, &k, 1), 0);
    EXPECT_EQ(dst.recordBytes(), kRec);
    EXPECT_TRUE(sameRecords(contents(dst), oracle(data, {k})));
}

// Runs of 100,000 records are gathered and written by two cores, each half of a run at its own
// place in the run file; the last, shorter run (20,000 records) by one. The merged order is still
// the stable one (ties straddle the halves), and a write that fails in the second half's thread
// fails the sort with that thread's details (the file and the full disk) reported by the caller's.
TEST(ZSort, RunsWrittenByTwoCoresAgreeWithTheOracleAndReportTheirFaults) {
    const std::vector<Rec> data = makeData(520000, 13);
    const std::vector<SortKey> keys = {{2, true}, {1, false}};
    const std::size_t threshold = 4 * 100000 * kRec; // runs of a quarter of it
    bool spilled = false;
    EXPECT_TRUE(sameRecords(sortWith(data, keys, threshold, &spilled), oracle(data, keys)));
    EXPECT_TRUE(spilled);

    ThresholdGuard guard(threshold);
    UtilFile::releasePool(); // the run file is a new one, written from its first byte
    UtilFile src("VLCVOUT", kRec), dst("VLCTEMP", kRec);
    load(src, data);
    ASSERT_EQ(src.point(0), 0);
    velloc::host::detail::fail(kUtilOk);
    {
        // The first run's halves cover bytes [0, 2,000,000) and [2,000,000, 4,000,000).
        velloc::testing::FileSizeLimit limit(3000000);
        ASSERT_TRUE(limit.ok());
        EXPECT_EQ(zsort(src, dst, keys.data(), 2), kUtilDiskFull);
    }
    const velloc::host::detail::FailureDetails f = velloc::host::detail::lastFailure();
    EXPECT_EQ(f.code, kUtilDiskFull);
    EXPECT_EQ(f.a1, "VLCVOUT");
    EXPECT_TRUE(sameRecords(contents(src), data)) << "source changed";
    UtilFile::releasePool();
}
