// The velloc command as a script sees it: exit statuses, the log's message ids and closing
// status line, and no output file left behind by a failed run.
#include <gtest/gtest.h>

#include "cli_util.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/wait.h>

namespace fs = std::filesystem;

namespace {

struct Result {
    int exit = -1;
    std::string out;
    std::string log;
};

class Cli : public ::testing::Test {
  protected:
    void SetUp() override { dir = velloc::e2e::freshTestDir("velloc_cli_"); }
    void TearDown() override { fs::remove_all(dir); }

    void write(const std::string& name, const std::string& text) {
        std::ofstream(dir / name, std::ios::binary) << text;
    }
    std::string read(const fs::path& p) { return velloc::e2e::slurp(p); }
    // Runs velloc in the test folder with the given arguments.
    Result run(const std::string& args) {
        std::string cmd = "cd '" + dir.string() + "' && '" + VELLOC_BINARY + "' " + args +
                          " > stdout.txt 2> stderr.txt";
        int rc = std::system(cmd.c_str());
        Result r;
        r.exit = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
        r.out = read(dir / "stdout.txt");
        r.log = read(dir / "stderr.txt");
        if (fs::exists(dir / "run.log")) r.log += read(dir / "run.log");
        return r;
    }
    fs::path dir;
};

using velloc::e2e::lastLine;

const char* kData = "id,treat,x\n1,1,0.5\n2,0,0.7\n3,1,0.2\n4,0,0.9\n";

TEST_F(Cli, HelpAndVersionSucceed) {
    Result h = run("--help");
    EXPECT_EQ(h.exit, 0);
    EXPECT_NE(h.out.find("--tables-dir"), std::string::npos);
    Result v = run("--version");
    EXPECT_EQ(v.exit, 0);
    EXPECT_NE(v.out.find("velloc "), std::string::npos);
}

TEST_F(Cli, UsageErrorsExit64) {
    EXPECT_EQ(run("--no-such-flag prog.vlc").exit, 64);
    EXPECT_EQ(run("").exit, 64); // no program
    Result missing = run("absent.vlc");
    EXPECT_EQ(missing.exit, 64);
    EXPECT_NE(missing.log.find("absent.vlc"), std::string::npos);
    write("p.vlc", "proc velloc data='d.csv'; run;");
    EXPECT_EQ(run("--lib nolibfolder p.vlc").exit, 64);
}

TEST_F(Cli, ARunEndsWithTheStatusLine) {
    write("d.csv", kData);
    write("p.vlc", "proc velloc data='d.csv';\n"
                   "  class treat;\n  psmodel treat = x;\nrun;\n");
    Result r = run("--log run.log p.vlc");
    EXPECT_LT(r.exit, 3) << r.log;
    EXPECT_NE(lastLine(r.log).find("status"), std::string::npos) << r.log;
    EXPECT_NE(lastLine(r.log).find("[901-2]"), std::string::npos);
}

TEST_F(Cli, AMissingDataSetIsFatalAndNamesTheFile) {
    write("p.vlc", "proc velloc data='nowhere.csv';\n class treat;\n psmodel treat = x;\nrun;\n");
    Result r = run("p.vlc");
    EXPECT_EQ(r.exit, 3);
    EXPECT_NE(r.log.find("nowhere.csv"), std::string::npos) << r.log;
    EXPECT_NE(r.log.find("ERROR:"), std::string::npos);
    EXPECT_NE(lastLine(r.log).find("status 1008"), std::string::npos) << r.log;
}

TEST_F(Cli, AMalformedCsvNamesTheLineAndLeavesNoOutput) {
    write("d.csv", "id,treat,x\n1,1,0.5\n2,0\n");
    write("p.vlc", "proc velloc data='d.csv';\n class treat;\n psmodel treat = x;\n"
                   " output out='o.csv' ps=p;\nrun;\n");
    Result r = run("p.vlc");
    EXPECT_EQ(r.exit, 3);
    EXPECT_NE(r.log.find("d.csv"), std::string::npos) << r.log;
    EXPECT_NE(r.log.find("line 3"), std::string::npos) << r.log;
    EXPECT_FALSE(fs::exists(dir / "o.csv"));
}

TEST_F(Cli, AnEmptyDataSetWarnsAndLeavesNoOutput) {
    write("d.csv", "id,treat,x\n");
    write("p.vlc", "proc velloc data='d.csv';\n class treat;\n psmodel treat = x;\n"
                   " output out='o.csv' ps=p;\nrun;\n");
    Result r = run("p.vlc");
    EXPECT_EQ(r.exit, 0) << r.log;
    EXPECT_NE(r.log.find("no observations"), std::string::npos) << r.log;
    EXPECT_FALSE(fs::exists(dir / "o.csv"));
}

TEST_F(Cli, AProgramWithoutAStepIsAnError) {
    write("p.vlc", "/* nothing here */\n");
    Result r = run("p.vlc");
    EXPECT_EQ(r.exit, 3);
    EXPECT_NE(r.log.find("ERROR:"), std::string::npos);
}

TEST_F(Cli, ProgramFromStandardInputAndLibraries) {
    fs::create_directories(dir / "lib");
    std::ofstream(dir / "lib" / "study.csv") << kData;
    write("in.vlc", "proc velloc data=mylib.study; class treat; psmodel treat = x; run;\n");
    Result r = run("--lib mylib=lib --log run.log - < in.vlc");
    EXPECT_LT(r.exit, 3) << r.log;
    write("bad.vlc", "proc velloc data=nolib.study; class treat; psmodel treat = x; run;\n");
    Result bad = run("- < bad.vlc");
    EXPECT_EQ(bad.exit, 3);
    EXPECT_NE(bad.log.find("NOLIB"), std::string::npos) << bad.log;
}

TEST_F(Cli, SeveralStepsRunInTurnAndTheWorstStatusWins) {
    write("d.csv", kData);
    write("p.vlc", "proc velloc data='d.csv'; class treat; psmodel treat = x; run;\n"
                   "proc velloc data='gone.csv'; class treat; psmodel treat = x; run;\n");
    Result r = run("p.vlc");
    EXPECT_EQ(r.exit, 3);
    EXPECT_NE(r.log.find("step 1 ended"), std::string::npos) << r.log;
    EXPECT_NE(r.log.find("step 2 ended with status 1008"), std::string::npos) << r.log;
}

} // namespace

namespace {

TEST_F(Cli, OnlyAliasingInTheDataWarns) {
    // g has three levels: its last indicator is redundant by construction and must not warn;
    // z = 2x is redundant in the data and must.
    std::string csv = "t,g,x,z\n";
    for (int i = 0; i < 40; ++i) {
        int x = (i * 7) % 11;
        csv += std::to_string((i % 3 == 0) != (x > 5)) + "," + "abc"[i % 3] + "," +
               std::to_string(x) + "," + std::to_string(2 * x) + "\n";
    }
    write("d.csv", csv);
    write("plain.vlc", "proc velloc data='d.csv'; class t g; psmodel t(treated='1') = g x; run;");
    Result plain = run("--log run.log plain.vlc");
    EXPECT_EQ(plain.exit, 0) << plain.log;
    EXPECT_EQ(plain.log.find("[1049-233]"), std::string::npos) << plain.log;
    EXPECT_NE(plain.log.find("status 0."), std::string::npos) << plain.log;
    std::filesystem::remove(dir / "run.log");
    write("dup.vlc", "proc velloc data='d.csv'; class t g; psmodel t(treated='1') = g x z; run;");
    Result dup = run("--log run.log dup.vlc");
    EXPECT_NE(dup.log.find("[1049-233]"), std::string::npos) << dup.log;
    EXPECT_NE(dup.log.find("status 4."), std::string::npos) << dup.log;
}

} // namespace

namespace {

const std::string kLalonde = std::string(VELLOC_TEST_DATA) + "/lalonde/lalonde.csv";
const std::string kStep = "proc velloc data='" + kLalonde +
                          "';\n  class treat married;\n"
                          "  psmodel treat(treated='1') = age educ married;\n";

// A write that fails (a full device) is an ERROR naming the file, and the run does not exit
// clean; the device stays a device (the report is never renamed over it).
TEST_F(Cli, OutputsThatCannotBeWrittenAreErrors) {
    if (!fs::is_character_file("/dev/full")) GTEST_SKIP() << "no /dev/full";
    write("p.vlc", kStep + "run;\n");
    Result r = run("--log run.log --listing /dev/null --html /dev/full p.vlc");
    EXPECT_EQ(r.exit, 1) << r.log;
    EXPECT_NE(r.log.find("ERROR: Cannot write the output file /dev/full: No space left on device"),
              std::string::npos)
        << r.log;
    EXPECT_EQ(r.log.find("The HTML report was written"), std::string::npos) << r.log;
    EXPECT_TRUE(fs::is_character_file("/dev/full"));
    fs::remove(dir / "run.log");

    r = run("--log run.log --listing /dev/full p.vlc");
    EXPECT_EQ(r.exit, 1) << r.log;
    EXPECT_NE(r.log.find("ERROR: Cannot write the output file /dev/full"), std::string::npos)
        << r.log;
    fs::remove(dir / "run.log");

    r = run("--log /dev/full --listing /dev/null p.vlc");
    EXPECT_EQ(r.exit, 1) << r.log;
    EXPECT_NE(r.log.find("velloc: the log file /dev/full could not be written"), std::string::npos)
        << r.log;
}

// A symbolic link to an output file stays a link, its file taking the output; a data set is
// never renamed over a device.
TEST_F(Cli, OutputsThroughALinkKeepTheLinkAndADeviceIsNoDataSet) {
    write("real.html", "old");
    write("real.csv", "old");
    fs::create_symlink("real.html", dir / "report.html");
    fs::create_symlink("real.csv", dir / "out.csv");
    write("p.vlc", kStep + "  output out='out.csv';\nrun;\n");
    Result r = run("--log run.log --listing /dev/null --html report.html p.vlc");
    EXPECT_EQ(r.exit, 0) << r.log;
    EXPECT_TRUE(fs::is_symlink(dir / "report.html"));
    EXPECT_TRUE(fs::is_symlink(dir / "out.csv"));
    EXPECT_NE(read(dir / "real.html").find("<!DOCTYPE html>"), std::string::npos);
    EXPECT_EQ(read(dir / "real.csv").rfind("id,treat,", 0), 0u) << read(dir / "real.csv");
    fs::remove(dir / "run.log");

    write("p.vlc", kStep + "  output out='/dev/null';\nrun;\n");
    r = run("--log run.log --listing /dev/null p.vlc");
    EXPECT_NE(r.exit, 0) << r.log;
    EXPECT_NE(r.log.find("/dev/null"), std::string::npos) << r.log;
    EXPECT_NE(r.log.find("it is not a regular file"), std::string::npos) << r.log;
    EXPECT_TRUE(fs::is_character_file("/dev/null"));
}

// An output that cannot be set up runs no step, and the log still ends on the status line.
TEST_F(Cli, AnOutputThatCannotBeSetUpEndsOnTheStatusLine) {
    write("p.vlc", kStep + "run;\n");
    write("afile", "x");
    for (const std::string& args : {std::string("--listing nodir/x.lst"),
                                    std::string("--listing /dev/null --graphs-dir afile")}) {
        SCOPED_TRACE(args);
        fs::remove(dir / "run.log");
        Result r = run("--log run.log " + args + " p.vlc");
        EXPECT_EQ(r.exit, 3) << r.log;
        EXPECT_NE(r.log.find("ERROR:"), std::string::npos) << r.log;
        EXPECT_NE(lastLine(r.log).find("finished 0 procedure step(s) with status 1020"),
                  std::string::npos)
            << r.log;
    }
}

// OUT= naming the input, however spelled, would replace the data at the end of the step.
TEST_F(Cli, AnOutputDataSetOverItsInputIsRefused) {
    fs::copy_file(kLalonde, dir / "d.csv");
    const std::string before = read(dir / "d.csv");
    for (const char* out : {"d.csv", "./d.csv"}) {
        SCOPED_TRACE(out);
        write("p.vlc", "proc velloc data='d.csv';\n  class treat married;\n"
                       "  psmodel treat(treated='1') = age educ married;\n  output out='" +
                           std::string(out) + "';\nrun;\n");
        fs::remove(dir / "run.log");
        Result r = run("--log run.log --listing /dev/null p.vlc");
        EXPECT_EQ(r.exit, 3) << r.log;
        EXPECT_NE(r.log.find("[1049-263]"), std::string::npos) << r.log;
        EXPECT_EQ(read(dir / "d.csv"), before);
    }
}

// What a program repeats is read the first time; each repeat is a warning, not silence.
TEST_F(Cli, RepeatedStatementsAndOptionsWarn) {
    write("p.vlc", kStep + "  strata nstrata=3;\n  strata nstrata=7;\nrun;\n");
    Result r = run("--log run.log --listing out.lst p.vlc");
    EXPECT_EQ(r.exit, 0) << r.log;
    EXPECT_NE(r.log.find("WARNING: Only the first STRATA statement is used; the later ones (the "
                         "next on line 5) are ignored. [1049-264]"),
              std::string::npos)
        << r.log;
    EXPECT_NE(lastLine(r.log).find("status 4"), std::string::npos) << r.log;
    fs::remove(dir / "run.log");
    write("p.vlc", kStep + "  match method=greedy(k=1) caliper=0.1 caliper=0.5;\nrun;\n");
    r = run("--log run.log --listing out.lst p.vlc");
    EXPECT_NE(r.log.find("WARNING: The MATCH statement on line 4 gives CALIPER= more than once; "
                         "the first (0.1) is used"),
              std::string::npos)
        << r.log;
    EXPECT_EQ(r.log.find("[1049-264]"), std::string::npos) << r.log;
}

// The report of a run that failed says so, with the log's errors, before anything else.
TEST_F(Cli, TheReportOfAFailedRunShowsItsErrors) {
    write("p.vlc", "proc velloc data='nowhere.csv';\n class treat;\n psmodel treat = x;\nrun;\n");
    Result r = run("--log run.log --html r.html p.vlc");
    EXPECT_EQ(r.exit, 3) << r.log;
    const std::string html = read(dir / "r.html");
    const auto at = html.find("<h2>Errors in the log</h2>");
    ASSERT_NE(at, std::string::npos) << html;
    EXPECT_NE(html.find("nowhere.csv", at), std::string::npos) << html;
    EXPECT_NE(html.find("[900-1]", at), std::string::npos) << html;
    // A clean run's report has no such section.
    write("p.vlc", kStep + "run;\n");
    fs::remove(dir / "run.log");
    r = run("--log run.log --listing /dev/null --html r.html p.vlc");
    EXPECT_EQ(r.exit, 0) << r.log;
    EXPECT_EQ(read(dir / "r.html").find("Errors in the log"), std::string::npos);
}

} // namespace
