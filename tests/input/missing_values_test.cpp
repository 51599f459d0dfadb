// Observations that missing values leave out are counted in the log per BY group with the
// variables responsible; zero-weight rows that lack a value the analysis needs stay in the
// files but take part in no group; a refused treatment level list shows what the data hold.
#include <cmath>

#include "core/model_rows.h"
#include "input/input_messages.h"
#include "input_fixture.h"

namespace {

using namespace velloc;
using namespace velloc::testing;

TEST(MissingValues, EachByGroupNotesItsLeftOutRowsAndTheVariables) {
    // Group 1 leaves out three rows: x missing (twice, once with z), t missing. Group 2 one
    // row, z missing. Group 3 none.
    StepRun r = runOnCsv("g,t,x,z\n"
                         "1,1,1,5\n1,0,2,6\n1,1,.,7\n1,0,3,8\n1,1,4,.\n1,0,.,.\n1,,5,9\n1,0,6,1\n"
                         "1,1,2,2\n"
                         "2,1,1,5\n2,0,2,6\n2,1,3,.\n2,0,3,8\n2,1,4,2\n2,0,5,3\n"
                         "3,1,1,5\n3,0,2,6\n3,1,3,4\n3,0,3,8\n",
                         "by g; class t; psmodel t(treated='1') = x z;");
    ASSERT_EQ(r.groups.size(), 3u) << r.log;
    // Rows of group 1: 3 (x), 5 (z), 6 (x, z), 7 (t): four left out; x in 2, z in 2, t in 1.
    EXPECT_EQ(r.groups[0].nObsRead, 5);
    EXPECT_NE(r.log.find("4 observations of this BY group were not used because of missing "
                         "values in x (2), z (2), t (1). [1049-970]"),
              std::string::npos)
        << r.log;
    EXPECT_NE(r.log.find("1 observation of this BY group was not used because of missing "
                         "values in z. [1049-971]"),
              std::string::npos)
        << r.log;
    EXPECT_EQ(r.count(kMsgLeftOutMissing), 1);
    EXPECT_EQ(r.count(kMsgLeftOutMissingOne), 1);
    EXPECT_EQ(host::messageSeverity(host::kGroupProc, kMsgLeftOutMissing), host::Severity::Note);
    EXPECT_EQ(host::messageSeverity(host::kGroupProc, kMsgLeftOutMissingOne), host::Severity::Note);
}

TEST(MissingValues, ZeroWeightRowsAndAssessOnlyVariablesAreNotCounted) {
    // The zero-weight row is written whatever it lacks; a missing assessment-only value
    // leaves nothing out (it drops the variable with 223).
    StepRun r = runOnCsv("t,x,a,w\n"
                         "1,1,1,1\n0,2,2,1\n1,3,.,1\n0,4,4,1\n1,.,5,0\n0,2.5,6,1\n1,.,7,1\n",
                         "class t; psmodel t(treated='1') = x / weight=w; assess var=(a);");
    ASSERT_EQ(r.groups.size(), 1u) << r.log;
    EXPECT_NE(r.log.find("1 observation of this BY group was not used because of missing "
                         "values in x."),
              std::string::npos)
        << r.log;
    EXPECT_FALSE(r.logged(kMsgLeftOutMissing));
}

TEST(MissingValues, ManyVariablesAreListedShortened) {
    // Twelve model variables, each missing in one row of its own.
    std::string head = "t";
    for (int j = 1; j <= 12; ++j)
        head += ",v" + std::to_string(j);
    std::string csv = head + "\n";
    for (int i = 0; i < 6; ++i) {
        csv += i % 2 ? "0" : "1";
        for (int j = 1; j <= 12; ++j)
            csv += "," + std::to_string((i * 7 + j * 3) % 11);
        csv += "\n";
    }
    for (int miss = 1; miss <= 12; ++miss) {
        csv += miss % 2 ? "1" : "0";
        for (int j = 1; j <= 12; ++j)
            csv += j == miss ? std::string(",.") : "," + std::to_string(j);
        csv += "\n";
    }
    std::string model = "class t; psmodel t(treated='1') =";
    for (int j = 1; j <= 12; ++j)
        model += " v" + std::to_string(j);
    StepRun r = runOnCsv(csv, model + ";");
    EXPECT_NE(r.log.find("12 observations of this BY group were not used because of missing "
                         "values in v1 (1), v2 (1), v3 (1), v4 (1), v5 (1), v6 (1), v7 (1), "
                         "v8 (1), v9 (1), v10 (1) and 2 more."),
              std::string::npos)
        << r.log;
}

TEST(MissingValues, ZeroWeightRowsLackingAValueTakePartInNoGroup) {
    // Rows 5 (treatment missing) and 6 (covariate missing) have weight 0: written, but in no
    // group, so the group counts are those of the other six rows. Row 5 can still be scored
    // (-2), row 6 cannot (-1).
    StepRun r = runOnCsv("t,x,w\n"
                         "1,1,1\n0,2,1\n1,3,1\n0,4,1\n,5,0\n0,.,0\n1,2.5,0\n0,3.5,1\n",
                         "class t; psmodel t(treated='1') = x / weight=w;");
    ASSERT_EQ(r.groups.size(), 1u) << r.log;
    const GroupSnap& g = r.groups[0];
    ASSERT_EQ(g.lreg.size(), 8u);
    const double want[] = {1, 0, 1, 0, -2, -1, 1, 0};
    for (std::size_t i = 0; i < 8; ++i)
        EXPECT_EQ(g.lreg[i][kRowTreat], want[i]) << "row " << i + 1;
    // The zero-weight row 7 with every value is a treated unit like any other.
    EXPECT_EQ(g.nTreated, 3);
    EXPECT_EQ(g.nControl, 3);
    EXPECT_EQ(g.freqTreated, 3);
    EXPECT_EQ(g.freqControl, 3);
}

TEST(MissingValues, RefusedTreatmentLevelsAreListed) {
    StepRun r = runOnCsv("t,x\nYES,1\nno,2\nYES,3\nno,4\nYES,2.5\nno,3.5\n",
                         "class t; psmodel t(treated='ye') = x;");
    EXPECT_NE(r.log.find("The TREATED= level 'ye' is not a level of the treatment variable t in "
                         "this BY group, whose levels are 'YES', 'no'; the BY group is skipped."),
              std::string::npos)
        << r.log;
    EXPECT_EQ(r.code, 112);

    // Twelve levels: the first ten in level order, then how many more.
    std::string csv = "t,x\n";
    for (char c = 'a'; c <= 'l'; ++c)
        for (int k = 0; k < 2; ++k)
            csv += std::string(1, c) + "," + std::to_string((c - 'a') * 2 + k) + "\n";
    StepRun many = runOnCsv(csv, "class t; psmodel t(treated='a') = x;");
    EXPECT_NE(many.log.find("has 12 levels in this BY group ('a', 'b', 'c', 'd', 'e', 'f', 'g', "
                            "'h', 'i', 'j' and 2 more), but exactly two are required"),
              std::string::npos)
        << many.log;
}

} // namespace
