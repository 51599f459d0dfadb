// CSV files as R's write.csv and pandas' to_csv write them (tests/data/formats, made by
// tests/reference/formats_fixtures.R and .py): NA and empty cells, row-name columns,
// Windows-1252 bytes, and the error for a stray text cell in a numeric column.
#include <cmath>

#include "base/exit_codes.h"
#include "base/missing.h"
#include "dataset_test_util.h"
#include "io/text_encoding.h"

using namespace velloc::host;
using velloc::host::testing::DataTest;
using velloc::host::testing::readAll;
using velloc::host::testing::Rows;

namespace {

const std::string kFormats = std::string(VELLOC_TEST_DATA) + "/formats/";

} // namespace

using CsvFromR = DataTest;

TEST_F(CsvFromR, WriteCsvRowNamesAndNaRead) {
    // R wrote: row names r1..r4; id 1..4; age 34.5 NA 51 28; grp "a" NA "b" "NA".
    std::string p = kFormats + "r_write_csv.csv";
    auto ds = Dataset::open(p);
    EXPECT_NE(log().find("NOTE: The data set file " + p + " has no name for its first column"),
              std::string::npos)
        << log();
    EXPECT_NE(log().find("[900-500]"), std::string::npos) << log();
    ASSERT_EQ(ds->nvars(), 4);
    EXPECT_EQ(ds->var(1).name, "_ROWNAME_");
    EXPECT_EQ(ds->var(1).type, VarType::Character);
    EXPECT_EQ(ds->var(2).type, VarType::Numeric);
    EXPECT_EQ(ds->var(3).type, VarType::Numeric) << "NA keeps the column numeric";
    EXPECT_EQ(ds->var(4).type, VarType::Character);
    EXPECT_EQ(ds->find("_rowname_"), 1);
    Rows r = readAll(*ds);
    ASSERT_EQ(r.num.size(), 4u);
    EXPECT_EQ(r.text[0][0], "r1");
    EXPECT_EQ(r.text[3][0], "r4");
    EXPECT_EQ(r.num[0][2], 34.5);
    EXPECT_TRUE(isMissing(r.num[1][2]));
    EXPECT_EQ(r.formatted[1][2], std::string(11, ' ') + ".");
    EXPECT_EQ(r.num[2][2], 51.0);
    // The unquoted NA is R's missing text; the quoted "NA" is the two letters.
    EXPECT_EQ(r.text[0][3], "a");
    EXPECT_EQ(r.text[1][3], "");
    EXPECT_EQ(r.formatted[1][3], "");
    EXPECT_EQ(r.text[3][3], "NA");
}

TEST_F(CsvFromR, PandasIndexColumnAndEmptyCells) {
    // pandas wrote: index u v w; x 1.25 NaN 3.0; label "p" None "r" (NaN and None as nothing).
    auto ds = Dataset::open(kFormats + "pandas_to_csv.csv");
    ASSERT_EQ(ds->nvars(), 3);
    EXPECT_EQ(ds->var(1).name, "_ROWNAME_");
    EXPECT_EQ(ds->var(2).type, VarType::Numeric);
    EXPECT_EQ(ds->var(3).type, VarType::Character);
    Rows r = readAll(*ds);
    ASSERT_EQ(r.num.size(), 3u);
    EXPECT_EQ(r.text[1][0], "v");
    EXPECT_EQ(r.num[0][1], 1.25);
    EXPECT_TRUE(isMissing(r.num[1][1]));
    EXPECT_EQ(r.num[2][1], 3.0);
    EXPECT_EQ(r.text[1][2], "");
}

TEST_F(CsvFromR, NaOnlyMeansMissingAsAWholeUnquotedCell) {
    // "na", "NaN" and "NA " with other letters stay text; " NA " with blanks is missing as
    // " . " is; a later unnamed column is still an invalid name.
    auto ds = Dataset::open(write("na.csv", "a,b,c\n1,NA,x\n2, NA ,NAN\n3,4,na\n"));
    EXPECT_EQ(ds->var(2).type, VarType::Numeric);
    EXPECT_EQ(ds->var(3).type, VarType::Character);
    Rows r = readAll(*ds);
    EXPECT_TRUE(isMissing(r.num[0][1]));
    EXPECT_TRUE(isMissing(r.num[1][1]));
    EXPECT_EQ(r.num[2][1], 4.0);
    EXPECT_EQ(r.text[1][2], "NAN");
    EXPECT_EQ(r.text[2][2], "na");
    std::string msg = openFails(write("gap.csv", "a,,c\n1,2,3\n"));
    EXPECT_NE(msg.find("[900-6]"), std::string::npos) << msg;
    // A one-column file with an empty header is not a row-name column.
    msg = openFails(write("one.csv", "\n1\n"));
    EXPECT_EQ(msg.find("[900-500]"), std::string::npos) << msg;
}

TEST_F(CsvFromR, RowNameColumnCollidingWithAVariable) {
    std::string msg = openFails(write("dup.csv", ",_rowname_\n1,2\n"));
    EXPECT_NE(msg.find("[900-5]"), std::string::npos) << msg;
}

using CsvEncoding = DataTest;

TEST_F(CsvEncoding, Windows1252FileIsTranscodedWithANote) {
    // R wrote "Zürich", "São Paulo" and "€ zone" in Windows-1252: FC, E3 and 80 are single
    // bytes there; in UTF-8 they are C3 BC, C3 A3 and E2 82 AC.
    std::string p = kFormats + "cp1252.csv";
    auto ds = Dataset::open(p);
    EXPECT_NE(log().find("NOTE: The data set file " + p +
                         " is not valid UTF-8 (line 2 is the first that is not)"),
              std::string::npos)
        << log();
    EXPECT_EQ(ds->var(1).length, 10); // "São Paulo" is 10 bytes of UTF-8, 9 of the file
    Rows r = readAll(*ds);
    ASSERT_EQ(r.text.size(), 3u);
    EXPECT_EQ(r.text[0][0], "Z\xC3\xBCrich");
    EXPECT_EQ(r.text[1][0], "S\xC3\xA3o Paulo");
    EXPECT_EQ(r.text[2][0], "\xE2\x82\xAC zone");
    EXPECT_EQ(r.num[2][1], 3.0);
    for (const auto& row : r.text)
        EXPECT_TRUE(isValidUtf8(row[0])) << row[0];
}

TEST_F(CsvEncoding, BadBytesLateInTheFileStillWidenEarlierRows) {
    // Line 2 is valid UTF-8 by chance (C3 A9 = "é") but the file is Windows-1252 (line 3 has a
    // lone E9), so line 2 is two characters "Ã©": 4 bytes of UTF-8, longer than line 3's 2.
    std::string p = write("late.csv", "t\n\xC3\xA9\n\xE9\n");
    auto ds = Dataset::open(p);
    EXPECT_NE(log().find("line 3 is the first"), std::string::npos) << log();
    EXPECT_EQ(ds->var(1).length, 4);
    Rows r = readAll(*ds);
    EXPECT_EQ(r.text[0][0], "\xC3\x83\xC2\xA9");
    EXPECT_EQ(r.text[1][0], "\xC3\xA9");
}

TEST_F(CsvEncoding, Utf8FilesAreLeftAlone) {
    auto ds = Dataset::open(write("u.csv", "t\n\xE2\x82\xAC\nx\n"));
    EXPECT_EQ(log().find("[900-501]"), std::string::npos) << log();
    EXPECT_EQ(ds->var(1).length, 3);
    Rows r = readAll(*ds);
    EXPECT_EQ(r.text[0][0], "\xE2\x82\xAC");
}

TEST(TextEncoding, Utf8ValidityAndWindows1252) {
    EXPECT_TRUE(isValidUtf8("plain"));
    EXPECT_TRUE(isValidUtf8("\xF0\x9F\x98\x80"));  // U+1F600
    EXPECT_FALSE(isValidUtf8("\xC0\xAF"));         // overlong "/"
    EXPECT_FALSE(isValidUtf8("\xE0\x80\xAF"));     // overlong, three bytes
    EXPECT_FALSE(isValidUtf8("\xED\xA0\x80"));     // a surrogate
    EXPECT_FALSE(isValidUtf8("\xF4\x90\x80\x80")); // past U+10FFFF
    EXPECT_FALSE(isValidUtf8("\xE2\x82"));         // cut short
    EXPECT_FALSE(isValidUtf8("\x80"));
    std::string out;
    appendCp1252AsUtf8(out, "\x80\x9F\xA0\xFF\x81");
    // U+20AC, U+0178, U+00A0, U+00FF and the undefined 0x81 as U+0081.
    EXPECT_EQ(out, "\xE2\x82\xAC\xC5\xB8\xC2\xA0\xC3\xBF\xC2\x81");
    EXPECT_EQ(cp1252Utf8Length("\x80\x9F\xA0\xFF\x81"), out.size());
}

using CsvTextCell = DataTest;

TEST_F(CsvTextCell, StrayTextInANumericColumnIsNamedWhenUsedAsANumber) {
    std::string p = write("stray.csv", "id,age,city\n1,30,x\n2,unknown,y\n3,41,z\n4,?,w\n");
    auto ds = Dataset::open(p);
    ASSERT_EQ(ds->var(2).type, VarType::Character);
    log_.str("");
    try {
        refuseTextCell(*ds, 2, "PSMODEL");
        ADD_FAILURE() << "no error";
    } catch (const HostExit& e) {
        EXPECT_EQ(e.code, kExitDataSet);
    }
    EXPECT_NE(log().find("ERROR: PSMODEL uses the variable age as numeric, but the data set file " +
                         p +
                         " has the value \"unknown\" on line 3 (column 2), which is not a "
                         "number"),
              std::string::npos)
        << log();
    // A column of texts only has nothing to point at: the caller's own message follows.
    EXPECT_NO_THROW(refuseTextCell(*ds, 3, "PSMODEL"));
    EXPECT_NO_THROW(refuseTextCell(*ds, 1, "PSMODEL")); // numeric
}
