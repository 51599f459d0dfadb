// What a script sees of a run's outcome: the exit status of each kind of ending, the file
// modes of everything written, and an output data set that velloc reads back.
#include <gtest/gtest.h>

#include "cli_util.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

class Outcome : public ::testing::Test {
  protected:
    void SetUp() override {
        dir = velloc::e2e::freshTestDir("velloc_outcome_");
        // 40 observations; treatment more likely as x grows, z a second numeric column.
        std::string csv = "id,site,treat,x,z\n";
        for (int i = 1; i <= 40; ++i) {
            double x = ((i * 37) % 41) / 41.0;
            int treat = ((i * 13) % 7) < 2 + static_cast<int>(4 * x) ? 1 : 0;
            csv += std::to_string(i) + "," + std::to_string(1 + i % 3) + "," +
                   std::to_string(treat) + "," + std::to_string(x) + "," + std::to_string(i % 5) +
                   "\n";
        }
        write("d.csv", csv);
    }
    void TearDown() override { fs::remove_all(dir); }

    void write(const std::string& name, const std::string& text) {
        std::ofstream(dir / name, std::ios::binary) << text;
    }
    std::string read(const fs::path& p) { return velloc::e2e::slurp(p); }
    // Runs velloc on the program text under the given umask; the log is in log.
    int run(const std::string& program, const std::string& flags = "",
            const std::string& mask = "022") {
        write("p.vlc", program);
        std::string cmd = "cd '" + dir.string() + "' && umask " + mask + " && '" + VELLOC_BINARY +
                          "' --log run.log " + flags + " p.vlc > out.lst 2> err.txt";
        int rc = std::system(cmd.c_str());
        log = read(dir / "run.log") + read(dir / "err.txt");
        return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    }
    bool logged(const std::string& id) const { return log.find(id) != std::string::npos; }
    unsigned mode(const fs::path& p) {
        struct stat st {};
        if (::stat(p.c_str(), &st) != 0) return 0;
        return st.st_mode & 0777;
    }
    fs::path dir;
    std::string log;
};

const std::string kStep = "proc velloc data='d.csv';\n class treat;\n"
                          " psmodel treat(treated='1') = x z;\n";

TEST_F(Outcome, EachKindOfEndingHasItsExitStatus) {
    // 0: a clean run.
    EXPECT_EQ(run(kStep + " output out='o.csv';\nrun;\n"), 0) << log;
    EXPECT_EQ(log.find("ERROR:"), std::string::npos) << log;

    // 1: a variable-ratio match that finds no acceptable solution logs an ERROR and the step
    // goes on to write its tables and the output data set.
    EXPECT_EQ(run(kStep + " match method=varratio(kmin=3 kmax=4);\n output out='m.csv';\nrun;\n"),
              1)
        << log;
    EXPECT_TRUE(logged("ERROR:")) << log;
    EXPECT_TRUE(fs::exists(dir / "m.csv"));

    // 1: a statement in error ends its step; the next step still runs.
    EXPECT_EQ(run("proc velloc data='d.csv'; class treat; psmodel treat = x; "
                  "match method=greedy calipr=0.2; run;\n" +
                  kStep + "run;\n"),
              1)
        << log;
    EXPECT_TRUE(logged("Did you mean CALIPER")) << log;
    EXPECT_TRUE(logged("step 2 ended with status 0")) << log;

    // 1: the HTML report could not be written.
    EXPECT_EQ(run(kStep + "run;\n", "--html nowhere/r.html"), 1) << log;
    EXPECT_TRUE(logged("ERROR:")) << log;

    // 2: a BY group without controls is abandoned, the others are analysed.
    std::string by = "id,g,treat,x\n";
    for (int i = 1; i <= 30; ++i)
        by += std::to_string(i) + ",1," + std::to_string(i % 3 == 0) + "," +
              std::to_string((i * 7 % 30) / 30.0) + "\n";
    for (int i = 31; i <= 34; ++i)
        by += std::to_string(i) + ",2,1,0." + std::to_string(i) + "\n";
    write("by.csv", by);
    EXPECT_EQ(run("proc velloc data='by.csv'; by g; class treat; "
                  "psmodel treat(treated='1') = x; run;\n"),
              2)
        << log;
    EXPECT_TRUE(logged("status 112.")) << log;

    // 3: a fatal status.
    EXPECT_EQ(run("proc velloc data='gone.csv'; class treat; psmodel treat = x; run;\n"), 3) << log;
    EXPECT_TRUE(logged("status 1008.")) << log;

    // 64: a command-line usage error.
    EXPECT_EQ(run(kStep + "run;\n", "--no-such-flag"), 64);
}

TEST_F(Outcome, OutputFilesFollowTheUmask) {
    const std::string program = kStep + " assess var=(x z);\n output out='o.csv' ps=p;\nrun;\n";
    for (auto [mask, want] : {std::pair{"022", 0644u}, std::pair{"077", 0600u}}) {
        SCOPED_TRACE(mask);
        fs::remove_all(dir / "t");
        ASSERT_EQ(run(program, "--html r.html --tables-dir t", mask), 0) << log;
        EXPECT_EQ(mode(dir / "o.csv"), want);
        EXPECT_EQ(mode(dir / "o.schema.json"), want);
        EXPECT_EQ(mode(dir / "r.html"), want);
        ASSERT_TRUE(fs::exists(dir / "t"));
        for (const auto& e : fs::directory_iterator(dir / "t"))
            EXPECT_EQ(mode(e.path()), want) << e.path();
        // Written through a temporary file beside the target that is renamed into place.
        for (const auto& e : fs::directory_iterator(dir))
            EXPECT_EQ(e.path().string().find(".tmp-"), std::string::npos) << e.path();
    }
}

TEST_F(Outcome, OutputNamesThatCollideAreRefusedAndTheOutputReadsBack) {
    // ps=z and lps=site name input columns: the step is refused before it writes anything.
    EXPECT_EQ(run(kStep + " output out='o.csv' ps=z lps=site;\nrun;\n"), 3) << log;
    EXPECT_TRUE(logged("[900-400]")) << log;
    EXPECT_NE(log.find(" z "), std::string::npos) << log;
    EXPECT_FALSE(fs::exists(dir / "o.csv"));
    // Two new variables of one name, in another case, likewise.
    EXPECT_EQ(run(kStep + " output out='o.csv' ps=score lps=SCORE;\nrun;\n"), 3) << log;
    EXPECT_TRUE(logged("[900-400]")) << log;
    EXPECT_FALSE(fs::exists(dir / "o.csv"));

    // Distinct names: the output is a data set velloc analyses again, with the scores it wrote
    // supplied as the propensity scores.
    ASSERT_EQ(run(kStep + " output out='o.csv' ps=score lps=logit;\nrun;\n"), 0) << log;
    std::string header = read(dir / "o.csv").substr(0, read(dir / "o.csv").find('\n'));
    EXPECT_EQ(header, "id,site,treat,x,z,score,logit,_ATTWGT_");
    ASSERT_EQ(run("proc velloc data='o.csv'; class treat;\n"
                  " psdata treatvar=treat(treated='1') ps=score;\n"
                  " output out='o2.csv' weight=w2;\nrun;\n"),
              0)
        << log;
    std::string again = read(dir / "o2.csv");
    EXPECT_EQ(again.substr(0, again.find('\n')), header + ",w2");
}

} // namespace
