// Faults that can strike in any phase of a step: a utility-file read or write that fails, and
// memory that runs out. Each must stop the step with its fatal status, say in the log what
// failed and in which phase, and leave no output data set behind.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <new>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

#include "../support/file_size_limit.h"
#include "driver/message_catalogue.h"
#include "driver/step_driver.h"
#include "host/host.h"
#include "model/logistic.h"
#include "statements/statements.h"

namespace velloc {
namespace {

namespace fs = std::filesystem;
using host::UtilFile;

class StepFaults : public ::testing::Test {
  protected:
    void SetUp() override {
        registerCatalogue();
        dir = fs::temp_directory_path() /
              ("velloc_faults_" + std::to_string(::getpid()) + "_" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
        std::string csv = "id,treat,x,z\n";
        for (int i = 1; i <= 60; ++i) {
            double x = ((i * 37) % 61) / 61.0;
            int treat = ((i * 13) % 7) < 2 + static_cast<int>(4 * x) ? 1 : 0;
            csv += std::to_string(i) + "," + std::to_string(treat) + "," + std::to_string(x) + "," +
                   std::to_string(i % 5) + "\n";
        }
        std::ofstream(dir / "d.csv") << csv;
    }
    void TearDown() override {
        UtilFile::clearInjectedFault();
        fs::remove_all(dir);
    }

    // A step over d.csv with the given statements and an output data set o.csv.
    std::string program(const std::string& body) const {
        return "proc velloc data='" + (dir / "d.csv").string() +
               "';\n class treat;\n psmodel treat(treated='1') = x z;\n" + body +
               "\n output out='" + (dir / "o.csv").string() + "' ps=p;\nrun;\n";
    }
    int run(const std::string& text, const PhaseTable& phases = PhaseTable{}) {
        std::ostringstream out;
        host::Log::setStream(&out);
        host::Log::resetCounts();
        int code = runProcedureStep(StepSource{"faults.vlc", text, 1, 1}, 1, phases);
        host::Log::setStream(nullptr);
        log = out.str();
        return code;
    }
    bool wroteOutput() const { return fs::exists(dir / "o.csv"); }
    // d.csv of 140,000 rows, a BY group large enough for the passes that split over two cores,
    // z taking the given number of values.
    void writeLargeGroup(int zValues) const {
        std::string csv = "id,treat,x,z\n";
        for (int i = 1; i <= 140000; ++i) {
            const double x = ((i * 37) % 1009) / 1009.0;
            const int treat = ((i * 13) % 7) < 2 + static_cast<int>(4 * x) ? 1 : 0;
            csv += std::to_string(i) + "," + std::to_string(treat) + "," + std::to_string(x) + "," +
                   std::to_string(i % zValues) + "\n";
        }
        std::ofstream(dir / "d.csv") << csv;
    }

    fs::path dir;
    std::string log;
};

const std::string kMatched = " match method=greedy(k=1);\n assess ps var=(x z) / plots=(all);";
const std::string kStratified = " strata nstrata=3;\n assess ps var=(x z);";

struct PhaseFault {
    const char* phase;
    UtilFile::FaultOp op;
    const std::string* body;
    // The phase rewrites records where they lie in memory, with no read or write that could
    // fail: its faults are those of the files on disk.
    bool onDisk = false;
};

TEST_F(StepFaults, AFaultInAnyPhaseStopsTheStepAndWritesNoOutput) {
    // Without a fault both steps run and write their output data set.
    for (const std::string* body : {&kMatched, &kStratified}) {
        const int status = run(program(*body));
        ASSERT_TRUE(status == 0 || status == 4) << log; // warnings of unmatched units allowed
        ASSERT_TRUE(wroteOutput());
        fs::remove(dir / "o.csv");
        fs::remove(dir / "o.schema.json");
    }
    using Op = UtilFile::FaultOp;
    const PhaseFault cases[] = {
        {"read", Op::Write, &kMatched},         {"model rows", Op::Read, &kMatched},
        {"fit", Op::Read, &kMatched},           {"weights", Op::Write, &kMatched},
        {"region", Op::Write, &kMatched, true}, {"sort", Op::Write, &kMatched},
        {"group files", Op::Write, &kMatched},  {"match", Op::Read, &kMatched},
        {"strata", Op::Write, &kStratified},    {"restore order", Op::Write, &kMatched},
        {"plots", Op::Read, &kMatched},         {"output data", Op::Read, &kMatched},
    };
    for (const PhaseFault& c : cases) {
        SCOPED_TRACE(c.phase);
        fs::remove(dir / "o.csv");
        // A fault in the middle of the phase's file traffic, not only at its first record.
        UtilFile::injectFault(c.op, c.phase, 3);
        const std::size_t saved = UtilFile::spillThreshold();
        if (c.onDisk) UtilFile::setSpillThreshold(1024);
        EXPECT_EQ(run(program(*c.body)), host::kExitUtilityFile) << log;
        UtilFile::setSpillThreshold(saved);
        EXPECT_NE(log.find("injected fault"), std::string::npos) << log;
        EXPECT_NE(log.find("A utility file failed in the " + std::string(c.phase) +
                           " phase of BY group 1"),
                  std::string::npos)
            << log;
        EXPECT_NE(log.find("[901-400]"), std::string::npos) << log;
        EXPECT_NE(log.find("ended with status 1012"), std::string::npos) << log;
        EXPECT_FALSE(wroteOutput());
        UtilFile::clearInjectedFault();
    }
}

TEST_F(StepFaults, RunningOutOfMemorySaysWhere) {
    PhaseTable phases;
    phases.vlcwght = [](VlcRun&) -> int { throw std::bad_alloc(); };
    EXPECT_EQ(run(program(""), phases), host::kExitNoMemory) << log;
    EXPECT_NE(log.find("Out of memory in the weights phase of BY group 1"), std::string::npos)
        << log;
    EXPECT_NE(log.find("[901-12]"), std::string::npos) << log;
    EXPECT_FALSE(wroteOutput());
}

// A BY group large enough for the fit to read its spilled rows by number on two cores: a read
// that fails there still ends the step, once, naming the phase, with no output data set.
TEST_F(StepFaults, AFaultInTheFitsReadsOnTwoCoresEndsTheStep) {
    writeLargeGroup(5);
    const std::size_t saved = UtilFile::spillThreshold();
    UtilFile::setSpillThreshold(std::size_t{4} << 20);
    const int clean = run(program(""));
    const bool cleanWrote = wroteOutput();
    fs::remove(dir / "o.csv");
    UtilFile::injectFault(UtilFile::FaultOp::Read, "fit", 5);
    const int faulted = run(program(""));
    UtilFile::setSpillThreshold(saved);
    EXPECT_TRUE(clean == 0 || clean == 4) << log;
    EXPECT_TRUE(cleanWrote);
    EXPECT_EQ(faulted, host::kExitUtilityFile) << log;
    std::size_t errors = 0;
    for (auto p = log.find("A utility file failed in the fit phase of BY group 1");
         p != std::string::npos; p = log.find("A utility file failed in the fit phase", p + 1))
        ++errors;
    EXPECT_EQ(errors, 1u) << log;
    EXPECT_NE(log.find("injected fault"), std::string::npos) << log;
    EXPECT_FALSE(wroteOutput());
}

// A BY group large enough for its model rows to be made on two threads from a copy of the
// input on disk: the levels read by number on both cores, then rows made on one thread while
// the other writes them. A read that fails on either side, or a write of the rows, ends the
// step once, naming the phase, with no output data set (and neither thread waits on the other
// for ever).
TEST_F(StepFaults, AFaultInTheModelRowsOnTwoThreadsEndsTheStep) {
    writeLargeGroup(40);
    const std::size_t saved = UtilFile::spillThreshold();
    UtilFile::setSpillThreshold(std::size_t{4} << 20);
    const int clean = run(program(""));
    EXPECT_TRUE(clean == 0 || clean == 4) << log;
    EXPECT_TRUE(wroteOutput());
    // Faults are injected on this thread, which reads the first half for the levels (blocks
    // of 4,096 records), then the copy for the rows; the rows' writer, on the other thread,
    // fails past a file size limit (11 MiB) that the copy of the input (80 bytes a record,
    // 11.2 MB) stays under and the model rows (376 bytes a record with z's 40 levels, 53 MB)
    // pass early, with many more rows left to make than the blocks made ahead.
    std::string wide = program("");
    wide.replace(wide.find("class treat;"), 12, "class treat z;");
    for (const std::int64_t nth : {5, 30, 0}) {
        SCOPED_TRACE(nth);
        fs::remove(dir / "o.csv");
        if (nth > 0) {
            UtilFile::injectFault(UtilFile::FaultOp::Read, "model rows", nth);
            EXPECT_EQ(run(program("")), host::kExitUtilityFile) << log;
            UtilFile::clearInjectedFault();
        } else {
            velloc::testing::FileSizeLimit limit(std::size_t{11} << 20);
            ASSERT_TRUE(limit.ok());
            EXPECT_EQ(run(wide), host::kExitUtilityFile) << log;
        }
        std::size_t errors = 0;
        for (auto p = log.find("A utility file failed in the model rows phase of BY group 1");
             p != std::string::npos; p = log.find("A utility file failed in the model rows", p + 1))
            ++errors;
        EXPECT_EQ(errors, 1u) << log;
        EXPECT_NE(log.find(nth > 0 ? "injected fault" : "No space left for utility file VLCLREG"),
                  std::string::npos)
            << log;
        EXPECT_FALSE(wroteOutput());
    }
    UtilFile::setSpillThreshold(saved);
}

// Model rows that fail after a number of reads, as a utility file that cannot be read does.
class FailingRows : public ModelRowSource {
  public:
    FailingRows(std::vector<double> data, int recordDoubles, std::int64_t readsBeforeFault)
        : data_(std::move(data)), r_(recordDoubles), left_(readsBeforeFault) {}
    int recordDoubles() const override { return r_; }
    int rewind() override {
        pos_ = 0;
        return 0;
    }
    bool read(double* rec) override {
        if (left_-- <= 0 || pos_ >= data_.size() / r_) return false;
        std::copy_n(data_.data() + pos_ * r_, r_, rec);
        ++pos_;
        return true;
    }

  private:
    std::vector<double> data_;
    int r_;
    std::int64_t left_;
    std::size_t pos_ = 0;
};

TEST(FitReadFault, RowsThatFailMidFitAreAnErrorNotAFitOnPartialData) {
    // 20 rows, intercept and one covariate; y is not separable in x.
    const int D = 2, R = kRowDesign + D, n = 20;
    std::vector<double> rows;
    for (int i = 0; i < n; ++i) {
        std::vector<double> r(R, 0.0);
        r[kRowObs] = i + 1;
        r[kRowFreq] = r[kRowWeight] = 1.0;
        r[kRowTreat] = (i % 3 == 0 || i == 7) ? 1 : 0;
        r[kRowDesign] = 1.0;
        r[kRowDesign + 1] = i / 10.0;
        rows.insert(rows.end(), r.begin(), r.end());
    }
    FitResult whole;
    FailingRows all(rows, R, 1 << 30);
    ASSERT_EQ(fitLogistic(all, D, n, whole), 0);
    EXPECT_FALSE(whole.readError);

    // In the first pass (the cross products) and in a later Newton pass.
    for (std::int64_t reads : {std::int64_t{5}, std::int64_t{n + 5}, std::int64_t{3 * n + 1}}) {
        SCOPED_TRACE(reads);
        FitResult res;
        FailingRows src(rows, R, reads);
        EXPECT_EQ(fitLogistic(src, D, n, res), 1);
        EXPECT_TRUE(res.readError);
    }
    // A source holding fewer rows than the fit was told of is the same fault.
    FitResult shortRes;
    FailingRows shortSrc(rows, R, 1 << 30);
    EXPECT_EQ(fitLogistic(shortSrc, D, n + 1, shortRes), 1);
    EXPECT_TRUE(shortRes.readError);
}

} // namespace
} // namespace velloc
