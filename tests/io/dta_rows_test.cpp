// Stata files of releases 117-119 whose rows are decoded straight from the file read exactly as
// the library reads them: files written by the library's own writer, with every storage type
// at and past its limits (Stata's missing values live above each type's largest number), read
// both ways value for value, bit for bit.
#include <bit>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <readstat.h>
#include <unistd.h>

#include "dataset_test_util.h"
#include "io/dta_rows.h"
#include "io/stat_dataset.h"

using namespace velloc::host;
using velloc::host::testing::DataTest;

namespace {

ssize_t writeBytes(const void* bytes, size_t len, void* ctx) {
    return ::write(*static_cast<int*>(ctx), bytes, len);
}

// One cell to write: a number of the column's type, a system missing value, or .a-.z.
struct Cell {
    double v = 0;
    char tag = 0; // '.' system missing, 'a'-'z' extended
    std::string s;
};

struct Column {
    const char* name;
    readstat_type_t type;
    std::size_t width; // of a string
    std::vector<Cell> cells;
};

// The bytes of value v in the storage of the given type, as a little-endian file holds them.
std::string storageBytes(readstat_type_t type, double v) {
    auto bytesOf = [](auto x) { return std::string(reinterpret_cast<const char*>(&x), sizeof x); };
    switch (type) {
    case READSTAT_TYPE_INT8:
        return bytesOf(static_cast<int8_t>(v));
    case READSTAT_TYPE_INT16:
        return bytesOf(static_cast<int16_t>(v));
    case READSTAT_TYPE_INT32:
        return bytesOf(static_cast<int32_t>(v));
    case READSTAT_TYPE_FLOAT:
        return bytesOf(static_cast<float>(v));
    default:
        return bytesOf(v);
    }
}

// Writes the columns (all of one length) through the library's writer at the given release.
// Values the writer refuses (those in a type's missing range, infinities) are written as 0 and
// their bytes put in afterwards where the file keeps them, so that the readers meet them too.
void writeDta(const std::string& path, long release, const std::vector<Column>& cols,
              bool labelled = false, const char* fileLabel = nullptr) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    readstat_writer_t* w = readstat_writer_init();
    readstat_set_data_writer(w, writeBytes);
    ASSERT_EQ(readstat_writer_set_file_format_version(w, release), READSTAT_OK);
    if (fileLabel) readstat_writer_set_file_label(w, fileLabel);
    readstat_label_set_t* set = nullptr;
    if (labelled) {
        set = readstat_add_label_set(w, READSTAT_TYPE_INT32, "sexes");
        readstat_label_int32_value(set, 1, "female");
        readstat_label_int32_value(set, 2, "male");
    }
    std::vector<readstat_variable_t*> vars;
    for (const Column& c : cols) {
        vars.push_back(readstat_add_variable(w, c.name, c.type, c.width));
        if (labelled && c.type == READSTAT_TYPE_INT32)
            readstat_variable_set_label_set(vars.back(), set);
    }
    auto insert = [&](const Column& col, readstat_variable_t* v, const Cell& c, double x) {
        if (c.tag == '.') return readstat_insert_missing_value(w, v);
        if (c.tag) return readstat_insert_tagged_missing_value(w, v, c.tag);
        switch (col.type) {
        case READSTAT_TYPE_INT8:
            return readstat_insert_int8_value(w, v, static_cast<int8_t>(x));
        case READSTAT_TYPE_INT16:
            return readstat_insert_int16_value(w, v, static_cast<int16_t>(x));
        case READSTAT_TYPE_INT32:
            return readstat_insert_int32_value(w, v, static_cast<int32_t>(x));
        case READSTAT_TYPE_FLOAT:
            return readstat_insert_float_value(w, v, static_cast<float>(x));
        case READSTAT_TYPE_DOUBLE:
            return readstat_insert_double_value(w, v, x);
        default:
            return readstat_insert_string_value(w, v, c.s.c_str());
        }
    };
    struct Patch {
        long row;
        std::size_t col;
    };
    std::vector<Patch> patches;
    const long rows = static_cast<long>(cols[0].cells.size());
    ASSERT_EQ(readstat_begin_writing_dta(w, &fd, rows), READSTAT_OK);
    for (long r = 0; r < rows; ++r) {
        ASSERT_EQ(readstat_begin_row(w), READSTAT_OK);
        for (std::size_t j = 0; j < cols.size(); ++j) {
            const Cell& c = cols[j].cells[static_cast<std::size_t>(r)];
            readstat_error_t e = insert(cols[j], vars[j], c, c.v);
            if (e == READSTAT_ERROR_NUMERIC_VALUE_IS_OUT_OF_RANGE) {
                patches.push_back({r, j});
                e = insert(cols[j], vars[j], c, 0.0);
            }
            ASSERT_EQ(e, READSTAT_OK) << cols[j].name << " row " << r;
        }
        ASSERT_EQ(readstat_end_row(w), READSTAT_OK);
    }
    ASSERT_EQ(readstat_end_writing(w), READSTAT_OK);
    readstat_writer_free(w);
    ::close(fd);
    if (patches.empty()) return;
    // A file not read straight keeps the writer's zeros: only its two readings are compared.
    const auto layout = readDtaLayout(path, cols.size());
    if (!layout) return;
    std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
    for (const Patch& p : patches) {
        const Column& col = cols[p.col];
        f.seekp(layout->dataOffset + p.row * static_cast<long>(layout->rowBytes) +
                layout->columns[p.col].offset);
        const std::string b = storageBytes(col.type, col.cells[static_cast<std::size_t>(p.row)].v);
        f.write(b.data(), static_cast<std::streamsize>(b.size()));
    }
}

// Every value of the file, read straight or through the library, in small chunks (so that
// rows come from many reads).
struct Reading {
    std::int64_t nobs = 0;
    std::vector<int> lengths;
    std::vector<std::vector<std::uint64_t>> bits; // numbers as bits
    std::vector<std::vector<std::string>> text, formatted;
};

Reading readDta(const std::string& path, bool direct) {
    setStatDirectRows(direct);
    setStatChunkBytes(200);
    auto ds = Dataset::open(path);
    setStatChunkBytes(8 << 20);
    setStatDirectRows(true);
    Reading r;
    r.nobs = ds->nobs();
    for (int i = 1; i <= ds->nvars(); ++i)
        r.lengths.push_back(ds->var(i).length);
    EXPECT_EQ(ds->nextGroup(), 1);
    while (ds->nextObs()) {
        r.bits.emplace_back();
        r.text.emplace_back();
        r.formatted.emplace_back();
        for (int i = 1; i <= ds->nvars(); ++i) {
            r.bits.back().push_back(std::bit_cast<std::uint64_t>(ds->num(i)));
            r.text.back().emplace_back(ds->text(i));
            r.formatted.back().push_back(ds->formatted(i));
        }
    }
    EXPECT_EQ(ds->nextGroup(), 0);
    return r;
}

std::vector<Cell> numbers(std::initializer_list<double> v) {
    std::vector<Cell> out;
    for (double x : v)
        out.push_back({x, 0, {}});
    return out;
}

// Pads or cuts a column to n cells, the padding cycling through missing values.
std::vector<Cell> fit(std::vector<Cell> c, std::size_t n) {
    static const char kTags[] = {'.', 'a', 'z'};
    for (std::size_t i = c.size(); i < n; ++i)
        c.push_back({0, kTags[i % 3], {}});
    c.resize(n);
    return c;
}

constexpr double kFloatMax = 0x1.fffffep+126; // Stata's largest float number
constexpr double kDoubleMax = 0x1.fffffffffffffp+1022;
const double kInf = std::numeric_limits<double>::infinity();
const double kNaN = std::numeric_limits<double>::quiet_NaN();

std::vector<Column> everyType(bool strings, bool utf8) {
    std::vector<Cell> bytes, ints;
    for (int v = -128; v <= 127; ++v)
        bytes.push_back({static_cast<double>(v), 0, {}});
    for (int v : {-32768, -32767, -1, 0, 1, 32739, 32740, 32741, 32742, 32767})
        ints.push_back({static_cast<double>(v), 0, {}});
    const std::size_t n = bytes.size();
    std::vector<Column> cols = {
        {"b", READSTAT_TYPE_INT8, 0, bytes},
        {"i", READSTAT_TYPE_INT16, 0, fit(ints, n)},
        {"l", READSTAT_TYPE_INT32, 0,
         fit(numbers({-2147483647.0, -1, 0, 2147483620.0, 2147483621.0, 2147483647.0}), n)},
        {"f", READSTAT_TYPE_FLOAT, 0,
         fit(numbers({1.5, -0.0, 0.1, 1e-42, kFloatMax, 0x1p+127, kInf, -kInf, kNaN, -3.25}), n)},
        {"d", READSTAT_TYPE_DOUBLE, 0,
         fit(numbers({0.1, -0.0, 1e-310, kDoubleMax, 0x1p+1023, kInf, -kInf, kNaN, -kDoubleMax}),
             n)},
    };
    if (strings) {
        std::vector<Cell> s;
        for (const char* t : {"", "abc", "two  ", " lead", "full-width", "x", "tab\t", "sp \t "})
            s.push_back({0, 0, t});
        if (utf8) s.push_back({0, 0, "caf\xc3\xa9 \xe2\x82\xac"});
        std::vector<Cell> padded;
        for (std::size_t i = 0; i < n; ++i)
            padded.push_back(s[i % s.size()]);
        cols.push_back({"s", READSTAT_TYPE_STRING, 12, padded});
        cols.push_back({"t", READSTAT_TYPE_STRING, 1, std::vector<Cell>(n, Cell{0, 0, "q"})});
    }
    return cols;
}

using DtaRows = DataTest;

} // namespace

TEST_F(DtaRows, EveryStorageTypeReadsAsTheLibraryReadsIt) {
    struct Case {
        long release;
        bool strings, direct;
    };
    // Release 117 keeps its texts in a code page the library converts: with strings, it reads
    // the rows itself.
    for (const Case c : {Case{117, false, true}, Case{117, true, false}, Case{118, true, true},
                         Case{119, true, true}}) {
        SCOPED_TRACE(c.release);
        SCOPED_TRACE(c.strings);
        const std::string p = path("every" + std::to_string(c.release) + ".dta");
        const std::vector<Column> cols = everyType(c.strings, c.release >= 118);
        writeDta(p, c.release, cols);
        EXPECT_EQ(readDtaLayout(p, cols.size()).has_value(), c.direct);
        const Reading direct = readDta(p, true), library = readDta(p, false);
        ASSERT_EQ(direct.nobs, 256);
        EXPECT_EQ(direct.nobs, library.nobs);
        EXPECT_EQ(direct.lengths, library.lengths);
        EXPECT_EQ(direct.text, library.text);
        EXPECT_EQ(direct.formatted, library.formatted);
        ASSERT_EQ(direct.bits.size(), library.bits.size());
        for (std::size_t r = 0; r < direct.bits.size(); ++r)
            EXPECT_EQ(direct.bits[r], library.bits[r]) << "row " << r + 1;

        if (!c.direct) continue;
        // And what they read, by hand: each type's largest number, then missing values.
        auto num = [&](std::size_t row, std::size_t col) {
            return std::bit_cast<double>(direct.bits[row][col]);
        };
        EXPECT_EQ(num(128 + 100, 0), 100.0);        // byte 100
        EXPECT_TRUE(std::isnan(num(128 + 101, 0))); // byte 101, Stata's "."
        EXPECT_EQ(num(0, 0), -128.0);
        EXPECT_EQ(num(6, 1), 32740.0);
        EXPECT_TRUE(std::isnan(num(7, 1)));
        EXPECT_EQ(num(3, 2), 2147483620.0);
        EXPECT_TRUE(std::isnan(num(4, 2)));
        EXPECT_EQ(num(4, 3), kFloatMax);
        EXPECT_TRUE(std::isnan(num(5, 3)));
        EXPECT_EQ(num(7, 3), -kInf);
        EXPECT_EQ(num(1, 3), 0.0);
        EXPECT_TRUE(std::signbit(num(1, 3)));
        EXPECT_EQ(num(2, 3), static_cast<double>(0.1f));
        EXPECT_EQ(num(3, 4), kDoubleMax);
        EXPECT_TRUE(std::isnan(num(4, 4)));
        EXPECT_EQ(num(2, 4), 1e-310);
        EXPECT_TRUE(std::isnan(num(20, 4))); // .a
        if (c.strings) {
            EXPECT_EQ(direct.text[2][5], "two"); // trailing blanks are padding
            EXPECT_EQ(direct.text[7][5], "sp \t");
            EXPECT_EQ(direct.text[3][5], " lead");
            EXPECT_EQ(direct.text[0][5], "");
            EXPECT_EQ(direct.lengths[5], 10); // the longest value, not the storage width
            EXPECT_EQ(direct.text[4][6], "q");
        }
    }
}

TEST_F(DtaRows, ValueLabelsAndDamageAreTheLibrarys) {
    // Labels follow the data: read past one row, they still label every row read straight.
    const std::string p = path("labelled.dta");
    std::vector<Column> cols = {
        {"sex", READSTAT_TYPE_INT32, 0, numbers({1, 2, 2, 1, 3})},
        {"x", READSTAT_TYPE_DOUBLE, 0, numbers({0.5, 1.5, 2.5, 3.5, 4.5})},
    };
    writeDta(p, 118, cols, true);
    ASSERT_TRUE(readDtaLayout(p, 2).has_value());
    const Reading direct = readDta(p, true), library = readDta(p, false);
    EXPECT_EQ(direct.formatted, library.formatted);
    EXPECT_EQ(direct.bits, library.bits);
    ASSERT_EQ(direct.formatted.size(), 5u);
    EXPECT_EQ(direct.formatted[0][0], "female");
    EXPECT_EQ(direct.formatted[2][0], "male");

    // A file cut short, even past its rows, or with bytes added, is not read straight, and
    // a wrong variable count is refused as well.
    const std::string whole = read(p);
    EXPECT_FALSE(readDtaLayout(write("cut.dta", whole.substr(0, whole.size() - 5)), 2));
    EXPECT_FALSE(readDtaLayout(write("long.dta", whole + "x"), 2));
    EXPECT_FALSE(readDtaLayout(p, 3));
    // Nor is a file whose map points elsewhere than at its data.
    std::string moved = whole;
    const std::size_t data = moved.find("<data>");
    ASSERT_NE(data, std::string::npos);
    moved[data + 1] = 'D';
    EXPECT_FALSE(readDtaLayout(write("moved.dta", moved), 2));
    // A file changed after it was opened: the rows read straight fail, naming the file.
    log_.str("");
    setStatChunkBytes(16);
    auto ds = Dataset::open(p);
    setStatChunkBytes(8 << 20);
    write("labelled.dta", whole.substr(0, whole.size() / 2));
    int g = ds->nextGroup();
    while (g > 0 && ds->nextObs()) {
    }
    if (g > 0) g = ds->nextGroup();
    EXPECT_LT(g, 0);
    EXPECT_NE(log().find("ERROR: The data set file " + p), std::string::npos) << log();
}

namespace {

std::uint64_t mapEntry(const std::string& file, int i) {
    std::uint64_t v;
    std::memcpy(&v, file.data() + file.find("<map>") + 5 + 8 * i, 8);
    return v;
}

void putBytes(std::string& file, std::size_t at, const void* p, std::size_t n) {
    file.replace(at, n, static_cast<const char*>(p), n);
}

} // namespace

TEST_F(DtaRows, TagsInTheLabelOrAMapThatDisagreesLeaveTheRowsToTheLibrary) {
    // A file label may hold any text, tags included: the map is the one after the header's
    // fields, not the first text that looks like one.
    const std::vector<Column> cols = {{"x", READSTAT_TYPE_DOUBLE, 0, numbers({1.0, 2.0})}};
    const std::string plain = path("tagged.dta");
    writeDta(plain, 118, cols, false, "see </header><map> here");
    EXPECT_TRUE(readDtaLayout(plain, 1));
    EXPECT_EQ(readDta(plain, true).bits, readDta(plain, false).bits);

    // A label made into a second map, consistent in itself, whose data section holds 999: read
    // straight from it, the file would read 999 where it holds 1.
    const std::string faked = path("faked.dta");
    writeDta(faked, 118, cols, false, std::string(170, 'L').c_str());
    std::string bytes = read(faked);
    const std::size_t label = bytes.find(std::string(170, 'L'));
    ASSERT_NE(label, std::string::npos);
    std::uint64_t map[14];
    for (int i = 0; i < 14; ++i)
        map[i] = mapEntry(bytes, i);
    const std::size_t fakeMap = label + 9; // "</header>" first
    const std::size_t fakeData = fakeMap + 5 + 112 + 6;
    const double fake[2] = {999.0, 999.0};
    std::uint64_t fakeEntries[14];
    std::memcpy(fakeEntries, map, sizeof map);
    fakeEntries[1] = fakeMap;
    fakeEntries[9] = fakeData;
    fakeEntries[10] = fakeData + 6 + sizeof fake + 7;
    std::string text = "</header><map>" +
                       std::string(reinterpret_cast<const char*>(fakeEntries), sizeof fakeEntries) +
                       "</map><data>" +
                       std::string(reinterpret_cast<const char*>(fake), sizeof fake) + "</data>";
    ASSERT_LE(text.size(), 170u);
    putBytes(bytes, label, text.data(), text.size());
    write("faked.dta", bytes);
    const Reading fakedDirect = readDta(faked, true), fakedLibrary = readDta(faked, false);
    EXPECT_EQ(fakedDirect.bits, fakedLibrary.bits);
    ASSERT_EQ(fakedDirect.bits.size(), 2u);
    EXPECT_EQ(std::bit_cast<double>(fakedDirect.bits[0][0]), 1.0);

    // A map whose types section is not the one the library reads (here a text in the label
    // that says "double" for a string column): the types disagree, and the library reads the
    // rows, whose texts are never longer than their 8-byte storage.
    const std::vector<Column> text8 = {
        {"s", READSTAT_TYPE_STRING, 8, {{0, 0, "abcdefgh"}, {0, 0, "abc"}, {0, 0, ""}}}};
    const std::string typed = path("typed.dta");
    writeDta(typed, 118, text8, false, "<variable_types>XX");
    bytes = read(typed);
    const std::size_t fakeTypes = bytes.find("<variable_types>XX");
    ASSERT_NE(fakeTypes, std::string::npos);
    const std::uint16_t doubleType = kDtaDouble;
    putBytes(bytes, fakeTypes + 16, &doubleType, 2);
    const std::uint64_t at = fakeTypes;
    putBytes(bytes, bytes.find("<map>") + 5 + 16, &at, 8);
    write("typed.dta", bytes);
    const Reading typedDirect = readDta(typed, true), typedLibrary = readDta(typed, false);
    EXPECT_EQ(typedDirect.text, typedLibrary.text);
    for (const auto& row : typedDirect.text)
        EXPECT_LE(row[0].size(), 8u);

    // A damaged end (the value labels' tag) is refused at open, as a reading of every row by
    // the library refuses it.
    const std::string damaged = path("damaged.dta");
    writeDta(damaged, 118,
             {{"n", READSTAT_TYPE_INT32, 0, numbers({1, 2, 3})},
              {"s", READSTAT_TYPE_STRING, 4, {{0, 0, "a"}, {0, 0, "bb"}, {0, 0, "c"}}}});
    bytes = read(damaged);
    bytes.replace(bytes.find("<value_labels>"), 14, "<value_lXbels>");
    write("damaged.dta", bytes);
    log_.str("");
    EXPECT_THROW(Dataset::open(damaged), DataSetError);
    EXPECT_NE(log().find("[900-503]"), std::string::npos) << log();
}
