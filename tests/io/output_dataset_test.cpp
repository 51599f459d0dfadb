#include <bit>
#include <cmath>
#include <filesystem>
#include <limits>
#include <optional>

#include "../support/file_size_limit.h"
#include "base/missing.h"
#include "dataset_test_util.h"
#include "io/dataset_provider.h"
#include "io/memory_dataset.h"
#include "io/output_dataset.h"

using namespace velloc::host;
using velloc::host::testing::DataTest;

namespace {

Variable numVar(const std::string& name) {
    Variable v;
    v.name = name;
    return v;
}

Variable charVar(const std::string& name) {
    Variable v;
    v.name = name;
    v.type = VarType::Character;
    return v;
}

} // namespace

class OutData : public DataTest {
  protected:
    // Every file in the scratch folder, to see that no temporary is left behind.
    std::vector<std::string> files() {
        std::vector<std::string> out;
        for (auto& e : std::filesystem::directory_iterator(dir_))
            out.push_back(e.path().filename().string());
        std::sort(out.begin(), out.end());
        return out;
    }
};

TEST_F(OutData, NumbersReadBackBitForBit) {
    const double values[] = {0.1,
                             1.0 / 3,
                             -2.5,
                             -0.0,
                             1e-300,
                             5e-324,
                             std::numeric_limits<double>::max(),
                             123456789.123456789,
                             6.02214076e23,
                             1e21,
                             std::nextafter(1.0, 2.0),
                             missingValue()};
    std::string p = path("n.csv");
    {
        OutputDataset out(p);
        int x = out.addVariable(numVar("x"));
        for (double v : values) {
            out.setNum(x, v);
            out.writeRow();
        }
        ASSERT_TRUE(out.commit());
    }
    auto ds = Dataset::open(p);
    ASSERT_EQ(ds->var(1).type, VarType::Numeric);
    ASSERT_EQ(ds->nextGroup(), 1);
    for (double v : values) {
        ASSERT_TRUE(ds->nextObs());
        if (isMissing(v))
            EXPECT_TRUE(isMissing(ds->num(1)));
        else
            EXPECT_EQ(std::bit_cast<std::uint64_t>(ds->num(1)), std::bit_cast<std::uint64_t>(v))
                << v;
    }
    EXPECT_FALSE(ds->nextObs());
    // Missing is an empty cell.
    std::string text = read(p);
    EXPECT_EQ(text.substr(text.size() - 2), "\n\n");
}

TEST_F(OutData, CharacterValuesAreQuotedWhenNeeded) {
    const std::vector<std::string> values = {"plain",    "a,b",      "say \"x\"", "two\nlines",
                                             "cr\rhere", " leading", "trailing ", ""};
    std::string p = path("c.csv");
    {
        OutputDataset out(p);
        int id = out.addVariable(numVar("id"));
        int s = out.addVariable(charVar("s"));
        int i = 0;
        for (const std::string& v : values) {
            out.setNum(id, ++i);
            out.setText(s, v);
            out.writeRow();
        }
        ASSERT_TRUE(out.commit());
    }
    std::string text = read(p);
    EXPECT_EQ(text.substr(0, 40), "id,s\n1,plain\n2,\"a,b\"\n3,\"say \"\"x\"\"\"\n4,\"tw");
    auto ds = Dataset::open(p);
    ASSERT_EQ(ds->nextGroup(), 1);
    for (const std::string& v : values) {
        ASSERT_TRUE(ds->nextObs());
        EXPECT_EQ(ds->text(2), v);
    }
}

TEST_F(OutData, TextsOfQuotesOnlyFitTheirBatch) {
    // The longest a text can grow: quotes only, each doubled and the whole quoted, over more
    // rows than one batch holds, so that the room a batch sets aside is used to the last byte.
    std::string p = path("w.csv");
    const int rows = 10000;
    {
        OutputDataset out(p);
        int a = out.addVariable(charVar("a"));
        int x = out.addVariable(numVar("x"));
        int b = out.addVariable(charVar("b"));
        for (int i = 0; i < rows; ++i) {
            out.setText(a, std::string(static_cast<std::size_t>(60 + i % 7), '"'));
            out.setNum(x, i % 10);
            out.setText(b, "\"");
            out.writeRow();
        }
        ASSERT_TRUE(out.commit());
    }
    std::string expected = "a,x,b\n";
    for (int i = 0; i < rows; ++i)
        expected += "\"" + std::string(static_cast<std::size_t>(2 * (60 + i % 7)), '"') + "\"," +
                    std::to_string(i % 10) + ",\"\"\"\"\n";
    EXPECT_EQ(read(p), expected);
}

TEST_F(OutData, UnsetCellsAreMissingAndOrderIsKept) {
    std::string p = path("u.csv");
    OutputDataset out(p);
    int b = out.addVariable(numVar("b"));
    int a = out.addVariable(charVar("a"));
    EXPECT_EQ(out.nvars(), 2);
    EXPECT_EQ(out.var(2).name, "a");
    out.setNum(b, 1);
    out.setText(a, "x");
    out.writeRow();
    out.writeRow();
    ASSERT_TRUE(out.commit());
    EXPECT_EQ(read(p), "b,a\n1,x\n,\n");
}

TEST_F(OutData, NothingAppearsBeforeCommitAndAbortLeavesNoFile) {
    std::string p = path("o.csv");
    {
        OutputDataset out(p);
        int x = out.addVariable(numVar("x"));
        out.setNum(x, 1);
        out.writeRow();
        EXPECT_FALSE(std::filesystem::exists(p));
    }
    EXPECT_EQ(files(), std::vector<std::string>{});
    // An existing data set survives an aborted rewrite.
    write("o.csv", "x\n5\n");
    {
        OutputDataset out(p);
        out.addVariable(numVar("x"));
        out.writeRow();
    }
    EXPECT_EQ(read(p), "x\n5\n");
    EXPECT_EQ(files(), std::vector<std::string>{"o.csv"});
}

TEST_F(OutData, FailedWriteLogsThePathAndLeavesNothing) {
    std::string p = path("nosuchdir/o.csv");
    OutputDataset out(p);
    EXPECT_FALSE(out.good());
    out.addVariable(numVar("x"));
    out.writeRow();
    EXPECT_FALSE(out.commit());
    EXPECT_NE(log().find("ERROR: The output data set " + p + " cannot be written"),
              std::string::npos)
        << log();
    EXPECT_FALSE(std::filesystem::exists(p));
    EXPECT_EQ(files(), std::vector<std::string>{});
}

// Rows are formatted and written on a thread of their own, many at a time: their order, and
// the type check of character columns that decides the sidecar, hold across those batches.
TEST_F(OutData, ManyRowsKeepTheirOrderAndTheCharacterCheckSeesEveryRow) {
    for (const bool lastIsText : {false, true}) {
        const std::string p = path(lastIsText ? "t.csv" : "d.csv");
        const int n = 20000;
        {
            OutputDataset out(p);
            const int x = out.addVariable(numVar("x")), code = out.addVariable(charVar("code"));
            for (int i = 0; i < n; ++i) {
                out.setNum(x, i % 7 == 0 ? missingValue() : i * 0.5);
                out.setText(code, lastIsText && i == n - 1 ? "x9" : std::to_string(i));
                out.writeRow();
            }
            ASSERT_TRUE(out.commit());
        }
        std::string want = "x,code\n";
        for (int i = 0; i < n; ++i) {
            const std::string num = i % 7 == 0 ? ""
                                    : i % 2    ? std::to_string(i / 2) + ".5"
                                               : std::to_string(i / 2);
            want += num + "," + (lastIsText && i == n - 1 ? "x9" : std::to_string(i)) + "\n";
        }
        EXPECT_EQ(read(p), want);
        // Digits only: the sidecar keeps the column character; one text value makes it
        // read back as character anyway.
        EXPECT_EQ(std::filesystem::exists(p.substr(0, p.size() - 4) + ".schema.json"), !lastIsText);
    }
}

TEST_F(OutData, AWriteThatFailsPartWayIsReportedOnCommitAndLeavesNothing) {
    const std::string p = path("big.csv");
    bool committed = true;
    {
        velloc::testing::FileSizeLimit limit(256 * 1024);
        ASSERT_TRUE(limit.ok());
        OutputDataset out(p);
        const int x = out.addVariable(numVar("x"));
        for (int i = 0; i < 200000; ++i) {
            out.setNum(x, i / 3.0);
            out.writeRow();
        }
        committed = out.commit();
    }
    EXPECT_FALSE(committed);
    EXPECT_NE(log().find("ERROR: The output data set " + p + " cannot be written"),
              std::string::npos)
        << log();
    EXPECT_EQ(files(), std::vector<std::string>{});
}

TEST_F(OutData, SidecarCarriesLabelsFormatsAndTypes) {
    std::string p = path("s.csv");
    {
        OutputDataset out(p);
        Variable w = numVar("w");
        w.label = "Weight, kg";
        w.format = "F";
        w.formatWidth = 8;
        w.formatDecimals = 2;
        int wi = out.addVariable(w);
        int zi = out.addVariable(charVar("zip")); // digits only: must stay character
        out.setNum(wi, 70.125);
        out.setText(zi, "01234");
        out.writeRow();
        ASSERT_TRUE(out.commit());
    }
    EXPECT_TRUE(std::filesystem::exists(path("s.schema.json")));
    auto ds = Dataset::open(p);
    EXPECT_EQ(ds->var(1).label, "Weight, kg");
    EXPECT_EQ(ds->var(1).format, "F");
    EXPECT_EQ(ds->var(1).formatWidth, 8);
    EXPECT_EQ(ds->var(1).formatDecimals, 2);
    EXPECT_EQ(ds->var(2).type, VarType::Character);
    ASSERT_EQ(ds->nextGroup(), 1);
    ASSERT_TRUE(ds->nextObs());
    EXPECT_EQ(ds->text(2), "01234");
    EXPECT_EQ(ds->formatted(1), "   70.13");

    // Rewriting without labels removes the sidecar that no longer fits.
    {
        OutputDataset out(p);
        int x = out.addVariable(numVar("x"));
        out.setNum(x, 1);
        out.writeRow();
        ASSERT_TRUE(out.commit());
    }
    EXPECT_FALSE(std::filesystem::exists(path("s.schema.json")));
    EXPECT_EQ(files(), std::vector<std::string>{"s.csv"});
    EXPECT_NO_THROW(Dataset::open(p));
}

namespace {

// A front end that keeps the OUT= data set at one path in memory.
struct KeepingProvider : DataSetProvider {
    std::string keep;
    std::vector<std::shared_ptr<MemoryTable>> taken;
    std::optional<std::string> resolve(const std::string&, bool) override { return {}; }
    std::unique_ptr<Dataset> open(const std::string&) override { return nullptr; }
    bool keepsOutput(const std::string& path) const override { return path == keep; }
    void takeOutput(const std::string&, std::shared_ptr<MemoryTable> t) override {
        taken.push_back(std::move(t));
    }
};

} // namespace

TEST_F(OutData, AKeptDataSetArrivesWholeOnCommitAndNeverAsAFile) {
    KeepingProvider p;
    p.keep = path("kept.csv");
    {
        // Not committed (the step failed): nothing reaches the front end.
        OutputDataset out(p.keep, &p);
        int x = out.addVariable(numVar("x"));
        out.setNum(x, 1);
        out.writeRow();
    }
    EXPECT_TRUE(p.taken.empty());
    {
        OutputDataset out(p.keep, &p);
        Variable labelled = numVar("ps");
        labelled.label = "Propensity Score";
        int ps = out.addVariable(labelled), arm = out.addVariable(charVar("arm"));
        const char* arms[] = {"drug", "", "placebo", "drug"};
        for (int i = 0; i < 4; ++i) {
            if (i != 2) out.setNum(ps, 0.25 * i); // row 3: missing
            out.setText(arm, arms[i]);
            out.writeRow();
        }
        ASSERT_TRUE(out.commit()) << log();
    }
    EXPECT_TRUE(files().empty()) << "no file, no temporary, no sidecar";
    ASSERT_EQ(p.taken.size(), 1u);
    const MemoryTable& t = *p.taken[0];
    ASSERT_EQ(t.columns.size(), 2u);
    EXPECT_EQ(t.columns[0].label, "Propensity Score");
    const std::vector<double>& ps = t.columns[0].numbers;
    ASSERT_EQ(ps.size(), 4u);
    EXPECT_EQ(ps[1], 0.25);
    EXPECT_TRUE(isMissing(ps[2]));
    EXPECT_EQ(t.columns[1].codes, (std::vector<std::int32_t>{0, -1, 1, 0})) << "blank is -1";
    EXPECT_EQ(t.columns[1].texts, (std::vector<std::string>{"drug", "placebo"}));
    EXPECT_EQ(checkMemoryTable(t), "") << "a later DATA= can read it";
}
