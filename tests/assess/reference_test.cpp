// Both examples run end to end; their balance tables are checked against the independent
// Python reference (tests/reference/balance_reference.py), which recomputes every statistic
// from the output data set by the formulas, race (three levels) row by row.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

namespace fs = std::filesystem;

int runExample(const std::string& example, const fs::path& work) {
    fs::create_directories(work / "out");
    std::string cmd = "cd '" + work.string() +
                      "' && ln -sfn '" VELLOC_SOURCE_DIR "/examples' examples && '" VELLOC_BINARY
                      "' --no-graphics --listing /dev/null"
                      " --log velloc.log --tables-dir tables examples/" +
                      example;
    return std::system(cmd.c_str());
}

int runReference(const fs::path& work, const std::string& data, const std::string& extra) {
    std::string cmd = "python3 '" VELLOC_SOURCE_DIR
                      "/tests/reference/balance_reference.py' --data '" +
                      (work / data).string() + "' --tables '" + (work / "tables").string() +
                      "' --treat treat --treated 1 --cont age,educ,re74,re75"
                      " --binary married,nodegree --levels race --lps _LPS " +
                      extra + " > '" + (work / "reference.txt").string() + "'";
    return std::system(cmd.c_str());
}

TEST(BalanceReference, WeightingExample) {
    fs::path work = fs::temp_directory_path() / "velloc_ref_weighting";
    fs::remove_all(work);
    ASSERT_EQ(runExample("weighting.vlc", work), 0);
    EXPECT_EQ(runReference(work, "out/weighting.csv", "--weight _ATTWgt"), 0)
        << "see " << (work / "reference.txt");
}

TEST(BalanceReference, StrataExample) {
    fs::path work = fs::temp_directory_path() / "velloc_ref_strata";
    fs::remove_all(work);
    ASSERT_EQ(runExample("strata.vlc", work), 0);
    EXPECT_EQ(runReference(work, "out/strata.csv", "--strata _Stratum"), 0)
        << "see " << (work / "reference.txt");
}

} // namespace
