// Copying a utility file: the target is emptied and takes the source's record length, every
// record arrives whole (also one whose length is not a multiple of 8), and both files end
// rewound.
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

} // namespace
