// Stata and SPSS files written by R haven and pandas (tests/data/formats, made by
// tests/reference/formats_fixtures.R and .py): every value, type, label and missing value as
// those scripts wrote them, BY groups across chunk boundaries, and damaged or misnamed files.
#include <cmath>
#include <filesystem>

#include "base/missing.h"
#include "dataset_test_util.h"
#include "io/stat_dataset.h"

using namespace velloc::host;
using velloc::host::testing::DataTest;
using velloc::host::testing::Rows;

namespace {

const std::string kFormats = std::string(VELLOC_TEST_DATA) + "/formats/";

// Formatted values as the labels read, without the leading blanks of right-justified numbers.
Rows readAll(Dataset& ds) {
    return velloc::host::testing::readAll(ds, true);
}

std::vector<double> column(const Rows& r, int var) {
    std::vector<double> c;
    for (const auto& row : r.num)
        c.push_back(row[static_cast<std::size_t>(var - 1)]);
    return c;
}

} // namespace

using StatRead = DataTest;

TEST_F(StatRead, HavenStataFileWithLabelsAndExtendedMissing) {
    // R: id 1:5; sex labelled 1 male, 2 female, values 1 2 2 1 .a; score 1.5 NA -2.25 1e10
    // 0.1; name "Ann" "Bob" "" "Désirée" "Eve".
    auto ds = Dataset::open(kFormats + "haven_labelled.dta");
    ASSERT_EQ(ds->nvars(), 4);
    EXPECT_EQ(ds->nobs(), 5);
    EXPECT_EQ(ds->var(1).name, "id");
    EXPECT_EQ(ds->var(2).name, "sex");
    EXPECT_EQ(ds->var(2).label, "Sex of respondent");
    EXPECT_EQ(ds->var(3).label, "Test score");
    EXPECT_EQ(ds->var(1).type, VarType::Numeric);
    EXPECT_EQ(ds->var(2).type, VarType::Numeric);
    EXPECT_EQ(ds->var(4).type, VarType::Character);
    EXPECT_EQ(ds->var(4).length, 9); // "Désirée" in UTF-8
    EXPECT_EQ(ds->find("SCORE"), 3);
    Rows r = readAll(*ds);
    ASSERT_EQ(r.num.size(), 5u);
    EXPECT_EQ(column(r, 1), (std::vector<double>{1, 2, 3, 4, 5}));
    EXPECT_EQ(r.num[0][1], 1.0);
    EXPECT_EQ(r.num[1][1], 2.0);
    EXPECT_TRUE(isMissing(r.num[4][1])) << ".a is missing";
    EXPECT_EQ(r.formatted[0][1], "male");
    EXPECT_EQ(r.formatted[2][1], "female");
    EXPECT_EQ(r.formatted[4][1], ".");
    EXPECT_EQ(r.num[0][2], 1.5);
    EXPECT_TRUE(isMissing(r.num[1][2]));
    EXPECT_EQ(r.num[2][2], -2.25);
    EXPECT_EQ(r.num[3][2], 1e10);
    EXPECT_EQ(r.num[4][2], 0.1);
    EXPECT_EQ(r.text[0][3], "Ann");
    EXPECT_EQ(r.text[2][3], "");
    EXPECT_EQ(r.text[3][3], "D\xC3\xA9sir\xC3\xA9"
                            "e");
    EXPECT_EQ(r.text[4][3], "Eve");
    EXPECT_TRUE(isMissing(ds->num(4))) << "after the last row nothing is current";
}

TEST_F(StatRead, HavenSpssUserMissingCompressedOrNot) {
    // R: smoke 0 1 9 1 95 labelled no/yes/refused, user-missing 9 and 90-99; bmi 22.5 NA
    // 31.25 19 27; site "north" "south" "north" "east" "".
    for (const char* name : {"haven_user_missing.sav", "haven_user_missing.zsav"}) {
        SCOPED_TRACE(name);
        auto ds = Dataset::open(kFormats + name);
        ASSERT_EQ(ds->nvars(), 4);
        EXPECT_EQ(ds->var(2).name, "smoke");
        EXPECT_EQ(ds->var(2).label, "Smoker");
        EXPECT_EQ(ds->var(3).label, "Body mass index");
        EXPECT_EQ(ds->var(4).type, VarType::Character);
        EXPECT_EQ(ds->var(4).length, 5);
        Rows r = readAll(*ds);
        ASSERT_EQ(r.num.size(), 5u);
        EXPECT_EQ(r.num[0][1], 0.0);
        EXPECT_EQ(r.num[1][1], 1.0);
        EXPECT_TRUE(isMissing(r.num[2][1])) << "user-missing value 9";
        EXPECT_TRUE(isMissing(r.num[4][1])) << "user-missing range 90-99";
        EXPECT_EQ(r.formatted[0][1], "no");
        EXPECT_EQ(r.formatted[1][1], "yes");
        EXPECT_EQ(r.formatted[2][1], ".") << "a missing value shows no label";
        EXPECT_EQ(r.num[0][2], 22.5);
        EXPECT_TRUE(isMissing(r.num[1][2]));
        EXPECT_EQ(r.num[2][2], 31.25);
        EXPECT_EQ(r.text[0][3], "north");
        EXPECT_EQ(r.text[3][3], "east");
        EXPECT_EQ(r.text[4][3], "");
    }
}

TEST_F(StatRead, PandasToStataCategoricalsAndLabels) {
    // pandas: id 1..4 (int32); arm categorical drug/placebo (codes 0/1 with value labels);
    // dose 10.5 NaN 0 -1.5; note "x" "yy" "" "zzz".
    auto ds = Dataset::open(kFormats + "pandas_to_stata.dta");
    ASSERT_EQ(ds->nvars(), 4);
    EXPECT_EQ(ds->var(2).label, "Treatment arm");
    EXPECT_EQ(ds->var(3).label, "Dose in mg");
    EXPECT_EQ(ds->var(2).type, VarType::Numeric);
    EXPECT_EQ(ds->var(4).type, VarType::Character);
    EXPECT_EQ(ds->var(4).length, 3);
    Rows r = readAll(*ds);
    ASSERT_EQ(r.num.size(), 4u);
    EXPECT_EQ(column(r, 1), (std::vector<double>{1, 2, 3, 4}));
    EXPECT_EQ(r.formatted[0][1], "drug");
    EXPECT_EQ(r.formatted[1][1], "placebo");
    EXPECT_EQ(r.num[3][1], 1.0);
    EXPECT_EQ(r.num[0][2], 10.5);
    EXPECT_TRUE(isMissing(r.num[1][2]));
    EXPECT_EQ(r.num[3][2], -1.5);
    EXPECT_EQ(r.text[1][3], "yy");
    EXPECT_EQ(r.text[2][3], "");
}

TEST_F(StatRead, ByGroupsAcrossChunksWithRewind) {
    // lalonde.dta holds the 185 treated men first (treat 1), then the 429 controls.
    setStatChunkBytes(200); // a few rows per chunk
    auto ds = Dataset::open(kFormats + "lalonde.dta");
    setStatChunkBytes(8 << 20);
    const int treat = ds->find("treat"), id = ds->find("id");
    ds->setBy({{treat, true}}, false);
    std::vector<std::int64_t> sizes;
    std::vector<std::string> by;
    while (ds->nextGroup() > 0) {
        std::int64_t n = 0;
        double firstId = -1;
        while (ds->nextObs()) {
            if (n++ == 0) firstId = ds->num(id);
        }
        // A second pass over the group sees the same rows.
        ds->rewindGroup();
        std::int64_t again = 0;
        while (ds->nextObs()) {
            if (again++ == 0) {
                EXPECT_EQ(ds->num(id), firstId);
            }
        }
        EXPECT_EQ(again, n);
        sizes.push_back(n);
        by.push_back(ds->byDescription().at(0));
    }
    EXPECT_EQ(sizes, (std::vector<std::int64_t>{185, 429}));
    EXPECT_EQ(by, (std::vector<std::string>{"treat=1", "treat=0"}));

    auto asc = Dataset::open(kFormats + "lalonde.dta");
    asc->setBy({{treat, false}}, false);
    log_.str("");
    ASSERT_EQ(asc->nextGroup(), 1);
    while (asc->nextObs()) {
    }
    EXPECT_LT(asc->nextGroup(), 0);
    EXPECT_NE(log().find("is not sorted by the BY variables treat: observation 186 is out of "
                         "order"),
              std::string::npos)
        << log();
}

TEST_F(StatRead, MisnamedDamagedAndMissingFilesNameTheFile) {
    namespace fs = std::filesystem;
    // A CSV file named .dta, a Stata file named .sav.
    std::string p = path("csv.dta");
    fs::copy_file(kFormats + "r_write_csv.csv", p);
    std::string msg = openFails(p);
    EXPECT_NE(msg.find("ERROR: The data set file " + p +
                       " is named .dta, but its first bytes are not those of Stata data"),
              std::string::npos)
        << msg;
    p = path("stata.sav");
    fs::copy_file(kFormats + "haven_labelled.dta", p);
    msg = openFails(p);
    EXPECT_NE(msg.find("[900-504]"), std::string::npos) << msg;
    EXPECT_NE(msg.find(p + " is named .sav, but its first bytes are not those of SPSS data"),
              std::string::npos)
        << msg;
    // Cut short inside the data.
    std::string whole = read(kFormats + "lalonde.dta");
    p = write("cut.dta", whole.substr(0, whole.size() / 2));
    msg = openFails(p);
    EXPECT_NE(msg.find("ERROR: The data set file " + p + " cannot be read as Stata data"),
              std::string::npos)
        << msg;
    whole = read(kFormats + "haven_user_missing.zsav");
    p = write("cut.zsav", whole.substr(0, whole.size() - 40));
    msg = openFails(p);
    EXPECT_NE(msg.find("[900-503]"), std::string::npos) << msg;
    msg = openFails(path("absent.dta"));
    EXPECT_NE(msg.find("[900-1]"), std::string::npos) << msg;
    EXPECT_EQ(statKindFor("a/B.DTA"), StatKind::Dta);
    EXPECT_EQ(statKindFor("x.zsav"), StatKind::Sav);
    EXPECT_EQ(statKindFor("x.por"), StatKind::Por);
    EXPECT_EQ(statKindFor("dir.dta/x.csv"), StatKind::None);
}
