// Model rows: scaling, the treated level, group labels, the assessed CLASS variables and the
// conditions that abandon a BY group.
#include <cmath>
#include <cstring>
#include <string>

#include "core/model_rows.h"
#include "input/input.h"
#include "input_fixture.h"
#include "io/utility_file.h"

namespace {

using namespace velloc;
using namespace velloc::testing;

const char* kYesNo = "t,x\nYES,1\nno,2\nYES,3\nno,4\nYES,2.5\nno,3.5\n";

TEST(ModelRows, ContinuousVariablesAreDividedByAQuarterOfTheirRange) {
    // x spans 1..9: scale 2. c is constant and y's range is negligible against its size
    // (0.25 <= 0.00001 * 1000001): both enter unscaled.
    StepRun r = runOnCsv("t,c,x,y\n"
                         "1,5,1,1000000\n"
                         "1,5,3,1000001\n"
                         "1,5,9,1000000\n"
                         "0,5,2,1000001\n"
                         "0,5,4,1000000\n"
                         "0,5,8,1000001\n",
                         "class t; psmodel t(treated='1') = c x y;");
    ASSERT_EQ(r.groups.size(), 1u) << r.log;
    const GroupSnap& g = r.groups[0];
    EXPECT_EQ(g.scale, (std::vector<double>{1.0, 2.0, 1.0}));
    ASSERT_EQ(g.D, 4);
    ASSERT_EQ(g.lreg.size(), 6u);
    const double x[] = {1, 3, 9, 2, 4, 8};
    for (std::size_t i = 0; i < 6; ++i) {
        EXPECT_EQ(g.lreg[i][kRowObs], double(i + 1));
        EXPECT_EQ(g.lreg[i][kRowTreat], i < 3 ? 1.0 : 0.0);
        EXPECT_EQ(g.lreg[i][kRowDesign], 1.0);
        EXPECT_EQ(g.lreg[i][kRowDesign + 1], 5.0);
        EXPECT_EQ(g.lreg[i][kRowDesign + 2], x[i] / 2);
        EXPECT_EQ(g.lreg[i][kRowDesign + 3], i % 2 ? 1000001.0 : 1000000.0);
    }
}

// Each BY group scales by its own range, over the rows it uses: a row left out for a missing
// value elsewhere does not widen the range, nor does the previous group's.
TEST(ModelRows, ScalesComeFromTheGroupsUsableRowsOnly) {
    StepRun r = runOnCsv("g,t,x,z\n"
                         "1,1,0,1\n"
                         "1,0,40,1\n"
                         "1,1,20,2\n"
                         "1,0,12,2\n"
                         "2,1,1,1\n"
                         "2,0,1000,.\n" // left out: z is missing
                         "2,1,9,2\n"
                         "2,0,5,2\n",
                         "by g; class t; psmodel t(treated='1') = x z;");
    ASSERT_EQ(r.groups.size(), 2u) << r.log;
    // Group 1: x spans 0..40 (scale 10), z 1..2 (0.25). Group 2: x 1..9 (2), z 1..2.
    EXPECT_EQ(r.groups[0].scale, (std::vector<double>{10.0, 0.25}));
    EXPECT_EQ(r.groups[1].scale, (std::vector<double>{2.0, 0.25}));
}

TEST(ModelRows, TreatedTextMatchesALevelIgnoringCase) {
    // Byte order puts "YES" before "no": YES is level 0.
    StepRun r = runOnCsv(kYesNo, "class t; psmodel t(treated='yes') = x;");
    ASSERT_EQ(r.groups.size(), 1u) << r.log;
    const GroupSnap& g = r.groups[0];
    EXPECT_EQ(g.treatedIndex, 0);
    EXPECT_EQ(g.treatedLevel, "YES");
    EXPECT_EQ(g.controlLevel, "no");
    EXPECT_EQ(g.treatedLabel, "Treated (t = YES)");
    EXPECT_EQ(g.controlLabel, "Control (t = no)");
    for (std::size_t i = 0; i < g.lreg.size(); ++i)
        EXPECT_EQ(g.lreg[i][kRowTreat], i % 2 == 0 ? 1.0 : 0.0);
    EXPECT_FALSE(r.logged(320));
}

TEST(ModelRows, WithoutTreatedTheFirstLevelIsTreatedAndTheLogSaysSo) {
    StepRun r = runOnCsv(kYesNo, "class t; psmodel t = x;");
    ASSERT_EQ(r.groups.size(), 1u) << r.log;
    EXPECT_EQ(r.groups[0].treatedLevel, "YES");
    EXPECT_EQ(r.count(320), 1);
    EXPECT_NE(r.log.find("'YES'"), std::string::npos);

    StepRun last = runOnCsv(kYesNo, "class t; psmodel t(treated=last) = x;");
    ASSERT_EQ(last.groups.size(), 1u) << last.log;
    EXPECT_EQ(last.groups[0].treatedLevel, "no");
    EXPECT_EQ(last.groups[0].lreg[0][kRowTreat], 0.0);
    EXPECT_FALSE(last.logged(320));

    StepRun first = runOnCsv(kYesNo, "class t; psmodel t(treated=first) = x;");
    ASSERT_EQ(first.groups.size(), 1u) << first.log;
    EXPECT_EQ(first.groups[0].treatedLevel, "YES");
    EXPECT_FALSE(first.logged(320));
}

TEST(ModelRows, AnUnknownTreatedLevelAbandonsTheGroup) {
    StepRun r = runOnCsv(kYesNo, "class t; psmodel t(treated='ye') = x;");
    ASSERT_EQ(r.groups.size(), 1u) << r.log;
    EXPECT_EQ(r.groups[0].rc, 1);
    EXPECT_EQ(r.count(227), 1);
    EXPECT_TRUE(r.groups[0].coef.empty()); // no fit
    EXPECT_EQ(r.code, 112);
}

TEST(ModelRows, ThreeTreatmentLevelsAbandonOnlyThatGroup) {
    StepRun r = runOnCsv("g,t,x\n"
                         "1,a,1\n1,b,2\n1,c,3\n1,a,4\n1,b,5\n"
                         "2,a,1\n2,b,2\n2,a,3\n2,b,4\n2,a,3.5\n2,b,2.5\n",
                         "by g; class t; psmodel t(treated='a') = x;");
    ASSERT_EQ(r.groups.size(), 2u) << r.log;
    EXPECT_EQ(r.groups[0].rc, 1);
    EXPECT_EQ(r.count(225), 1);
    EXPECT_EQ(r.groups[1].rc, 0);
    EXPECT_EQ(r.groups[1].coef.size(), 2u);
    EXPECT_EQ(r.code, 112);
}

TEST(ModelRows, FewerThanTwoRowsInAGroupAbandonIt) {
    StepRun one = runOnCsv("t,x\n1,1\n0,2\n0,3\n0,4\n", "class t; psmodel t(treated='1') = x;");
    ASSERT_EQ(one.groups.size(), 1u) << one.log;
    EXPECT_EQ(one.groups[0].rc, 1);
    EXPECT_EQ(one.groups[0].nTreated, 1);
    EXPECT_EQ(one.count(228), 1);
    EXPECT_FALSE(one.logged(229));

    StepRun ctl = runOnCsv("t,x\n1,1\n0,2\n1,3\n1,4\n", "class t; psmodel t(treated='1') = x;");
    ASSERT_EQ(ctl.groups.size(), 1u) << ctl.log;
    EXPECT_EQ(ctl.groups[0].rc, 1);
    EXPECT_EQ(ctl.count(229), 1);
    EXPECT_EQ(ctl.code, 112);
}

TEST(ModelRows, AssessedClassVariablesGetAnIndicatorColumnPerLevel) {
    // h has three levels: a column per level (p, q, r) and a note. k has two, f before m: one
    // column, the indicator of f. u has one level: one column, always 1, and its own note.
    StepRun r = runOnCsv("t,h,k,u,x\n"
                         "1,p,m,z,1\n1,q,f,z,5\n1,r,m,z,3\n"
                         "0,p,f,z,4\n0,q,m,z,2\n0,r,f,z,6\n",
                         "class t h k u; psmodel t(treated='1') = x; assess var=(h k u);");
    ASSERT_EQ(r.groups.size(), 1u) << r.log;
    const GroupSnap& g = r.groups[0];
    EXPECT_EQ(r.count(973), 1);
    EXPECT_NE(r.log.find("variable h has 3 levels in this BY group; it is assessed as one "
                         "indicator row per level"),
              std::string::npos)
        << r.log;
    EXPECT_EQ(r.count(974), 1);
    EXPECT_NE(r.log.find("variable u has one level ('z')"), std::string::npos) << r.log;
    EXPECT_FALSE(r.logged(226));
    EXPECT_EQ(g.nAssessClass2, 3);
    ASSERT_EQ(g.indicators.size(), 5u);
    const char* text[] = {"p", "q", "r", "f", "z"};
    const int cls[] = {0, 0, 0, 1, 2}, level[] = {0, 1, 2, 0, 0};
    for (std::size_t c = 0; c < 5; ++c) {
        EXPECT_EQ(g.indicators[c].text, text[c]) << c;
        EXPECT_EQ(g.indicators[c].cls, cls[c]) << c;
        EXPECT_EQ(g.indicators[c].level, level[c]) << c;
    }
    EXPECT_EQ(g.indicators[3].complement, "m");
    EXPECT_EQ(g.indicators[0].complement, "");
    // Binary slots follow x, PS and LPS, one per column, none left out.
    EXPECT_EQ(g.excluded, std::vector<unsigned char>(8, 0));
    const char* h = "pqrpqr";
    const char* k = "mfmfmf";
    ASSERT_EQ(g.lreg.size(), 6u);
    for (std::size_t i = 0; i < g.lreg.size(); ++i) {
        for (int l = 0; l < 3; ++l)
            EXPECT_EQ(g.lreg[i][g.lregClass + l], h[i] == "pqr"[l] ? 1.0 : 0.0) << i << " " << l;
        EXPECT_EQ(g.lreg[i][g.lregClass + 3], k[i] == 'f' ? 1.0 : 0.0);
        EXPECT_EQ(g.lreg[i][g.lregClass + 4], 1.0);
    }
    EXPECT_EQ(g.lregCont, g.lregClass + 5);
    EXPECT_EQ(r.code, 0) << r.log;
}

TEST(ModelRows, LevelTextsAreCutUnlessTwoWouldReadAlike) {
    // Three levels alike in their first 16 bytes stay whole; a cut shorter one would too.
    StepRun r = runOnCsv("t,h,k,x\n"
                         "1,abcdefghijklmnopA,abcdefghijklmnopqrs,1\n"
                         "1,abcdefghijklmnopB,b,2\n1,c,abcdefghijklmnopqrs,3\n"
                         "0,abcdefghijklmnopA,b,4\n0,abcdefghijklmnopB,abcdefghijklmnopqrs,5\n"
                         "0,c,b,6\n",
                         "class t h k; psmodel t(treated='1') = x; assess var=(h k);");
    ASSERT_EQ(r.groups.size(), 1u) << r.log;
    const GroupSnap& g = r.groups[0];
    ASSERT_EQ(g.indicators.size(), 4u);
    EXPECT_EQ(g.indicators[0].text, "abcdefghijklmnopA");
    EXPECT_EQ(g.indicators[1].text, "abcdefghijklmnopB");
    EXPECT_EQ(g.indicators[2].text, "c");
    EXPECT_EQ(g.indicators[3].text, "abcdefghijklmnop");
    EXPECT_EQ(g.indicators[3].complement, "b");
}

TEST(ModelRows, LongLabelsAreShortenedWithAWarning) {
    // 23 + 20 characters exceed 30: the name keeps 12, the level the other 18. The control
    // label (23 + 7 = 30) fits.
    StepRun r = runOnCsv("treatment_received_flag,x\n"
                         "received_the_program,1\ncontrol,2\nreceived_the_program,3\n"
                         "control,4\nreceived_the_program,2.5\ncontrol,3.5\n",
                         "class treatment_received_flag;"
                         " psmodel treatment_received_flag(treated='received_the_program') = x;");
    ASSERT_EQ(r.groups.size(), 1u) << r.log;
    const GroupSnap& g = r.groups[0];
    EXPECT_EQ(g.treatedLabel, "Treated (treatment_re = received_the_progr)");
    EXPECT_EQ(g.controlLabel, "Control (treatment_received_flag = control)");
    EXPECT_EQ(g.treatedLevel, "received_the_program");
    EXPECT_EQ(r.count(230), 1);
    EXPECT_FALSE(r.logged(231));
}

// A large group's model rows are written by two threads, each from half of the records: the
// same rows (levels, one only in each half, indicators, missing values, zero weights, ID text)
// and counts as one thread writes when the files are on disk.
TEST(ModelRows, TwoThreadsWriteTheRowsOneThreadWrites) {
    std::string csv = "id,t,c,x,w\n";
    for (int i = 0; i < 170000; ++i) {
        // "top" only in the second half, "first" only in the first.
        const char* level[] = {"low", "mid", "high", "", "top", "first"};
        const int c = i % 7 == 0                  ? 3
                      : i >= 160000 && i % 4 == 0 ? 4
                      : i < 1000 && i % 4 == 0    ? 5
                                                  : (i / 5) % 3;
        csv += "p" + std::to_string(i) + "," + (i % 3 == 0 ? "yes" : "no") + "," + level[c] + "," +
               (i % 11 == 0 ? std::string(".") : std::to_string((i * 7919) % 1000 / 7.0)) + "," +
               (i % 13 == 0 ? "0" : "1.5") + "\n";
    }
    const char* body = "class t c; id id; psmodel t(treated='yes') = c x / weight=w;"
                       " assess var=(c x);";
    StepRun inMemory = runOnCsv(csv, body);
    const std::size_t keep = host::UtilFile::spillThreshold();
    host::UtilFile::setSpillThreshold(4096);
    StepRun onDisk = runOnCsv(csv, body);
    host::UtilFile::setSpillThreshold(keep);
    ASSERT_EQ(inMemory.groups.size(), 1u) << inMemory.log;
    ASSERT_EQ(onDisk.groups.size(), 1u) << onDisk.log;
    const GroupSnap& a = inMemory.groups[0];
    const GroupSnap& b = onDisk.groups[0];
    ASSERT_GT(a.lreg.size(), 131072u);
    EXPECT_EQ(a.D, b.D);
    EXPECT_EQ(a.D, 1 + 5 + 1); // intercept, five levels of c, x
    ASSERT_EQ(a.lreg.size(), b.lreg.size());
    for (std::size_t i = 0; i < a.lreg.size(); ++i)
        ASSERT_EQ(0, std::memcmp(a.lreg[i].data(), b.lreg[i].data(), a.lreg[i].size() * 8))
            << "model row " << i + 1;
    EXPECT_EQ(a.nTreated, b.nTreated);
    EXPECT_EQ(a.nControl, b.nControl);
    EXPECT_EQ(a.freqTreated, b.freqTreated);
    EXPECT_EQ(a.freqControl, b.freqControl);
    EXPECT_GT(a.nTreated, 40000);
    EXPECT_GT(a.nControl, 80000);
    // Both halves hold zero-weight rows, and the last input row is the last model row.
    const std::size_t half = a.lreg.size() / 2;
    int zero[2] = {0, 0};
    for (std::size_t i = 0; i < a.lreg.size(); ++i)
        zero[i < half ? 0 : 1] += a.lreg[i][kRowWeight] == 0.0;
    EXPECT_GT(zero[0], 1000);
    EXPECT_GT(zero[1], 1000);
    EXPECT_EQ(a.lreg.back()[kRowObs], 170000.0);
}

} // namespace

// A cursor over a range of the copy of the input on disk reads it by number, a block at a
// time: exactly the records of its range, in order, across block ends, whatever the file's
// position (the other half's cursor and the file's own reader do not move it).
TEST(ModelRows, ACursorOverARangeOfTheSpilledCopyVisitsItsRecordsInOrder) {
    struct SmallThreshold {
        std::size_t keep = host::UtilFile::spillThreshold();
        SmallThreshold() { host::UtilFile::setSpillThreshold(4096); }
        ~SmallThreshold() { host::UtilFile::setSpillThreshold(keep); }
    } spill;
    VlcRun run;
    run.dataRecBytes = 3 * 8;
    run.vlcdata = std::make_unique<host::UtilFile>("VLCDATA", run.dataRecBytes);
    const int n = 10000; // blocks of 4096 records: the ranges below cross two block ends
    for (int i = 0; i < n; ++i) {
        const double rec[3] = {static_cast<double>(i), 2.0 * i, -1.0};
        ASSERT_EQ(run.vlcdata->write(rec), 0);
    }
    ASSERT_EQ(run.vlcdata->point(0), 0);
    ASSERT_TRUE(run.vlcdata->spilled());
    ASSERT_EQ(run.vlcdata->point(17), 0); // the file's own position stays where it is
    for (auto [from, to] : {std::pair{0, n}, std::pair{4095, 8193}, std::pair{n - 1, n}}) {
        DataCursor cursor(run, static_cast<std::size_t>(from), static_cast<std::size_t>(to));
        ASSERT_EQ(cursor.vlcxini(), 0);
        int next = from;
        while (cursor.vlcxnxt() == 1) {
            ASSERT_EQ(cursor.record()[0], next) << from << ".." << to;
            ASSERT_EQ(cursor.record()[1], 2.0 * next);
            ++next;
        }
        EXPECT_EQ(next, to);
    }
    EXPECT_EQ(run.vlcdata->position(), 17);
}
