// The driver's fixed phase order, its abandon rule and its output groups, checked with
// substitute phases that record their calls over a data set of a given number of BY groups.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "../support/memory_dataset.h"
#include "core/run_context.h"
#include "driver/message_catalogue.h"
#include "driver/step_driver.h"
#include "host/host.h"

namespace velloc {
namespace {

std::vector<std::string> trace;
int failIn = -1;       // BY group (1-based) in which the failing phase fails
std::string failPhase; // name of the phase that fails there
int currentGroup = 0;

int record(const char* name) {
    trace.push_back(name);
    return currentGroup == failIn && failPhase == name ? 1 : 0;
}

#define PHASE(n)                                                                                   \
    int n##_(VlcRun&) {                                                                            \
        return record(#n);                                                                         \
    }
PHASE(vlcin)
PHASE(vlcodel)
PHASE(vlclreg)
PHASE(vlcwght)
PHASE(vlcregn)
PHASE(vlcsort)
PHASE(vlcfile)
PHASE(vlcxcov)
PHASE(velloc)
PHASE(vlccomb)
PHASE(vlcmend)
PHASE(vlcstra)
PHASE(vlccdst)
PHASE(vlccdf1)
PHASE(vlccdff)
PHASE(vlcback)
PHASE(vlctdat)
PHASE(vlctpsc)
PHASE(vlctstr)
PHASE(vlctinf)
PHASE(vlctdif)
PHASE(vlcpset)
PHASE(vlcpltc)
PHASE(vlctexw)
#undef PHASE
int vlcbin_(VlcRun& run) {
    ++currentGroup;
    run.matchActive = run.matchGiven;
    run.nStrata = run.nStrataReq;
    return record("vlcbin");
}
int vlctmtcOk = -1;
int vlctmtc_(VlcRun&, int ok) {
    vlctmtcOk = ok;
    return record("vlctmtc");
}
int vlcoutdOk = -1;
int vlcoutd_(VlcRun&, int ok, int) {
    vlcoutdOk = ok;
    return record("vlcoutd");
}

PhaseTable recordingPhases() {
    PhaseTable p;
    p.vlcbin = vlcbin_;
    p.vlcin = vlcin_;
    p.vlcodel = vlcodel_;
    p.vlclreg = vlclreg_;
    p.vlcwght = vlcwght_;
    p.vlcregn = vlcregn_;
    p.vlcsort = vlcsort_;
    p.vlcfile = vlcfile_;
    p.vlcxcov = vlcxcov_;
    p.velloc = velloc_;
    p.vlccomb = vlccomb_;
    p.vlcmend = vlcmend_;
    p.vlcstra = vlcstra_;
    p.vlccdst = vlccdst_;
    p.vlccdf1 = vlccdf1_;
    p.vlccdff = vlccdff_;
    p.vlcback = vlcback_;
    p.vlctdat = vlctdat_;
    p.vlctpsc = vlctpsc_;
    p.vlctmtc = vlctmtc_;
    p.vlctstr = vlctstr_;
    p.vlctinf = vlctinf_;
    p.vlctdif = vlctdif_;
    p.vlcpset = vlcpset_;
    p.vlcpltc = vlcpltc_;
    p.vlctexw = vlctexw_;
    p.vlcoutd = vlcoutd_;
    return p;
}

// Records which output groups are opened and closed.
class GroupSink : public host::OutputSink {
  public:
    std::vector<std::string> events;
    void groupOpened(const host::OutputContext& c) override {
        events.push_back("open " + c.groupPath.back() + " " + c.byValues.at(0));
    }
    void groupClosed(const host::OutputContext& c) override {
        events.push_back("close " + c.groupPath.back());
    }
};

class Driver : public ::testing::Test {
  protected:
    void SetUp() override {
        registerCatalogue();
        host::Log::setStream(&log);
        trace.clear();
        failIn = -1;
        failPhase.clear();
        currentGroup = 0;
        vlctmtcOk = vlcoutdOk = -1;
        sink = std::make_shared<GroupSink>();
        output.addSink(sink);
        run.procOutput = &output;
    }
    void TearDown() override { host::Log::setStream(nullptr); }
    void runGroups(int n) {
        data = std::make_unique<testing::MemoryDataset>(std::vector<testing::MemoryDataset::Col>{},
                                                        "groups.csv", "groups.csv", n);
        run.inData = data.get();
        runByGroups(run, recordingPhases());
    }
    std::ostringstream log;
    host::Output output;
    std::shared_ptr<GroupSink> sink;
    VlcRun run;
    std::unique_ptr<testing::MemoryDataset> data;
};

std::vector<std::vector<std::string>> byGroup(const std::vector<std::string>& t) {
    std::vector<std::vector<std::string>> groups;
    for (const auto& s : t) {
        if (s == "vlcbin") groups.emplace_back();
        groups.back().push_back(s);
    }
    return groups;
}

// The treated and control files are read only by matching: without it they are not written.
TEST_F(Driver, PlainWeightingRunsTheFixedSequenceWithoutSortGroupFilesOrMatching) {
    run.outDataPath = "out.csv";
    runGroups(1);
    std::vector<std::string> expect = {"vlcbin",  "vlcin",   "vlcodel", "vlclreg", "vlcwght",
                                       "vlcregn", "vlccdff", "vlctdat", "vlctpsc", "vlcoutd"};
    EXPECT_EQ(trace, expect);
    EXPECT_EQ(sink->events, (std::vector<std::string>{"open Assessment 1", "close Assessment"}));
}

TEST_F(Driver, AFailingPhaseAbandonsOnlyItsGroup) {
    run.outDataPath = "out.csv";
    failIn = 2;
    failPhase = "vlcwght";
    runGroups(3);
    auto groups = byGroup(trace);
    ASSERT_EQ(groups.size(), 3u);
    EXPECT_EQ(groups[1].back(), "vlcwght");
    EXPECT_EQ(groups[0].back(), "vlcoutd");
    EXPECT_EQ(groups[2].back(), "vlcoutd");
    EXPECT_EQ(groups[0], groups[2]);
    // The abandoned group opened no output group.
    EXPECT_EQ(sink->events.size(), 4u);
}

TEST_F(Driver, SuppliedScoresSkipTheFit) {
    run.psSupplied = 1;
    runGroups(1);
    EXPECT_EQ(std::count(trace.begin(), trace.end(), "vlclreg"), 0);
    EXPECT_EQ(trace[3], "vlcwght");
}

TEST_F(Driver, MatchingFailureClearsTheFlagButKeepsTablesAndOutput) {
    run.matchGiven = 1;
    run.distance = kScoreMahalanobis;
    run.outDataPath = "out.csv";
    failIn = 1;
    failPhase = "velloc";
    runGroups(1);
    std::vector<std::string> expect = {
        "vlcbin",  "vlcin",  "vlcodel", "vlclreg", "vlcwght", "vlcregn", "vlcsort", "vlcfile",
        "vlcxcov", "velloc", "vlccdff", "vlcback", "vlctdat", "vlctpsc", "vlctmtc", "vlcoutd"};
    EXPECT_EQ(trace, expect);
    EXPECT_EQ(vlctmtcOk, 0);
    EXPECT_EQ(vlcoutdOk, 0);
}

TEST_F(Driver, MatchingSuccessRunsBookkeepingAndPassesTheFlag) {
    run.matchGiven = 1;
    run.outDataPath = "out.csv";
    runGroups(1);
    EXPECT_EQ(std::count(trace.begin(), trace.end(), "vlcxcov"), 0); // not Mahalanobis
    EXPECT_NE(std::find(trace.begin(), trace.end(), "vlcmend"), trace.end());
    EXPECT_EQ(vlctmtcOk, 1);
    EXPECT_EQ(vlcoutdOk, 1);
}

TEST_F(Driver, StrataRunTheirStatisticsAndStratifiedGroup) {
    run.nStrataReq = 5;
    run.strataAssess = 1;
    run.assessGiven = 1;
    run.varInfoTable = 1;
    runGroups(1);
    std::vector<std::string> expect = {"vlcbin",  "vlcin",   "vlcodel", "vlclreg", "vlcwght",
                                       "vlcregn", "vlcsort", "vlcstra", "vlccdst", "vlccdf1",
                                       "vlccdff", "vlcback", "vlctdat", "vlctpsc", "vlctstr",
                                       "vlctinf", "vlcpset"};
    EXPECT_EQ(trace, expect);
    EXPECT_EQ(sink->events,
              (std::vector<std::string>{"open Assessment 1", "close Assessment",
                                        "open StrataAssessment 1", "close StrataAssessment"}));
}

TEST_F(Driver, ACdfPlotFailureLeavesTheGroupOpenUntilTheNextGroup) {
    run.assessGiven = 1;
    run.plotCdf = 1;
    run.assessLps = 1;
    run.outDataPath = "out.csv";
    failIn = 1;
    failPhase = "vlcpltc";
    runGroups(2);
    auto groups = byGroup(trace);
    EXPECT_EQ(groups[0].back(), "vlcpltc"); // no output data set rows for the abandoned group
    EXPECT_EQ(groups[1].back(), "vlcoutd");
    EXPECT_EQ(sink->events, (std::vector<std::string>{"open Assessment 1", "close Assessment",
                                                      "open Assessment 2", "close Assessment"}));
}

TEST_F(Driver, NoGroupsRunsNoPhaseAndWarnsOfAnEmptyDataSet) {
    runGroups(0);
    EXPECT_TRUE(trace.empty());
    EXPECT_EQ(run.status, 4);
    EXPECT_NE(log.str().find("WARNING:"), std::string::npos);
    EXPECT_NE(log.str().find("[901-11]"), std::string::npos);
}

TEST_F(Driver, EachGroupLogsItsPhaseTimes) {
    runGroups(2);
    EXPECT_NE(log.str().find("BY group 1 (g=1) took"), std::string::npos);
    EXPECT_NE(log.str().find("BY group 2 (g=2) took"), std::string::npos);
}

TEST(DriverExit, StatusMapsToTheProgramExitStatus) {
    EXPECT_EQ(exitStatusFor(0), 0);
    EXPECT_EQ(exitStatusFor(4), 0);
    EXPECT_EQ(exitStatusFor(112), 2);
    EXPECT_EQ(exitStatusFor(3000), 3);
    EXPECT_EQ(exitStatusFor(1008), 3);
    EXPECT_EQ(exitStatusFor(2), 1); // a count of statements in error
    EXPECT_EQ(exitStatusFor(120), 3);
    EXPECT_EQ(runExitStatus(0, 1), 1);
    EXPECT_EQ(runExitStatus(0, 0), 0);
    EXPECT_EQ(runExitStatus(2, 3), 2);
    EXPECT_EQ(runExitStatus(3, 1), 3);
}

} // namespace
} // namespace velloc
