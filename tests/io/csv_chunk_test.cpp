// Reading a CSV file in chunks on threads gives what the serial reader gives: the same
// variables, rows and messages (line numbers of faults and notes, the first fault winning),
// wherever the chunk boundaries fall. Small chunks are forced so that small files, built to
// put quoted line breaks, CRLF, missing texts and Windows-1252 bytes everywhere, take the
// parallel path with boundaries at every kind of place.
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <random>
#include <regex>

#include "dataset_test_util.h"
#include "io/csv_chunks.h"
#include "io/csv_number.h"
#include "io/csv_reader.h"

using namespace velloc::host;
using velloc::host::testing::DataTest;

namespace {

// Everything a reader shows of a file: the log, the variables and every row, with numbers as
// their bits (a missing value is a NaN, which compares unequal to itself).
struct Seen {
    std::string log;
    bool opened = false;
    std::int64_t nobs = 0;
    std::vector<std::string> vars, rows;
    bool operator==(const Seen&) const = default;
    friend std::ostream& operator<<(std::ostream& o, const Seen& s) {
        o << "opened " << s.opened << ", " << s.nobs << " obs, log:\n" << s.log;
        for (const std::string& v : s.vars)
            o << "var " << v << "\n";
        for (const std::string& r : s.rows)
            o << r << "\n";
        return o;
    }
};

std::string bits(double v) {
    std::uint64_t u;
    std::memcpy(&u, &v, sizeof u);
    return std::to_string(u);
}

std::string describe(const Variable& v) {
    return v.name + " " + std::to_string(static_cast<int>(v.type)) + " " +
           std::to_string(v.length) + " " + std::to_string(v.textLine) + ":" +
           std::to_string(v.textColumn) + ":" + v.textCell + " inf:" + v.infiniteWhere + ":" +
           v.infiniteCell;
}

// A row's values; numbers() must give a numeric variable's num() wherever the row came from
// (the serial reader's own copy or a parsed chunk), else the row says so.
std::string row(const Dataset& ds) {
    std::string r = std::to_string(ds.obsNumber());
    const double* numbers = ds.numbers();
    if (!numbers) r += "|numbers() missing";
    for (int i = 1; i <= ds.nvars(); ++i) {
        r += "|" + bits(ds.num(i)) + "|" + std::string(ds.text(i)) + "|" + ds.formatted(i);
        if (numbers && ds.var(i).type == VarType::Numeric &&
            bits(numbers[i - 1]) != bits(ds.num(i)))
            r += "|numbers() differs";
    }
    return r;
}

class CsvChunks : public DataTest {
  protected:
    void TearDown() override {
        setCsvChunkBytesForTesting(0);
        CsvReader::setBufferBytes(std::size_t{1} << 20);
        DataTest::TearDown();
    }

    // Opens and reads the file with chunks of the given size (0: serially). With a BY variable
    // every group is read twice, the second time after a rewind; `change` then runs between
    // the scan and the reading.
    Seen see(const std::string& p, std::size_t chunkBytes, const CsvDialect& dialect = {},
             const char* by = nullptr, const std::function<void()>& change = {}) {
        setCsvChunkBytesForTesting(chunkBytes);
        log_.str("");
        Seen s;
        std::unique_ptr<Dataset> ds;
        try {
            ds = Dataset::open(p, dialect);
        } catch (const DataSetError&) {
            s.log = log_.str();
            return s;
        }
        s.opened = true;
        s.nobs = ds->nobs();
        for (int i = 1; i <= ds->nvars(); ++i)
            s.vars.push_back(describe(ds->var(i)));
        if (by) ds->setBy({{ds->find(by), false}}, true);
        if (change) change();
        int g;
        while ((g = ds->nextGroup()) > 0) {
            s.rows.push_back("group");
            while (ds->nextObs())
                s.rows.push_back(row(*ds));
            if (!by) continue;
            ds->rewindGroup();
            s.rows.push_back("again");
            while (ds->nextObs())
                s.rows.push_back(row(*ds));
        }
        s.rows.push_back("end " + std::to_string(g));
        s.log = log_.str();
        return s;
    }

    // The serial reading, then every chunk size from one byte up: all the same.
    Seen expectSameInChunks(const std::string& p, const CsvDialect& dialect = {},
                            const char* by = nullptr) {
        Seen serial = see(p, 0, dialect, by);
        for (std::size_t bytes : {1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11,  12,  13,  16,
                                  17, 19, 23, 29, 31, 37, 41, 50, 64, 97, 128, 200, 333, 1000})
            EXPECT_EQ(see(p, bytes, dialect, by), serial) << bytes << "-byte chunks";
        return serial;
    }
};

// Rows of awkward content: quoted fields with line breaks (LF and CRLF) and commas, doubled
// quotes, CRLF line ends, blank lines, the missing texts ".", NA, an empty cell and -99.
std::string awkwardRows(int rows, bool cp1252) {
    std::string s = "id,x,name,g,w\r\n";
    std::mt19937 rng(7);
    for (int i = 1; i <= rows; ++i) {
        std::string x;
        switch (rng() % 6) {
        case 0:
            x = ".";
            break;
        case 1:
            x = "NA";
            break;
        case 2:
            x = "";
            break;
        case 3:
            x = "-99";
            break;
        default:
            x = std::to_string(static_cast<int>(rng() % 2000) - 1000) + "." +
                std::to_string(rng() % 1000);
        }
        std::string name;
        switch (rng() % 5) {
        case 0:
            name = "\"two\nlines, " + std::to_string(i) + "\"";
            break;
        case 1:
            name = "\"crlf\r\nin \"\"quotes\"\"\"";
            break;
        case 2:
            name = cp1252 ? "caf\xE9" : "caf\xC3\xA9";
            break;
        case 3:
            name = "\"\"";
            break;
        default:
            name = "plain" + std::to_string(i);
        }
        // w holds numbers but for one text cell late in the file.
        std::string w = i == rows - 3 ? "n/a" : std::to_string(i % 7);
        s += std::to_string(i) + "," + x + "," + name + "," + std::to_string(i / 4) + "," + w;
        s += rng() % 3 == 0 ? "\r\n" : "\n";
        if (rng() % 11 == 0) s += "\n"; // a blank line, passed over
    }
    s.pop_back(); // no line end after the last row
    if (s.back() == '\r') s.pop_back();
    if (s.back() == '\n') s.pop_back();
    return s;
}

CsvDialect missingNines() {
    CsvDialect d;
    d.missing = {"-99"};
    return d;
}

} // namespace

TEST_F(CsvChunks, AwkwardContentReadsAsTheSerialReaderReadsIt) {
    std::string p = write("awkward.csv", awkwardRows(60, false));
    Seen s = expectSameInChunks(p, missingNines());
    ASSERT_TRUE(s.opened) << s.log;
    EXPECT_EQ(s.nobs, 60);
    // The numbers and texts themselves: a row whose name breaks its line, and the stray text.
    ASSERT_EQ(s.vars.size(), 5u);
    EXPECT_NE(s.vars[4].find(":5:n/a"), std::string::npos) << s.vars[4];
    EXPECT_NE(s.rows.back().find("end 0"), std::string::npos);
    for (const std::string& r : s.rows)
        EXPECT_EQ(r.find("numbers()"), std::string::npos) << r;
    expectSameInChunks(p, missingNines(), "g");
}

// Infinite numbers are values of a numeric column (its other cells read as before), and the
// first of each column is remembered with its line and column whichever chunk holds it: an
// "inf" written by R or a writer, a number past the largest double, and a plain integer of 320
// digits, which the plain-number test alone would pass as finite.
TEST_F(CsvChunks, TheFirstInfiniteValueOfAColumnIsKeptWithItsPlace) {
    std::string text = "id,x,y,z\n";
    for (int i = 1; i <= 80; ++i) {
        std::string x = std::to_string(i), y = "0.5", z = "2";
        if (i == 37) x = "-Inf";
        if (i == 52) x = "inf";
        if (i == 61) y = "1e400";
        if (i == 70) z = "1" + std::string(320, '0');
        text += std::to_string(i) + "," + x + "," + y + "," + z + "\n";
    }
    Seen s = expectSameInChunks(write("inf.csv", text));
    ASSERT_TRUE(s.opened) << s.log;
    ASSERT_EQ(s.vars.size(), 4u);
    EXPECT_NE(s.vars[0].find(" inf::"), std::string::npos) << s.vars[0];
    EXPECT_NE(s.vars[1].find(" inf:line 38 (column 2):-Inf"), std::string::npos) << s.vars[1];
    EXPECT_NE(s.vars[2].find(" inf:line 62 (column 3):1e400"), std::string::npos) << s.vars[2];
    EXPECT_NE(s.vars[3].find(" inf:line 71 (column 4):1000"), std::string::npos) << s.vars[3];
    for (const std::string& v : s.vars)
        EXPECT_EQ(v.substr(v.find(' ') + 1, 1), "1") << "numeric: " << v;
}

TEST_F(CsvChunks, Windows1252BytesGetTheNoteOfTheirFirstLine) {
    std::string p = write("latin.csv", awkwardRows(50, true));
    Seen s = expectSameInChunks(p);
    ASSERT_TRUE(s.opened) << s.log;
    EXPECT_NE(s.log.find("[900-501]"), std::string::npos) << s.log;
    CsvDialect d;
    d.encoding = CsvDialect::Encoding::Cp1252;
    s = expectSameInChunks(p, d);
    EXPECT_EQ(s.log.find("[900-501]"), std::string::npos) << s.log;
    // Declared UTF-8, the first bad byte is a fault on its line.
    d.encoding = CsvDialect::Encoding::Utf8;
    s = expectSameInChunks(p, d);
    EXPECT_FALSE(s.opened);
    EXPECT_NE(s.log.find("[900-509]"), std::string::npos) << s.log;
}

TEST_F(CsvChunks, TheFirstFaultOfTheFileWinsWhateverChunkHoldsIt) {
    std::string rows = awkwardRows(40, false);
    // A bad cell of a declared numeric column in the middle, a ragged row later, and a quote
    // that never closes at the end.
    write("bad.schema.json", R"({"variables": {"x": {"type": "numeric"}}})");
    std::string bad = rows;
    bad.replace(bad.find("\n25,") + 1, 0, "24,oops,a,6,1\n");
    bad += "\n41,1,b\n42,1,\"never closed,1,1\n";
    std::string p = write("bad.csv", bad);
    Seen s = expectSameInChunks(p, missingNines());
    EXPECT_FALSE(s.opened);
    EXPECT_NE(s.log.find("\"oops\""), std::string::npos) << s.log;
    // Without the sidecar the ragged row is the first fault, then the open quote.
    std::filesystem::remove(path("bad.schema.json"));
    s = expectSameInChunks(p, missingNines());
    EXPECT_NE(s.log.find("[900-3]"), std::string::npos) << s.log;
    p = write("open.csv", rows + "\n41,1,\"never closed,1,1\n");
    s = expectSameInChunks(p);
    EXPECT_NE(s.log.find("[900-4]"), std::string::npos) << s.log;
}

TEST_F(CsvChunks, AFileChangedAfterTheScanFailsOnTheSameLine) {
    std::string rows = awkwardRows(40, false);
    std::string p = path("changed.csv");
    // One-byte buffers: the serial reader, too, sees the change at once instead of reading
    // what its buffer kept from the scan.
    CsvReader::setBufferBytes(1);
    // A text cell in a numeric column; a quote that swallows the following line breaks; a
    // longer row that reads well but moves every later record, so that chunks no longer end
    // where the scan found their records.
    const std::size_t row7 = rows.find("\n7,") + 1;
    for (const auto& [at, edit] :
         {std::pair{row7, std::string("7,abc,")}, std::pair{row7, std::string("7,1,\"")},
          std::pair{rows.find("plain"), std::string("\"p\nl,a\"\"i\"")}}) {
        std::string changed = rows;
        changed.replace(at, at == row7 ? 2 : 5, edit);
        auto rewrite = [&] { std::ofstream(p, std::ios::binary) << changed; };
        Seen serial;
        for (std::size_t bytes : {0, 1, 5, 16, 64, 200}) {
            std::ofstream(p, std::ios::binary) << rows;
            Seen s = see(p, bytes, missingNines(), nullptr, rewrite);
            if (bytes == 0) {
                serial = s;
                EXPECT_EQ(s.log.find("[900-15]") == std::string::npos, at != row7) << s.log;
                EXPECT_EQ(s.rows.size(), at != row7 ? 42u : 8u) << s; // all 40 rows, or six
            } else {
                EXPECT_EQ(s, serial) << bytes << "-byte chunks, edit " << edit;
            }
        }
    }
}

TEST(CsvPlainNumbers, ParseAsStrtodRoundsThem) {
    // glibc's strtod rounds exactly: every plain decimal the quick path takes must agree bit
    // for bit, and the forms it refuses still parse through the general path.
    std::mt19937_64 rng(11);
    int quick = 0;
    for (int i = 0; i < 200000; ++i) {
        std::string s = rng() % 4 == 0 ? "-" : "";
        int whole = 1 + static_cast<int>(rng() % 12), frac = static_cast<int>(rng() % 12);
        for (int k = 0; k < whole; ++k)
            s += static_cast<char>('0' + rng() % 10);
        if (frac > 0) s += '.';
        for (int k = 0; k < frac; ++k)
            s += static_cast<char>('0' + rng() % 10);
        double want = std::strtod(s.c_str(), nullptr), got = 0;
        if (parsePlainDecimal(s, got)) {
            ++quick;
            ASSERT_EQ(bits(got), bits(want)) << s;
        }
        ASSERT_EQ(parseCell(s, got), CellKind::Number) << s;
        ASSERT_EQ(bits(got), bits(want)) << s;
    }
    EXPECT_GT(quick, 100000); // the quick path did take most of them
    double v = 0;
    for (const char* refused : {"1.", ".5", "-", "", "1e5", "+1", "1.2.3", "12345678901234567890",
                                "9007199254740993", "0.12345678901234567890123"})
        EXPECT_FALSE(parsePlainDecimal(refused, v)) << refused;
    EXPECT_TRUE(parsePlainDecimal("-0.000", v));
    EXPECT_TRUE(std::signbit(v));
    EXPECT_TRUE(parsePlainDecimal("9007199254740992", v));
    EXPECT_EQ(v, 9007199254740992.0);
}

TEST(CsvPlainNumbers, TheTypeScanTakesExactlyThePlainForms) {
    // Both tests of the scan against the pattern itself, on cells drawn from the bytes that
    // make them hard (signs, points, exponents, blanks, commas), with random bytes after the
    // cell that the 16-byte test reads and must ignore.
    const std::regex plain("-?[0-9]+(\\.[0-9]+)?");
    const char alphabet[] = "0123456789..--+e ,a";
    std::mt19937_64 rng(12);
    int taken = 0;
    for (int i = 0; i < 300000; ++i) {
        const std::size_t n = rng() % 17;
        char buf[32];
        for (char& c : buf)
            c = static_cast<char>(rng() % 256);
        for (std::size_t k = 0; k < n; ++k) {
            // Mostly digits, so that numbers are common.
            buf[k] = rng() % 3 ? static_cast<char>('0' + rng() % 10)
                               : alphabet[rng() % (sizeof alphabet - 1)];
        }
        const std::string cell(buf, n);
        const bool want = std::regex_match(cell, plain);
        taken += want;
        ASSERT_EQ(isPlainNumber(cell), want) << '"' << cell << '"';
        ASSERT_EQ(isPlainNumberShort(buf, n), want) << '"' << cell << '"';
    }
    EXPECT_GT(taken, 30000);
    for (const char* refused : {"", "-", ".", "-.5", ".5", "5.", "1.2.3", "1-2", "--1", "1e5"})
        EXPECT_FALSE(isPlainNumberShort((std::string(refused) + std::string(16, '7')).data(),
                                        std::strlen(refused)))
            << refused;
    EXPECT_TRUE(isPlainNumberShort("-1234567890.1234", 16));
}

TEST(CsvLines, EveryLineEndIsFoundWhereverItFallsInTheReadersBlocks) {
    // Lines of 0 to 40 bytes, ending in LF or CRLF, each followed by a quoted field and a high
    // byte that lie beyond the line end but in the same 16 bytes: every record must come back
    // as written, its fields split at the commas, whichever path read it.
    const std::string p = (std::filesystem::temp_directory_path() /
                           ("velloc-lines-" + std::to_string(::getpid()) + ".csv"))
                              .string();
    std::string file;
    std::vector<std::vector<std::string>> want;
    for (int len = 0; len <= 40; ++len)
        for (const char* end : {"\n", "\r\n"}) {
            std::string line;
            std::vector<std::string> fields(1);
            for (int i = 0; i < len; ++i) {
                const char c = i % 4 == 3 ? ',' : static_cast<char>('a' + i % 26);
                line += c;
                if (c == ',')
                    fields.emplace_back();
                else
                    fields.back() += c;
            }
            file += line + end;
            want.push_back(fields);
            file += "\"q,\xC3\xA9\",1\n"; // a quoted field and a two-byte character
            want.push_back({"q,\xC3\xA9", "1"});
        }
    std::ofstream(p, std::ios::binary) << file;
    for (std::size_t buffer : {std::size_t{1} << 20, std::size_t{17}, std::size_t{64}}) {
        SCOPED_TRACE(buffer);
        CsvReader::setBufferBytes(buffer);
        CsvReader rd;
        ASSERT_TRUE(rd.open(p));
        CsvRecord rec;
        for (std::size_t k = 0; k < want.size(); ++k) {
            ASSERT_EQ(rd.next(rec), CsvReader::Result::Record) << k;
            std::vector<std::string> got;
            for (std::size_t i = 0; i < rec.size(); ++i)
                got.emplace_back(rec.field(i));
            ASSERT_EQ(got, want[k]) << "record " << k;
            EXPECT_EQ(rec.high, k % 2 == 1) << k;
            EXPECT_EQ(rd.recordLine(), static_cast<std::int64_t>(k + 1));
        }
        EXPECT_EQ(rd.next(rec), CsvReader::Result::End);
    }
    CsvReader::setBufferBytes(std::size_t{1} << 20);
    std::filesystem::remove(p);
}
