#include <cmath>

#include "base/missing.h"
#include "dataset_test_util.h"
#include "io/csv_reader.h"
#include "io/schema.h"

using namespace velloc::host;
using velloc::host::testing::DataTest;

namespace {

// Reads every observation of a data set opened without BY variables.
std::vector<std::vector<std::string>> allText(Dataset& ds) {
    std::vector<std::vector<std::string>> rows;
    EXPECT_EQ(ds.nextGroup(), 1);
    while (ds.nextObs()) {
        std::vector<std::string> r;
        for (int i = 1; i <= ds.nvars(); ++i)
            r.emplace_back(ds.text(i));
        rows.push_back(r);
    }
    EXPECT_EQ(ds.nextGroup(), 0);
    return rows;
}

} // namespace

using CsvRead = DataTest;

TEST_F(CsvRead, QuotedFieldsKeepSeparatorsQuotesAndLineBreaks) {
    auto ds = Dataset::open(write("q.csv", "id,name,note\n"
                                           "1,\"Smith, J\",\"said \"\"hi\"\"\"\n"
                                           "2,\"multi\nline\",x\n"));
    ASSERT_EQ(ds->nvars(), 3);
    EXPECT_EQ(ds->nobs(), 2);
    EXPECT_EQ(ds->var(1).type, VarType::Numeric);
    EXPECT_EQ(ds->var(2).type, VarType::Character);
    EXPECT_EQ(ds->var(2).length, 10); // "multi\nline"
    EXPECT_EQ(ds->var(3).length, 9);  // said "hi"
    auto rows = allText(*ds);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0][1], "Smith, J");
    EXPECT_EQ(rows[0][2], "said \"hi\"");
    EXPECT_EQ(rows[1][1], "multi\nline");
    EXPECT_EQ(rows[1][2], "x");
}

TEST_F(CsvRead, LineNumbersCountBreaksInsideQuotes) {
    // The ragged row is on physical line 4, after a field that spans lines 2 and 3.
    std::string p = write("r.csv", "a,b\n1,\"two\nlines\"\n3,4,5\n");
    std::string msg = openFails(p);
    EXPECT_NE(msg.find("[900-3]"), std::string::npos) << msg;
    EXPECT_NE(msg.find(p + " has 3 fields on line 4 where the header has 2 (column 3)"),
              std::string::npos)
        << msg;
}

TEST_F(CsvRead, ByteOrderMarkAndCrlfAreHandled) {
    auto ds = Dataset::open(std::string(VELLOC_TEST_DATA) + "/csv/bom_crlf.csv");
    ASSERT_EQ(ds->nvars(), 2);
    EXPECT_EQ(ds->var(1).name, "a");
    EXPECT_EQ(ds->find("A"), 1);
    auto rows = allText(*ds);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0][1], "x\r\ny");
    EXPECT_EQ(rows[1][0], "2");
    EXPECT_EQ(rows[1][1], "z"); // no stray CR
}

TEST_F(CsvRead, NumbersAndMissingValues) {
    auto ds = Dataset::open(write("n.csv", "x,c,t\n"
                                           "1e-3,a,1\n"
                                           ".5,,2\n"
                                           "-0,b,abc\n"
                                           ".,\"\",3\n"
                                           ",d,\n"
                                           "+2, e ,4\n"
                                           "\" 7 \",f,5\n"
                                           "-1.5E+2,g,6\n"));
    EXPECT_EQ(ds->var(1).type, VarType::Numeric);
    EXPECT_EQ(ds->var(2).type, VarType::Character);
    EXPECT_EQ(ds->var(2).length, 3); // " e "
    // One text cell makes the whole column character.
    EXPECT_EQ(ds->var(3).type, VarType::Character);
    EXPECT_EQ(ds->var(3).length, 3);
    ASSERT_EQ(ds->nextGroup(), 1);
    std::vector<double> x;
    std::vector<std::string> c;
    while (ds->nextObs()) {
        x.push_back(ds->num(1));
        c.emplace_back(ds->text(2));
        EXPECT_TRUE(isMissing(ds->num(2))); // character variables have no numeric value
    }
    ASSERT_EQ(x.size(), 8u);
    EXPECT_EQ(x[0], 0.001);
    EXPECT_EQ(x[1], 0.5);
    EXPECT_EQ(x[2], 0.0);
    EXPECT_TRUE(std::signbit(x[2]));
    EXPECT_TRUE(isMissing(x[3]));
    EXPECT_TRUE(isMissing(x[4]));
    EXPECT_EQ(x[5], 2.0);
    EXPECT_EQ(x[6], 7.0);
    EXPECT_EQ(x[7], -150.0);
    EXPECT_EQ(c[1], "");
    EXPECT_EQ(c[3], "");
    EXPECT_EQ(c[5], " e ");
}

TEST_F(CsvRead, TextThatOnlyLooksNumericMakesACharacterColumn) {
    auto ds = Dataset::open(write("t.csv", "a,b,c,d\n1,nan,1e,--1\n2,3,4,5\n"));
    EXPECT_EQ(ds->var(1).type, VarType::Numeric);
    EXPECT_EQ(ds->var(2).type, VarType::Character);
    EXPECT_EQ(ds->var(3).type, VarType::Character);
    EXPECT_EQ(ds->var(4).type, VarType::Character);
}

TEST_F(CsvRead, RaggedRowsNameLineAndColumn) {
    std::string p = write("few.csv", "a,b,c\n1,2,3\n4,5\n");
    std::string msg = openFails(p);
    EXPECT_NE(msg.find("ERROR: The data set file " + p +
                       " has 2 fields on line 3 where the header has 3 (column 3)"),
              std::string::npos)
        << msg;
    p = write("many.csv", "a,b\n1,2,\n");
    msg = openFails(p);
    EXPECT_NE(msg.find("has 3 fields on line 2 where the header has 2 (column 3)"),
              std::string::npos)
        << msg;
}

TEST_F(CsvRead, BlankLinesAndAMissingFinalLineBreak) {
    auto ds = Dataset::open(write("b.csv", "a,b\n1,2\n\n3,4"));
    EXPECT_EQ(ds->nobs(), 2);
    auto rows = allText(*ds);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[1][1], "4");
    // With a single variable an empty line is a missing value.
    auto one = Dataset::open(write("one.csv", "a\n1\n\n3\n"));
    EXPECT_EQ(one->nobs(), 3);
}

TEST_F(CsvRead, HeaderOnlyOpensWithoutObservations) {
    auto ds = Dataset::open(write("h.csv", "a,b\n"));
    EXPECT_EQ(ds->nobs(), 0);
    EXPECT_EQ(ds->nvars(), 2);
    EXPECT_EQ(ds->var(2).type, VarType::Numeric);
    EXPECT_EQ(ds->nextGroup(), 0);
    EXPECT_FALSE(ds->nextObs());
    auto noBreak = Dataset::open(write("h2.csv", "a,b"));
    EXPECT_EQ(noBreak->nobs(), 0);
}

TEST_F(CsvRead, MissingAndEmptyFiles) {
    std::string p = path("absent.csv");
    std::string msg = openFails(p);
    EXPECT_NE(msg.find("The data set file " + p + " cannot be opened"), std::string::npos) << msg;
    EXPECT_NE(msg.find("[900-1]"), std::string::npos);
    msg = openFails(write("empty.csv", ""));
    EXPECT_NE(msg.find("[900-2]"), std::string::npos) << msg;
    msg = openFails(write("bom.csv", "\xEF\xBB\xBF"));
    EXPECT_NE(msg.find("[900-2]"), std::string::npos) << msg;
}

TEST_F(CsvRead, DuplicateNamesIgnoreCase) {
    std::string msg = openFails(write("d.csv", "Age,x,AGE\n1,2,3\n"));
    EXPECT_NE(msg.find("names the variable AGE twice on line 1 (columns 1 and 3)"),
              std::string::npos)
        << msg;
}

TEST_F(CsvRead, InvalidNames) {
    for (const char* bad : {"1abc", "a-b", "", "x y"}) {
        std::string msg = openFails(write("i.csv", std::string("ok,") + bad + "\n1,2\n"));
        EXPECT_NE(
            msg.find("invalid variable name \"" + std::string(bad) + "\" on line 1 (column 2)"),
            std::string::npos)
            << msg;
    }
    std::string n32(32, 'v'), n33(33, 'v');
    EXPECT_NO_THROW(Dataset::open(write("ok.csv", "_a1," + n32 + "\n1,2\n")));
    openFails(write("long.csv", n33 + "\n1\n"));
    // Blanks around a name are not part of it.
    auto ds = Dataset::open(write("sp.csv", " a , b\n1,2\n"));
    EXPECT_EQ(ds->var(1).name, "a");
    EXPECT_EQ(ds->find("B"), 2);
    EXPECT_EQ(ds->find("c"), 0);
}

TEST_F(CsvRead, UnterminatedQuote) {
    std::string p = write("u.csv", "a,b\n1,2\n3,\"open\n4,5\n");
    std::string msg = openFails(p);
    EXPECT_NE(msg.find("[900-4]"), std::string::npos) << msg;
    EXPECT_NE(msg.find(p + " has a quoted field that starts on line 3 (column 2)"),
              std::string::npos)
        << msg;
}

using Sidecar = DataTest;

TEST_F(Sidecar, LabelsFormatsAndExplicitTypes) {
    write("s.schema.json", R"({"label": "Cohort 2020",
        "variables": {"ZIP": {"type": "character", "label": "Postal code"},
                      "w": {"format": "F8.2", "label": "Weight"},
                      "b": {"format": "BEST5."},
                      "site": {"format": "$2."}}})");
    auto ds = Dataset::open(write("s.csv", "zip,w,b,site,plain\n01234,3.14159,1234567,ABC,0.1\n"));
    EXPECT_EQ(ds->label(), "Cohort 2020");
    const Variable& zip = ds->var(1);
    EXPECT_EQ(zip.type, VarType::Character);
    EXPECT_EQ(zip.length, 5);
    EXPECT_EQ(zip.label, "Postal code");
    const Variable& w = ds->var(2);
    EXPECT_EQ(w.format, "F");
    EXPECT_EQ(w.formatWidth, 8);
    EXPECT_EQ(w.formatDecimals, 2);
    EXPECT_EQ(ds->var(4).type, VarType::Character);
    EXPECT_EQ(ds->var(5).label, "");
    ASSERT_EQ(ds->nextGroup(), 1);
    ASSERT_TRUE(ds->nextObs());
    EXPECT_EQ(ds->text(1), "01234");
    EXPECT_EQ(ds->formatted(2), "    3.14");
    EXPECT_EQ(ds->formatted(3), "1.2E6");
    EXPECT_EQ(ds->formatted(4), "AB");
    EXPECT_EQ(ds->formatted(5), "         0.1"); // BEST12. without a format
}

TEST_F(Sidecar, CharacterFormatAloneMakesCharacter) {
    write("c.schema.json", R"({"variables": [{"name": "code", "format": "$3."}]})");
    auto ds = Dataset::open(write("c.csv", "code\n007\n12\n"));
    EXPECT_EQ(ds->var(1).type, VarType::Character);
    EXPECT_EQ(ds->var(1).formatWidth, 3);
}

TEST_F(Sidecar, ErrorsNameTheSidecar) {
    std::string csv = write("e.csv", "a,b\n1,x\n");
    std::string side = path("e.schema.json");
    struct Case {
        const char* json;
        const char* expect;
    } cases[] = {
        {"{\"variables\": {\"a\": ", "[900-8]"},
        {R"({"variables": {"nosuch": {"label": "x"}}})", "describes the variable nosuch"},
        {R"({"variables": {"a": {"type": "integer"}}})", "the type \"integer\""},
        {R"({"variables": {"a": {"format": "Z9."}}})", "the format \"Z9.\""},
        {R"({"variables": {"b": {"format": "F8.2"}}})", "the format \"F8.2\""},
        {R"({"variables": {"a": {"type": "numeric", "format": "$4."}}})", "the format \"$4.\""},
        {R"({"variables": {"b": {"type": "numeric"}}})", "the value \"x\" on line 2 (column 2)"},
        {R"([1, 2])", "[900-12]"},
        {R"({"label": 3})", "[900-12]"},
    };
    for (const Case& c : cases) {
        write("e.schema.json", c.json);
        std::string msg = openFails(csv);
        EXPECT_NE(msg.find(c.expect), std::string::npos) << c.json << "\n" << msg;
        if (std::string(c.expect).find("line 2") == std::string::npos)
            EXPECT_NE(msg.find(side), std::string::npos) << msg;
        else
            EXPECT_NE(msg.find(csv), std::string::npos) << msg;
    }
}

TEST(FormatParse, AcceptsTheHostFormsAndRejectsOthers) {
    struct Ok {
        const char* text;
        const char* name;
        int w, d;
    } ok[] = {{"$10.", "$", 10, 0}, {"8.", "F", 8, 0},        {"BEST12.", "BEST", 12, 0},
              {"F8.2", "F", 8, 2},  {"best6.", "BEST", 6, 0}, {"$char4.", "$", 4, 0}};
    for (const Ok& o : ok) {
        auto f = parseFormat(o.text);
        ASSERT_TRUE(f.has_value()) << o.text;
        EXPECT_EQ(f->name, o.name);
        EXPECT_EQ(f->width, o.w);
        EXPECT_EQ(f->decimals, o.d);
    }
    for (const char* bad : {"F8", "DATE9.", "F4.4", "BEST12.3", "$10.2", "", "8.2x", "F40."})
        EXPECT_FALSE(parseFormat(bad).has_value()) << bad;
}

namespace {
std::vector<std::vector<std::string>> readAll(const std::string& p) {
    auto ds = Dataset::open(p);
    std::vector<std::vector<std::string>> rows;
    ds->nextGroup();
    while (ds->nextObs()) {
        std::vector<std::string> r;
        for (int i = 1; i <= ds->nvars(); ++i)
            r.emplace_back(ds->text(i));
        rows.push_back(r);
    }
    return rows;
}
} // namespace

TEST_F(CsvRead, TinyBuffersReadTheSameAsLargeOnes) {
    // Every construct split at every possible place: quotes, doubled quotes, CRLF, BOM.
    std::string p = write("t.csv", "\xEF\xBB\xBF"
                                   "id,s,t\r\n"
                                   "1,\"a\"\"b\",\"x,\r\ny\"\r\n"
                                   "2,plain,\"\"\r\n"
                                   "3,\"\"\"\",end\r\n");
    auto expected = readAll(p);
    ASSERT_EQ(expected.size(), 3u);
    EXPECT_EQ(expected[0][1], "a\"b");
    EXPECT_EQ(expected[0][2], "x,\r\ny");
    EXPECT_EQ(expected[2][1], "\"");
    for (std::size_t bytes = 1; bytes <= 24; ++bytes) {
        CsvReader::setBufferBytes(bytes);
        EXPECT_EQ(readAll(p), expected) << bytes << "-byte buffer";
    }
    CsvReader::setBufferBytes(1 << 20);
    std::string u = write("u.csv", "a\n\"abc");
    CsvReader::setBufferBytes(2);
    std::string msg = openFails(u);
    CsvReader::setBufferBytes(1 << 20);
    EXPECT_NE(msg.find("starts on line 2 (column 1)"), std::string::npos) << msg;
}
