// OUT= as a Stata or SPSS file: read back by velloc and, independently, by libreadstat's own
// parser (names, types, labels, widths, row count and every value); values a format cannot
// hold are refused with nothing left behind.
#include <cmath>
#include <filesystem>
#include <limits>
#include <map>
#include <memory>
#include <readstat.h>

#include "base/missing.h"
#include "dataset_test_util.h"
#include "io/output_dataset.h"

using namespace velloc::host;
using velloc::host::testing::DataTest;

namespace {

// What libreadstat's parser sees in a file, without velloc's reader.
struct Parsed {
    long rows = -1;
    std::vector<std::string> names, labels;
    std::vector<readstat_type_class_t> classes;
    std::vector<std::size_t> widths;
    std::vector<std::vector<std::string>> cells; // "." for missing, else %.17g or the text
    std::map<std::string, std::string> setOf;    // variable -> its value label set
    std::map<std::string, std::map<double, std::string>> sets; // value label sets
};

int onMeta(readstat_metadata_t* m, void* c) {
    static_cast<Parsed*>(c)->rows = readstat_get_row_count(m);
    return READSTAT_HANDLER_OK;
}
int onVar(int, readstat_variable_t* v, const char* set, void* c) {
    auto& p = *static_cast<Parsed*>(c);
    if (set) p.setOf[readstat_variable_get_name(v)] = set;
    p.names.emplace_back(readstat_variable_get_name(v));
    const char* l = readstat_variable_get_label(v);
    p.labels.emplace_back(l ? l : "");
    p.classes.push_back(readstat_variable_get_type_class(v));
    p.widths.push_back(readstat_variable_get_storage_width(v));
    return READSTAT_HANDLER_OK;
}
int onValue(int obs, readstat_variable_t* v, readstat_value_t x, void* c) {
    auto& p = *static_cast<Parsed*>(c);
    if (static_cast<std::size_t>(obs) >= p.cells.size()) p.cells.emplace_back();
    std::string s;
    if (readstat_value_is_system_missing(x)) {
        s = ".";
    } else if (readstat_variable_get_type_class(v) == READSTAT_TYPE_CLASS_STRING) {
        s = readstat_string_value(x) ? readstat_string_value(x) : "";
    } else {
        char buf[40];
        std::snprintf(buf, sizeof buf, "%.17g", readstat_double_value(x));
        s = buf;
    }
    p.cells.back().push_back(s);
    return READSTAT_HANDLER_OK;
}

int onLabel(const char* set, readstat_value_t value, const char* label, void* c) {
    auto& p = *static_cast<Parsed*>(c);
    const double x = readstat_value_type(value) == READSTAT_TYPE_INT32
                         ? readstat_int32_value(value)
                         : readstat_double_value(value);
    p.sets[set][x] = label;
    return READSTAT_HANDLER_OK;
}

Parsed parseWithLibrary(const std::string& path) {
    Parsed p;
    readstat_parser_t* parser = readstat_parser_init();
    readstat_set_metadata_handler(parser, onMeta);
    readstat_set_variable_handler(parser, onVar);
    readstat_set_value_handler(parser, onValue);
    readstat_set_value_label_handler(parser, onLabel);
    bool dta = path.size() > 4 && path.substr(path.size() - 4) == ".dta";
    readstat_error_t err = dta ? readstat_parse_dta(parser, path.c_str(), &p)
                               : readstat_parse_sav(parser, path.c_str(), &p);
    readstat_parser_free(parser);
    EXPECT_EQ(err, READSTAT_OK) << path << ": " << readstat_error_message(err);
    return p;
}

Variable numVar(const std::string& name, const std::string& label = {}) {
    Variable v;
    v.name = name;
    v.label = label;
    return v;
}

Variable charVar(const std::string& name) {
    Variable v;
    v.name = name;
    v.type = VarType::Character;
    return v;
}

} // namespace

class StatOut : public DataTest {
  protected:
    std::vector<std::string> files() {
        std::vector<std::string> out;
        for (auto& e : std::filesystem::directory_iterator(dir_))
            out.push_back(e.path().filename().string());
        std::sort(out.begin(), out.end());
        return out;
    }
    // Three rows: id 1..3, ps with a missing value, an arm text of up to 7 bytes (UTF-8).
    void writeSample(const std::string& p, const std::string& psName) {
        OutputDataset out(p);
        int id = out.addVariable(numVar("id", "Study identifier"));
        int ps = out.addVariable(numVar(psName, "Propensity score"));
        int arm = out.addVariable(charVar("arm"));
        const double scores[] = {0.1, missingValue(), 1.0 / 3};
        const char* arms[] = {"drug", "",
                              "plac\xC3\xA9"
                              "bo"};
        for (int i = 0; i < 3; ++i) {
            out.setNum(id, i + 1);
            out.setNum(ps, scores[i]);
            out.setText(arm, arms[i]);
            out.writeRow();
        }
        ASSERT_TRUE(out.commit()) << log();
    }
};

TEST_F(StatOut, StataAndSpssFilesReadBackThroughBothReaders) {
    // SPSS names begin with a letter; Stata's may begin with an underscore.
    for (const char* name : {"out.dta", "out.sav"}) {
        SCOPED_TRACE(name);
        std::string p = path(name);
        const std::string psName = name == std::string("out.dta") ? "_PS_" : "ps";
        writeSample(p, psName);
        EXPECT_EQ(files(), std::vector<std::string>{name}) << "no temporary, no sidecar";

        Parsed lib = parseWithLibrary(p);
        EXPECT_EQ(lib.rows, 3);
        EXPECT_EQ(lib.names, (std::vector<std::string>{"id", psName, "arm"}));
        EXPECT_EQ(lib.labels,
                  (std::vector<std::string>{"Study identifier", "Propensity score", ""}));
        ASSERT_EQ(lib.classes.size(), 3u);
        EXPECT_EQ(lib.classes[0], READSTAT_TYPE_CLASS_NUMERIC);
        EXPECT_EQ(lib.classes[2], READSTAT_TYPE_CLASS_STRING);
        EXPECT_GE(lib.widths[2], 8u); // "placébo" is 8 bytes of UTF-8
        ASSERT_EQ(lib.cells.size(), 3u);
        EXPECT_EQ(lib.cells[0], (std::vector<std::string>{"1", "0.10000000000000001", "drug"}));
        EXPECT_EQ(lib.cells[1], (std::vector<std::string>{"2", ".", ""}));
        EXPECT_EQ(lib.cells[2], (std::vector<std::string>{"3", "0.33333333333333331",
                                                          "plac\xC3\xA9"
                                                          "bo"}));

        auto ds = Dataset::open(p);
        ASSERT_EQ(ds->nvars(), 3);
        EXPECT_EQ(ds->var(2).label, "Propensity score");
        EXPECT_EQ(ds->var(3).type, VarType::Character);
        ASSERT_EQ(ds->nextGroup(), 1);
        std::vector<double> ps;
        std::vector<std::string> arm;
        while (ds->nextObs()) {
            ps.push_back(ds->num(2));
            arm.emplace_back(ds->text(3));
        }
        ASSERT_EQ(ps.size(), 3u);
        EXPECT_EQ(ps[0], 0.1);
        EXPECT_TRUE(isMissing(ps[1]));
        EXPECT_EQ(ps[2], 1.0 / 3); // bit for bit
        EXPECT_EQ(arm[2], "plac\xC3\xA9"
                          "bo");
        std::filesystem::remove(p);
    }
}

TEST_F(StatOut, AStaleSidecarGoesAndAnEmptyDataSetIsValid) {
    std::string p = path("e.dta");
    write("e.dta.schema.json", "{}");
    {
        OutputDataset out(p);
        out.addVariable(numVar("x"));
        ASSERT_TRUE(out.commit()) << log();
    }
    EXPECT_EQ(files(), std::vector<std::string>{"e.dta"});
    Parsed lib = parseWithLibrary(p);
    EXPECT_EQ(lib.rows, 0);
    EXPECT_EQ(lib.names, std::vector<std::string>{"x"});
}

TEST_F(StatOut, NumericOnlyFilesCountTheirRowsFromTheHeader) {
    // No strings and no value labels: the reader takes the row count from the header.
    for (const char* name : {"n.dta", "n.sav"}) {
        SCOPED_TRACE(name);
        std::string p = path(name);
        {
            OutputDataset out(p);
            int x = out.addVariable(numVar("x"));
            for (int i = 0; i < 5; ++i) {
                out.setNum(x, i * 0.5);
                out.writeRow();
            }
            ASSERT_TRUE(out.commit()) << log();
        }
        auto ds = Dataset::open(p);
        EXPECT_EQ(ds->nobs(), 5);
        ASSERT_EQ(ds->nextGroup(), 1);
        std::vector<double> x;
        while (ds->nextObs())
            x.push_back(ds->num(1));
        EXPECT_EQ(x, (std::vector<double>{0, 0.5, 1, 1.5, 2}));
        EXPECT_EQ(ds->nextGroup(), 0);
    }
    // Cut inside its rows, such a file opens but its reading fails, naming the file.
    std::string whole = read(path("n.dta"));
    std::string cut = write("cut.dta", whole.substr(0, whole.size() - 30));
    log_.str("");
    try {
        auto ds = Dataset::open(cut);
        int g = ds->nextGroup();
        while (g > 0 && ds->nextObs()) {
        }
        if (g > 0) g = ds->nextGroup();
        EXPECT_LT(g, 0);
    } catch (const DataSetError&) {
    }
    EXPECT_NE(log().find("ERROR: The data set file " + cut + " cannot be read as Stata data"),
              std::string::npos)
        << log();
}

TEST_F(StatOut, NamesTheFormatRefusesAreReportedAndNothingIsWritten) {
    std::string p = path("u.sav");
    {
        OutputDataset out(p);
        int x = out.addVariable(numVar("_PS_"));
        out.setNum(x, 0.5);
        out.writeRow();
        EXPECT_FALSE(out.commit());
    }
    EXPECT_NE(log().find("ERROR: The output data set " + p +
                         " cannot be written as SPSS data: the variable _PS_ cannot be named so"),
              std::string::npos)
        << log();
    EXPECT_TRUE(files().empty());
}

TEST_F(StatOut, ValuesTheFormatCannotHoldAreRefused) {
    // Stata keeps the doubles above 8.988e307 for its missing values.
    std::string p = path("big.dta");
    {
        OutputDataset out(p);
        int x = out.addVariable(numVar("x"));
        out.setNum(x, 1.0);
        out.writeRow();
        out.setNum(x, std::numeric_limits<double>::max());
        out.writeRow();
        EXPECT_FALSE(out.commit());
    }
    EXPECT_NE(log().find("[900-506]"), std::string::npos) << log();
    EXPECT_NE(log().find("the variable x has the value 1.7976931348623157e+308 in observation 2"),
              std::string::npos)
        << log();
    EXPECT_TRUE(files().empty()) << "nothing is left behind";
    // A Stata string holds at most 2045 bytes.
    log_.str("");
    {
        OutputDataset out(p);
        int t = out.addVariable(charVar("t"));
        out.setText(t, std::string(2046, 'x'));
        out.writeRow();
        EXPECT_FALSE(out.commit());
    }
    EXPECT_NE(log().find("the variable t has a value of 2046 bytes"), std::string::npos) << log();
    EXPECT_TRUE(files().empty());
}

namespace {

// Copies every variable and row of a data set to out, as OUT= does with the input's variables.
void copyAll(Dataset& in, OutputDataset& out) {
    for (int i = 1; i <= in.nvars(); ++i)
        out.addVariable(in.var(i));
    while (in.nextGroup() > 0)
        while (in.nextObs()) {
            for (int i = 1; i <= in.nvars(); ++i) {
                if (in.var(i).type == VarType::Numeric)
                    out.setNum(i, in.num(i));
                else
                    out.setText(i, in.text(i));
            }
            out.writeRow();
        }
}

} // namespace

TEST_F(StatOut, ValueLabelsOfAFileHavenWroteAreWrittenBack) {
    // haven_labelled.dta labels sex 1 "male", 2 "female" (tests/reference/formats_fixtures.R).
    const std::string src = std::string(VELLOC_TEST_DATA) + "/formats/haven_labelled.dta";
    for (const char* name : {"back.dta", "back.sav"}) {
        SCOPED_TRACE(name);
        std::string p = path(name);
        {
            auto in = Dataset::open(src);
            OutputDataset out(p);
            copyAll(*in, out);
            ASSERT_TRUE(out.commit()) << log();
        }
        Parsed lib = parseWithLibrary(p);
        ASSERT_EQ(lib.setOf.count("sex"), 1u);
        EXPECT_EQ(lib.setOf.size(), 1u) << "only sex is labelled";
        EXPECT_EQ(lib.sets[lib.setOf["sex"]],
                  (std::map<double, std::string>{{1, "male"}, {2, "female"}}));
        // Read back by velloc, the texts are the level texts again.
        auto back = Dataset::open(p);
        int sex = back->find("sex");
        ASSERT_GT(sex, 0);
        ASSERT_EQ(back->nextGroup(), 1);
        std::vector<std::string> texts;
        while (back->nextObs())
            texts.push_back(back->formatted(sex));
        ASSERT_EQ(texts.size(), 5u);
        EXPECT_EQ(texts[0], "male");
        EXPECT_EQ(texts[1], "female");
    }
    EXPECT_EQ(log().find("[900-512]"), std::string::npos) << log();
}

TEST_F(StatOut, StataKeepsTheLabelsOfWholeValuesAndCsvSaysItKeepsNone) {
    // Two variables sharing one set with a label on 0.5, which Stata cannot label.
    auto labels = std::make_shared<const std::map<double, std::string>>(
        std::map<double, std::string>{{0.5, "half"}, {1, "one"}, {2, "two"}});
    Variable a = numVar("a"), b = numVar("b");
    a.valueLabels = b.valueLabels = labels;
    auto writeAb = [&](const std::string& p) {
        OutputDataset out(p);
        int ia = out.addVariable(a), ib = out.addVariable(b);
        out.setNum(ia, 1);
        out.setNum(ib, 0.5);
        out.writeRow();
        return out.commit();
    };

    ASSERT_TRUE(writeAb(path("ab.sav"))) << log();
    EXPECT_EQ(log().find("[900-512]"), std::string::npos) << "SPSS labels any value";
    Parsed sav = parseWithLibrary(path("ab.sav"));
    ASSERT_EQ(sav.setOf.size(), 2u);
    EXPECT_EQ(sav.setOf["a"], sav.setOf["b"]) << "one set, shared";
    EXPECT_EQ(sav.sets[sav.setOf["a"]], *labels);

    ASSERT_TRUE(writeAb(path("ab.dta"))) << log();
    Parsed dta = parseWithLibrary(path("ab.dta"));
    ASSERT_EQ(dta.setOf.size(), 2u);
    EXPECT_EQ(dta.setOf["a"], dta.setOf["b"]);
    EXPECT_EQ(dta.sets[dta.setOf["a"]], (std::map<double, std::string>{{1, "one"}, {2, "two"}}));
    EXPECT_NE(log().find("NOTE: The output data set " + path("ab.dta") +
                         " does not keep the value labels of a and b: Stata labels whole "
                         "numbers only"),
              std::string::npos)
        << log();

    log_.str("");
    ASSERT_TRUE(writeAb(path("ab.csv"))) << log();
    EXPECT_NE(log().find("does not keep the value labels of a and b: a CSV file holds no value "
                         "labels; name it .dta or .sav to keep them"),
              std::string::npos)
        << log();
}
