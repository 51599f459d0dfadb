// Copying a utility file: the target is emptied and takes the source's record length, every
// record arrives whole (also one whose length is not a multiple of 8), and both files end
// rewound. Sorting in place through a scratch file, in memory and spilled to disk.
#include <gtest/gtest.h>

#include <array>
#include <cstring>

#include "io/utility_copy.h"

using namespace velloc::host;

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

} // namespace
