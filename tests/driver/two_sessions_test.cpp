// Two sessions in one process: each keeps its own log, listing, tables, random
// stream and symbols, so two studies give the same outputs whether they run one
// after another or side by side on two threads. A stream shared between them
// would change the continued matches.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <thread>

#include "../e2e/cli_util.h"
#include "base/text.h"
#include "driver/message_catalogue.h"
#include "driver/program_run.h"
#include "host/host.h"

namespace {

namespace fs = std::filesystem;
using velloc::e2e::slurp;

const std::string kData = VELLOC_TEST_DATA "/lalonde/lalonde.csv";

// A greedy match in random order; without SEED= a later match continues the
// session's stream.
std::string greedyStep(const fs::path& out, const std::string& order, const std::string& k) {
    return "proc velloc data='" + kData +
           "' region=allobs;\n"
           "  class treat race married nodegree;\n"
           "  psmodel treat(treated='1') = age educ race married nodegree re74 "
           "re75;\n"
           "  match method=greedy(k=" +
           k + " order=" + order +
           ") distance=lps caliper=0.25;\n"
           "  assess lps var=(age educ re74 re75) / varinfo;\n"
           "  output out(obs=match)='" +
           out.string() + "' matchid=_MatchID;\nrun;\n";
}

// Two random-order matches (the second continuing the stream), then ATT
// weights.
std::string greedyStudy(const fs::path& out) {
    return greedyStep(out / "seeded.csv", "random(seed=8237)", "1") +
           greedyStep(out / "continued.csv", "random", "1") + "proc velloc data='" + kData +
           "' region=cs;\n"
           "  class treat race married nodegree;\n"
           "  psmodel treat(treated='1') = age educ race married nodegree re74 "
           "re75;\n"
           "  psweight weight=attwgt nlargestwgt=4;\n"
           "  assess lps var=(age educ re74 re75) / varinfo;\n"
           "  output out='" +
           (out / "weights.csv").string() + "' ps=_PS attwgt=_ATTWgt;\nrun;\n";
}

// Full matching, then two random-order matches of two controls on another seed.
std::string fullStudy(const fs::path& out) {
    return "proc velloc data='" + kData +
           "' region=treated;\n"
           "  class treat race married nodegree;\n"
           "  psmodel treat(treated='1') = age educ race married nodegree re74 "
           "re75;\n"
           "  match method=full(kmax=3) distance=ps caliper=.;\n"
           "  assess ps var=(age educ re74 re75 married) / varinfo;\n"
           "  output out(obs=match)='" +
           (out / "full.csv").string() + "' matchid=_MatchID matchwgt=_MW;\nrun;\n" +
           greedyStep(out / "seeded.csv", "random(seed=99)", "2") +
           greedyStep(out / "continued.csv", "random", "2");
}

struct Outputs {
    int status = -1;
    std::string log, listing, tables, data;
};

// Everything a study wrote, read back: the log without its timing notes, the
// listing, every table CSV and every OUT= data set, by name.
std::string folderText(const fs::path& dir) {
    std::map<std::string, std::string> files;
    for (const auto& e : fs::directory_iterator(dir))
        if (e.path().extension() == ".csv") files[e.path().filename().string()] = slurp(e.path());
    std::string all;
    for (const auto& [name, text] : files)
        all += "== " + name + "\n" + text;
    return all;
}

Outputs runStudy(const std::string& program, const fs::path& dir) {
    velloc::host::Session session;
    velloc::host::SessionScope bind(session);
    std::ostringstream log, listing;
    velloc::host::Log::setStream(&log);
    session.options.graphics = false;
    session.output.setGraphicsEnabled(false);
    session.output.addSink(velloc::host::makeListingSink(listing));
    session.output.addSink(velloc::host::makeCsvSink((dir / "tables").string()));
    Outputs o;
    o.status = velloc::runProgram(program, "study.vlc").exitStatus;
    session.output.clearSinks();
    velloc::host::Log::setStream(nullptr);
    o.log = std::regex_replace(log.str(), std::regex(".*\\[901-1[04]\\]\\n"), "");
    o.listing = listing.str();
    o.tables = folderText(dir / "tables");
    o.data = folderText(dir / "out");
    return o;
}

class TwoSessions : public ::testing::Test {
  protected:
    void SetUp() override {
        velloc::registerCatalogue();
        root = velloc::e2e::freshTestDir("velloc_sessions_");
        for (const char* sub : {"a/out", "a/tables", "b/out", "b/tables"})
            fs::create_directories(root / sub);
    }
    void TearDown() override { fs::remove_all(root); }
    fs::path root;
};

void expectSame(const Outputs& want, const Outputs& got, const char* study) {
    EXPECT_EQ(want.status, got.status) << study;
    EXPECT_EQ(want.log, got.log) << study;
    EXPECT_EQ(want.listing, got.listing) << study;
    EXPECT_EQ(want.tables, got.tables) << study;
    EXPECT_EQ(want.data, got.data) << study;
}

TEST_F(TwoSessions, SideBySideMatchOneAfterAnother) {
    const std::string a = greedyStudy(root / "a/out"), b = fullStudy(root / "b/out");
    const Outputs wantA = runStudy(a, root / "a"), wantB = runStudy(b, root / "b");
    // The studies are real and different: both ran clean and wrote their own
    // tables and rows.
    ASSERT_EQ(wantA.status, 0) << wantA.log;
    ASSERT_EQ(wantB.status, 0) << wantB.log;
    EXPECT_NE(wantA.tables.find("== LargestWgtObs.csv"), std::string::npos);
    EXPECT_NE(wantB.data.find("== full.csv"), std::string::npos);
    EXPECT_NE(wantA.log, wantB.log);
    EXPECT_NE(wantA.data.find("== continued.csv"), std::string::npos);

    for (int round = 0; round < 3; ++round) {
        Outputs gotA, gotB;
        std::thread ta([&] { gotA = runStudy(a, root / "a"); });
        std::thread tb([&] { gotB = runStudy(b, root / "b"); });
        ta.join();
        tb.join();
        expectSame(wantA, gotA, "greedy study");
        expectSame(wantB, gotB, "full-matching study");
    }
}

TEST_F(TwoSessions, StateStaysWithItsSession) {
    using namespace velloc::host;
    Session first, second;
    {
        SessionScope bind(first);
        xjsympn("study", "first");
        currentRunState().randomStream = 12345;
        {
            // A nested binding hides the outer session and gives it back at its end.
            SessionScope inner(second);
            EXPECT_FALSE(symget("study").has_value());
            EXPECT_EQ(currentRunState().randomStream, 0);
            EXPECT_EQ(&Session::current(), &second);
        }
        EXPECT_EQ(symget("study").value_or(""), "first");
        EXPECT_EQ(&Session::current(), &first);
    }
    // Another thread without a binding sees neither session's state.
    std::optional<std::string> seen = "unset";
    std::thread([&] { seen = symget("study"); }).join();
    EXPECT_FALSE(seen.has_value());
    EXPECT_EQ(first.state.randomStream, 12345);
    EXPECT_EQ(second.state.randomStream, 0);
}

} // namespace
