// Copying a utility file: the target is emptied and takes the source's record length, every
// record arrives whole (also one whose length is not a multiple of 8), and both files end
// rewound. Sorting in place through a scratch file, in memory and spilled to disk. The sort of
// a file in the reverse of the keys' order by turning it round, against a stable sort written
// out here.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "../support/file_size_limit.h"
#include "../support/open_files.h"
#include "io/utility_copy.h"

using namespace velloc::host;
using velloc::testing::openTempFiles;

namespace {

using Rec = std::array<char, 12>;

Rec makeRec(int i) {
    Rec r;
    for (std::size_t b = 0; b < r.size(); ++b)
        r[b] = static_cast<char>('a' + (i * 7 + static_cast<int>(b)) % 26);
    return r;
}

TEST(CopyUtilFile, CopiesEveryRecordIntoTheEmptiedTarget) {
    UtilFile src("VLCTEMP", sizeof(Rec));
    for (int i = 0; i < 50; ++i) {
        Rec r = makeRec(i);
        ASSERT_EQ(src.write(r.data()), 0);
    }
    UtilFile dst("VLCVOUT", 8);
    const double old[1] = {42.0};
    ASSERT_EQ(dst.write(old), 0);

    ASSERT_EQ(copyUtilFile(src, dst), 0);
    EXPECT_EQ(dst.recordBytes(), sizeof(Rec));
    EXPECT_EQ(dst.count(), 50);
    EXPECT_EQ(src.count(), 50);
    EXPECT_EQ(src.position(), 1);
    EXPECT_EQ(dst.position(), 1);
    for (int i = 0; i < 50; ++i) {
        Rec r{};
        ASSERT_TRUE(dst.read(r.data()));
        EXPECT_EQ(r, makeRec(i)) << "record " << i;
    }
    Rec extra{};
    EXPECT_FALSE(dst.read(extra.data()));
    EXPECT_EQ(dst.lastError(), 0);
}

TEST(CopyUtilFile, AnEmptySourceLeavesAnEmptyTarget) {
    UtilFile src("VLCTEMP", 16);
    UtilFile dst("VLCVOUT", 16);
    const double old[2] = {1.0, 2.0};
    ASSERT_EQ(dst.write(old), 0);
    ASSERT_EQ(copyUtilFile(src, dst), 0);
    EXPECT_EQ(dst.count(), 0);
}

// A spilled copy holds its last records back until the rewind that ends it: when they cannot
// be written there (a full disk, here a file size limit), the copy fails with the disk's
// error instead of reporting success over a short file.
TEST(CopyUtilFile, RecordsThatFailAtTheRewindFailTheCopy) {
    const std::size_t saved = UtilFile::spillThreshold();
    UtilFile src("VLCTEMP", sizeof(Rec));
    for (int i = 0; i < 8000; ++i) { // 96 KB, in memory
        Rec r = makeRec(i);
        ASSERT_EQ(src.write(r.data()), 0);
    }
    UtilFile::setSpillThreshold(1000); // the copy goes to disk at once, its window unwritten
    {
        velloc::testing::FileSizeLimit limit(64 * 1024);
        ASSERT_TRUE(limit.ok());
        UtilFile dst("VLCVOUT", sizeof(Rec));
        EXPECT_EQ(copyUtilFile(src, dst), kUtilDiskFull);
        EXPECT_EQ(dst.lastError(), kUtilDiskFull);
    }
    UtilFile::setSpillThreshold(saved);
}

// Spilled files stay spilled through the exchange: the temporary file goes with the records.
TEST(SortInPlace, SortsTheFileWhoseNameStaysAndTheScratchKeepsItsOwn) {
    for (std::size_t threshold : {std::size_t{1} << 30, std::size_t{256}}) {
        const std::size_t saved = UtilFile::spillThreshold();
        UtilFile::setSpillThreshold(threshold);
        UtilFile file("VLCVOUT", 16), scratch("VLCTEMP", 8);
        for (int i = 0; i < 300; ++i) {
            const double rec[2] = {double((i * 37) % 101), double(i)};
            ASSERT_EQ(file.write(rec), 0);
        }
        const double junk = 5.0;
        ASSERT_EQ(scratch.write(&junk), 0);
        const SortKey key{0, true};
        ASSERT_EQ(sortInPlace(file, scratch, &key, 1), 0);
        EXPECT_EQ(file.name(), "VLCVOUT");
        EXPECT_EQ(scratch.name(), "VLCTEMP");
        EXPECT_EQ(file.spilled(), threshold < 300 * 16);
        EXPECT_EQ(file.count(), 300);
        EXPECT_EQ(file.position(), 1);
        double prev[2] = {1e9, -1.0}, rec[2];
        for (int i = 0; i < 300; ++i) {
            ASSERT_TRUE(file.read(rec)) << i;
            // Descending by the key, ties (i and i + 101 share one) in their first order.
            EXPECT_TRUE(rec[0] < prev[0] || (rec[0] == prev[0] && rec[1] > prev[1])) << i;
            EXPECT_EQ(static_cast<int>(rec[1]) * 37 % 101, static_cast<int>(rec[0])) << i;
            std::memcpy(prev, rec, sizeof rec);
        }
        EXPECT_FALSE(file.read(rec));
        EXPECT_EQ(file.lastError(), 0);
        // The scratch file can be emptied and reused with another record length.
        ASSERT_EQ(scratch.point(-2), 0);
        ASSERT_EQ(scratch.setRecordBytes(8), 0);
        ASSERT_EQ(scratch.write(&junk), 0);
        EXPECT_EQ(scratch.count(), 1);
        UtilFile::setSpillThreshold(saved);
    }
}

TEST(SortInPlace, ABadKeyLeavesTheFileAsItWas) {
    UtilFile file("VLCVOUT", 8), scratch("VLCTEMP", 8);
    for (int i = 0; i < 10; ++i) {
        const double v = 10.0 - i;
        ASSERT_EQ(file.write(&v), 0);
    }
    const SortKey outside{1, false};
    EXPECT_EQ(sortInPlace(file, scratch, &outside, 1), kUtilBadKey);
    file.point(0);
    double v = 0;
    ASSERT_TRUE(file.read(&v));
    EXPECT_EQ(v, 10.0);
    EXPECT_EQ(file.count(), 10);
}

// Records of (key, observation number, payload), sorted by the key down or up, then the
// observation number.
using KeyRec = std::array<double, 3>;
const SortKey kDown[2] = {{0, true}, {1, false}};
const SortKey kUp[2] = {{0, false}, {1, false}};

// The order zsort gives a key: NaN below everything, -0 equal to +0.
bool keyBelow(double a, double b) {
    if (std::isnan(b)) return false;
    if (std::isnan(a)) return true;
    return a < b;
}

std::vector<KeyRec> readAll(UtilFile& f) {
    std::vector<KeyRec> out;
    KeyRec r;
    f.point(0);
    while (f.read(r.data()))
        out.push_back(r);
    f.point(0);
    return out;
}

void writeAll(UtilFile& f, const std::vector<KeyRec>& recs) {
    ASSERT_EQ(f.point(-2), 0);
    for (const KeyRec& r : recs)
        ASSERT_EQ(f.write(r.data()), 0);
}

bool sameBits(const std::vector<KeyRec>& a, const std::vector<KeyRec>& b) {
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(KeyRec)) == 0;
}

// Restores the spill threshold when a test ends, passed or not.
struct Threshold {
    std::size_t saved = UtilFile::spillThreshold();
    explicit Threshold(std::size_t bytes) { UtilFile::setSpillThreshold(bytes); }
    ~Threshold() { UtilFile::setSpillThreshold(saved); }
};

// A file on disk is sorted into its own temporary file: the records it held go to the sorted
// runs, and the merge writes over the file, so the sort adds the runs' file and no other. The
// order is a stable sort's (random keys with ties, NaN and both zeros; two keys, the second
// descending), and a write that fails during the merge fails the sort.
TEST(SortInPlace, AFileOnDiskIsSortedIntoItselfThroughOneRunFile) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double values[] = {nan, -0.0, 0.0, 0.25, -1.5, 0.75, 1e-300, 2.0};
    std::mt19937 gen(11);
    const SortKey keys[2] = {{0, false}, {2, true}};
    for (int trial = 0; trial < 6; ++trial) {
        UtilFile::releasePool();
        const int before = openTempFiles();
        // Runs of 12 records, a file of 300 to 3,000.
        Threshold threshold(50 * sizeof(KeyRec));
        std::vector<KeyRec> recs;
        const int n = 300 + trial * 540;
        for (int i = 0; i < n; ++i)
            recs.push_back({values[gen() % std::size(values)], double(i), double(gen() % 5) - 2.0});
        UtilFile file("VLCVOUT", sizeof(KeyRec)), scratch("VLCTEMP", 8);
        writeAll(file, recs);
        ASSERT_TRUE(file.spilled());
        ASSERT_EQ(openTempFiles(), before + 1);

        std::vector<KeyRec> want = recs;
        std::stable_sort(want.begin(), want.end(), [](const KeyRec& a, const KeyRec& b) {
            if (keyBelow(a[0], b[0])) return true;
            if (keyBelow(b[0], a[0])) return false;
            return a[2] > b[2];
        });
        if (trial == 5) {
            UtilFile::injectFault(UtilFile::FaultOp::Write, "", 2);
            EXPECT_EQ(sortInPlace(file, scratch, keys, 2), kUtilIoError);
            UtilFile::clearInjectedFault();
            continue;
        }
        ASSERT_EQ(sortInPlace(file, scratch, keys, 2), 0) << trial;
        EXPECT_EQ(openTempFiles(), before + 2) << trial; // the file's own and the runs'
        EXPECT_TRUE(file.spilled());
        EXPECT_EQ(file.position(), 1);
        EXPECT_EQ(scratch.count(), 0);
        EXPECT_TRUE(sameBits(readAll(file), want)) << "trial " << trial;
    }
    UtilFile::releasePool();
}

// In memory and on disk (a threshold of 40 records: longer files spill, are read from the end
// in blocks of ten records, and tie groups of up to ten records are held whole).
TEST(TurnReversed, TurnsEitherDirectionAsAStableSortWouldOnRandomFilesWithTies) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double values[] = {nan, -0.0, 0.0, 0.25, 0.25, 0.5, -1.5, 0.75, 1e-300};
    std::mt19937 gen(7);
    for (int trial = 0; trial < 400; ++trial) {
        Threshold threshold(trial % 2 ? 40 * sizeof(KeyRec) : std::size_t{1} << 30);
        const int n = 1 + static_cast<int>(gen() % 70);
        std::vector<KeyRec> recs;
        for (int i = 0; i < n; ++i)
            recs.push_back({values[gen() % std::size(values)], double(gen() % 1000) + i * 1000.0,
                            double(trial * 100 + i)});
        // Score order: by key, then observation number.
        std::stable_sort(recs.begin(), recs.end(), [](const KeyRec& a, const KeyRec& b) {
            if (keyBelow(a[0], b[0])) return true;
            if (keyBelow(b[0], a[0])) return false;
            return a[1] < b[1];
        });
        std::vector<KeyRec> down = recs;
        std::stable_sort(down.begin(), down.end(),
                         [](const KeyRec& a, const KeyRec& b) { return keyBelow(b[0], a[0]); });

        UtilFile src("VLCTREAT", sizeof(KeyRec)), dst("VLCTEMP", 8);
        writeAll(src, recs);
        const bool onDisk = trial % 2 && n > 40;
        ASSERT_EQ(src.spilled(), onDisk);
        const double junk = 3.0;
        ASSERT_EQ(dst.write(&junk), 0);
        int rc = -1;
        // On disk a tie group of more than ten records is left to the sort.
        std::size_t longest = 0;
        for (std::size_t i = 0, run = 0; i < recs.size(); ++i) {
            run = i > 0 && !keyBelow(recs[i - 1][0], recs[i][0]) ? run + 1 : 1;
            longest = std::max(longest, run);
        }
        if (onDisk && longest > 10) {
            EXPECT_FALSE(turnReversed(src, dst, kDown, 2, rc)) << trial;
            continue;
        }
        ASSERT_TRUE(turnReversed(src, dst, kDown, 2, rc)) << trial;
        EXPECT_EQ(rc, 0);
        EXPECT_EQ(dst.recordBytes(), sizeof(KeyRec));
        EXPECT_EQ(dst.position(), 1);
        EXPECT_TRUE(sameBits(readAll(dst), down)) << "trial " << trial;
        // And back: descending by key, ties by observation number, turns into score order.
        ASSERT_TRUE(turnReversed(dst, src, kUp, 2, rc)) << trial;
        EXPECT_TRUE(sameBits(readAll(src), recs)) << "trial " << trial;
    }
}

// On disk the turn is made in the file itself (a threshold of 40 records: blocks of ten
// records, the file reversed a block from each end at a time, then each tie group put back in
// its order, groups straddling blocks). A group of ten records or more is too long for the
// block and is turned through the scratch file; one of more than ten is left to the sort.
TEST(TurnReversed, AFileOnDiskIsTurnedInPlaceAsAStableSortWouldOrderIt) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    std::mt19937 gen(5);
    for (int trial = 0; trial < 600; ++trial) {
        Threshold threshold(40 * sizeof(KeyRec));
        UtilFile::releasePool();
        const int before = openTempFiles();
        // Few distinct keys in some trials, so that long tie groups occur; every fifth trial
        // has a group of exactly ten records at a random place.
        const int distinct = trial % 3 == 0 ? 3 : 40;
        const int n = 41 + static_cast<int>(gen() % 160);
        std::vector<KeyRec> recs;
        const int tenAt =
            trial % 5 == 0 ? static_cast<int>(gen() % static_cast<unsigned>(n - 10)) : -1;
        for (int i = 0; i < n; ++i) {
            const int v = static_cast<int>(gen() % static_cast<unsigned>(distinct));
            double key = v == 0 ? nan : v * 0.125 - 1.0;
            if (trial % 5 == 0) key = i >= tenAt && i < tenAt + 10 ? 7.0 : double(i);
            recs.push_back({key, double(i), double(trial)});
        }
        std::stable_sort(recs.begin(), recs.end(),
                         [](const KeyRec& a, const KeyRec& b) { return keyBelow(a[0], b[0]); });
        std::vector<KeyRec> down = recs;
        std::stable_sort(down.begin(), down.end(),
                         [](const KeyRec& a, const KeyRec& b) { return keyBelow(b[0], a[0]); });
        std::size_t longest = 0;
        for (std::size_t i = 0, run = 0; i < recs.size(); ++i) {
            run = i > 0 && !keyBelow(recs[i - 1][0], recs[i][0]) ? run + 1 : 1;
            longest = std::max(longest, run);
        }
        UtilFile file("VLCTREAT", sizeof(KeyRec)), scratch("VLCTEMP", 8);
        writeAll(file, recs);
        ASSERT_TRUE(file.spilled());
        int rc = -1;
        const bool turned = turnReversedInPlace(file, scratch, kDown, 2, rc);
        if (longest > 10) {
            EXPECT_FALSE(turned) << trial;
            EXPECT_TRUE(sameBits(readAll(file), recs)) << "trial " << trial;
            continue;
        }
        ASSERT_TRUE(turned) << trial;
        ASSERT_EQ(rc, 0);
        EXPECT_EQ(file.position(), 1);
        EXPECT_TRUE(sameBits(readAll(file), down)) << "trial " << trial << " longest " << longest;
        // In place no second file is opened; the long groups' turn spills the scratch file.
        EXPECT_EQ(openTempFiles(), before + (longest < 10 ? 1 : 2)) << trial;
        // And back into score order through the sort in place.
        ASSERT_EQ(sortInPlace(file, scratch, kUp, 2), 0);
        EXPECT_TRUE(sameBits(readAll(file), recs)) << "trial " << trial;
    }
    UtilFile::releasePool();
}

TEST(TurnReversed, AFileOutOfThatOrderIsLeftToTheSort) {
    UtilFile src("VLCTREAT", sizeof(KeyRec)), dst("VLCTEMP", sizeof(KeyRec));
    const std::vector<KeyRec> before = {{9.0, 1.0, 0.0}};
    writeAll(dst, before);
    int rc = 0;
    // Keys out of order.
    writeAll(src, {{0.1, 1.0, 0.0}, {0.3, 2.0, 0.0}, {0.2, 3.0, 0.0}});
    EXPECT_FALSE(turnReversed(src, dst, kDown, 2, rc));
    // Ascending keys asked to be descending.
    EXPECT_FALSE(turnReversed(src, dst, kUp, 2, rc));
    // Ties whose observation numbers go down: the sort would order them otherwise.
    writeAll(src, {{0.1, 1.0, 0.0}, {0.3, 5.0, 0.0}, {0.3, 2.0, 0.0}});
    EXPECT_FALSE(turnReversed(src, dst, kDown, 2, rc));
    // A NaN key after numbers is out of order too (NaN sorts lowest).
    writeAll(src, {{0.1, 1.0, 0.0}, {std::nan(""), 2.0, 0.0}});
    EXPECT_FALSE(turnReversed(src, dst, kDown, 2, rc));
    EXPECT_TRUE(sameBits(readAll(dst), before));

    // The same on disk, where the order is checked in a pass of its own.
    Threshold threshold(2 * sizeof(KeyRec));
    UtilFile spilled("VLCTREAT", sizeof(KeyRec));
    writeAll(spilled, {{0.1, 1.0, 0.0}, {0.2, 2.0, 0.0}, {0.4, 3.0, 0.0}, {0.3, 4.0, 0.0}});
    ASSERT_TRUE(spilled.spilled());
    EXPECT_FALSE(turnReversed(spilled, dst, kDown, 2, rc));
    EXPECT_TRUE(sameBits(readAll(dst), before));
    EXPECT_EQ(readAll(spilled).size(), 4u);
}

} // namespace
