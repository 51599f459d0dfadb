// Delimited text in other dialects (tests/data/formats/dialect, hand-written; the values each
// file holds are written out below): semicolon and tab delimiters, a declared Latin-1 encoding,
// extra missing-value texts, and the faults of bad option values.
#include <cmath>

#include "base/missing.h"
#include "dataset_test_util.h"
#include "io/csv_reader.h"

using namespace velloc::host;
using velloc::host::testing::DataTest;

namespace {

const std::string kDialect = std::string(VELLOC_TEST_DATA) + "/formats/dialect/";

CsvDialect delimited(char d) {
    CsvDialect c;
    c.delimiter = d;
    return c;
}

struct Cells {
    std::vector<std::vector<double>> num;
    std::vector<std::vector<std::string>> text;
};

Cells readAll(Dataset& ds) {
    Cells r;
    EXPECT_EQ(ds.nextGroup(), 1);
    while (ds.nextObs()) {
        r.num.emplace_back();
        r.text.emplace_back();
        for (int i = 1; i <= ds.nvars(); ++i) {
            r.num.back().push_back(ds.num(i));
            r.text.back().emplace_back(ds.text(i));
        }
    }
    EXPECT_EQ(ds.nextGroup(), 0);
    return r;
}

std::vector<double> column(const Cells& c, int var) {
    std::vector<double> out;
    for (const auto& row : c.num)
        out.push_back(row[static_cast<std::size_t>(var - 1)]);
    return out;
}

std::vector<std::string> textColumn(const Cells& c, int var) {
    std::vector<std::string> out;
    for (const auto& row : c.text)
        out.push_back(row[static_cast<std::size_t>(var - 1)]);
    return out;
}

// Equal values, with missing values in the same places.
void expectNumbers(const std::vector<double>& got, const std::vector<double>& want) {
    ASSERT_EQ(got.size(), want.size());
    for (std::size_t i = 0; i < got.size(); ++i) {
        if (std::isnan(want[i]))
            EXPECT_TRUE(std::isnan(got[i])) << "row " << i + 1 << ": " << got[i];
        else
            EXPECT_EQ(got[i], want[i]) << "row " << i + 1;
    }
}

const double M = std::nan("");

} // namespace

using CsvDialects = DataTest;

TEST_F(CsvDialects, SemicolonFileWithDecimalPoints) {
    std::string p = kDialect + "semicolon.txt";
    // Read with the default comma, the header is one invalid name.
    EXPECT_NE(openFails(p).find("[900-6]"), std::string::npos) << log();
    auto ds = Dataset::open(p, delimited(';'));
    ASSERT_EQ(ds->nvars(), 4);
    EXPECT_EQ(ds->var(2).name, "dose");
    EXPECT_EQ(ds->var(1).type, VarType::Numeric);
    EXPECT_EQ(ds->var(2).type, VarType::Numeric);
    EXPECT_EQ(ds->var(3).type, VarType::Character);
    EXPECT_EQ(ds->var(3).length, 6) << "so;uth";
    Cells c = readAll(*ds);
    expectNumbers(column(c, 1), {1, 2, 3, 4});
    expectNumbers(column(c, 2), {0.25, 12.5, M, -375});
    EXPECT_EQ(textColumn(c, 3), (std::vector<std::string>{"north", "so;uth", "east", "west"}));
    EXPECT_EQ(textColumn(c, 4), (std::vector<std::string>{"a,b", "plain", "say \"hi\"", ""}));
}

TEST_F(CsvDialects, SemicolonAcrossTinyBuffersAndLongLines) {
    // Lines of 16 bytes and more take the vectorised path; a one-byte buffer the slow one.
    std::string p = write("long.txt", "name;v;w\nsmith, john and more;1000000.5;-2\n\"x;y\";3;4\n");
    for (std::size_t bytes : {std::size_t{1} << 20, std::size_t{1}, std::size_t{5}}) {
        CsvReader::setBufferBytes(bytes);
        auto ds = Dataset::open(p, delimited(';'));
        ASSERT_EQ(ds->nvars(), 3) << bytes;
        Cells c = readAll(*ds);
        EXPECT_EQ(textColumn(c, 1), (std::vector<std::string>{"smith, john and more", "x;y"}));
        expectNumbers(column(c, 2), {1000000.5, 3});
        expectNumbers(column(c, 3), {-2, 4});
    }
    CsvReader::setBufferBytes(std::size_t{1} << 20);
}

TEST_F(CsvDialects, TsvDefaultsToTabAndTabCanBeNamed) {
    std::string p = kDialect + "tabbed.tsv";
    for (int pass = 0; pass < 2; ++pass) {
        auto ds = pass == 0 ? Dataset::open(p) : Dataset::open(p, delimited('\t'));
        ASSERT_EQ(ds->nvars(), 3);
        EXPECT_EQ(ds->var(2).type, VarType::Numeric) << "NA is missing";
        Cells c = readAll(*ds);
        expectNumbers(column(c, 2), {70.5, M, 81});
        EXPECT_EQ(textColumn(c, 3),
                  (std::vector<std::string>{"control, old", "tab\there", "treated"}));
    }
    std::string t = write("tabbed.txt", "a\tb\n1\t2\n");
    // A .txt file with tabs is read with commas unless told otherwise: "a<tab>b" is no name.
    EXPECT_NE(openFails(t).find("[900-6]"), std::string::npos);
    log_.str("");
    EXPECT_THROW(Dataset::open(t, makeCsvDialect("PROC VELLOC", "DATA", nullptr, nullptr, nullptr)),
                 DataSetError)
        << "no options: the default";
    std::string tabName = "TAB", escaped = "\\t";
    for (const std::string* d : {&tabName, &escaped}) {
        auto ds = Dataset::open(t, makeCsvDialect("PROC VELLOC", "DATA", d, nullptr, nullptr));
        ASSERT_EQ(ds->nvars(), 2) << *d;
        Cells c = readAll(*ds);
        expectNumbers(column(c, 2), {2});
    }
}

TEST_F(CsvDialects, DeclaredLatin1IsConvertedWithoutNote) {
    std::string p = kDialect + "latin1.txt";
    CsvDialect d = delimited(';');
    d.encoding = CsvDialect::Encoding::Cp1252;
    auto ds = Dataset::open(p, d);
    EXPECT_EQ(log().find("[900-501]"), std::string::npos) << log();
    ASSERT_EQ(ds->nvars(), 3);
    // "Besan\xC3\xA7on" is the longest value as UTF-8: 9 bytes.
    EXPECT_EQ(ds->var(2).length, 9);
    Cells c = readAll(*ds);
    EXPECT_EQ(textColumn(c, 2),
              (std::vector<std::string>{"Z\xC3\xBCrich", "Besan\xC3\xA7on", "M\xC3\xA1laga"}));
    expectNumbers(column(c, 3), {1.5, 2, M});

    // Undeclared, the same bytes are converted with a note; declared UTF-8, they are an error
    // that names the first line that is not.
    log_.str("");
    auto guessed = Dataset::open(p, delimited(';'));
    EXPECT_NE(log().find("[900-501]"), std::string::npos) << log();
    EXPECT_EQ(textColumn(readAll(*guessed), 2)[0], "Z\xC3\xBCrich");
    log_.str("");
    d.encoding = CsvDialect::Encoding::Utf8;
    EXPECT_THROW(Dataset::open(p, d), DataSetError);
    EXPECT_NE(log().find("ERROR: The data set file " + p +
                         " is not valid UTF-8 (line 2 is the "
                         "first that is not), although ENCODING='utf-8' was given"),
              std::string::npos)
        << log();
    EXPECT_NE(log().find("[900-509]"), std::string::npos);
}

TEST_F(CsvDialects, MissingTextsInNumericAndCharacterColumns) {
    std::string p = kDialect + "missing.csv";
    {
        // Without them NULL makes age character, and -99 is a number.
        auto ds = Dataset::open(p);
        EXPECT_EQ(ds->var(2).type, VarType::Character);
        EXPECT_EQ(ds->var(2).textLine, 3);
        EXPECT_EQ(ds->var(3).type, VarType::Numeric);
        expectNumbers(column(readAll(*ds), 3), {22.5, -99, 27.25, M, 30});
    }
    CsvDialect d;
    d.missing = {"NULL", "-99"};
    auto ds = Dataset::open(p, d);
    ASSERT_EQ(ds->nvars(), 4);
    EXPECT_EQ(ds->var(2).type, VarType::Numeric);
    EXPECT_EQ(ds->var(3).type, VarType::Numeric);
    EXPECT_EQ(ds->var(4).type, VarType::Character);
    Cells c = readAll(*ds);
    expectNumbers(column(c, 2), {34, M, M, 51, M});
    expectNumbers(column(c, 3), {22.5, M, 27.25, M, 30});
    // A quoted "NULL" is the text as written, as a quoted "NA" is.
    EXPECT_EQ(textColumn(c, 4), (std::vector<std::string>{"yes", "", "no", "NULL", ""}));
    for (int i = 1; i <= 5; ++i)
        EXPECT_EQ(c.num[static_cast<std::size_t>(i - 1)][0], i);
}

TEST_F(CsvDialects, BadOptionValuesNameStatementAndOption) {
    auto refused = [&](const std::string* delim, const std::string* enc) {
        log_.str("");
        EXPECT_THROW(makeCsvDialect("PROC VELLOC", "DATA", delim, enc, nullptr), DataSetError);
        return log();
    };
    for (std::string bad : {";;", "", "\"", "\n", "tabs"}) {
        std::string l = refused(&bad, nullptr);
        EXPECT_NE(l.find("ERROR: In the PROC VELLOC statement, DATA= has the data set option "
                         "DELIMITER='" +
                         bad + "'; a delimiter is one character"),
                  std::string::npos)
            << l;
        EXPECT_NE(l.find("[900-510]"), std::string::npos) << l;
    }
    for (std::string bad : {"ebcdic", "utf-16", "latin2"}) {
        std::string l = refused(nullptr, &bad);
        EXPECT_NE(l.find("In the PROC VELLOC statement, DATA= has the data set option ENCODING='" +
                         bad + "', an encoding that cannot be read"),
                  std::string::npos)
            << l;
        EXPECT_NE(l.find("[900-511]"), std::string::npos) << l;
    }
    struct Accepted {
        std::string written;
        CsvDialect::Encoding encoding;
    };
    for (const Accepted& a : {Accepted{"utf-8", CsvDialect::Encoding::Utf8},
                              Accepted{"UTF8", CsvDialect::Encoding::Utf8},
                              Accepted{"Windows-1252", CsvDialect::Encoding::Cp1252},
                              Accepted{"cp1252", CsvDialect::Encoding::Cp1252},
                              Accepted{"latin1", CsvDialect::Encoding::Cp1252},
                              Accepted{"ISO-8859-1", CsvDialect::Encoding::Cp1252}})
        EXPECT_EQ(makeCsvDialect("PROC VELLOC", "DATA", nullptr, &a.written, nullptr).encoding,
                  a.encoding)
            << a.written;
    std::string pipe = "|";
    EXPECT_EQ(makeCsvDialect("PROC VELLOC", "DATA", &pipe, nullptr, nullptr).delimiter, '|');

    // A Stata file has no dialect to choose.
    std::string dta = std::string(VELLOC_TEST_DATA) + "/formats/lalonde.dta";
    log_.str("");
    EXPECT_THROW(Dataset::open(dta, delimited(';')), DataSetError);
    EXPECT_NE(log().find("The data set file " + dta + " holds Stata data; the data set options"),
              std::string::npos)
        << log();
}
