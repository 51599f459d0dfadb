// The output data set rows: input order, observations left out of the analysis, the OBS=
// selection and the value of each new variable, read back from the committed file.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <unistd.h>

#include "core/phases.h"
#include "core/run_context.h"
#include "driver/message_catalogue.h"
#include "host/host.h"
#include "output/output_data.h"

namespace velloc {
namespace {

// Four observations of one BY group: a numeric id and a character site.
class FourObs : public host::Dataset {
  public:
    FourObs() {
        vars_[0].name = "id";
        vars_[1].name = "site";
        vars_[1].type = host::VarType::Character;
    }
    const std::string& path() const override { return path_; }
    const std::string& label() const override { return path_; }
    int nvars() const override { return 2; }
    const host::Variable& var(int n) const override { return vars_[n - 1]; }
    int find(std::string_view) const override { return 0; }
    std::int64_t nobs() const override { return 4; }
    void setBy(std::vector<host::ByKey>, bool) override {}
    int nextGroup() override { return 0; }
    bool nextObs() override { return ++cur_ <= 4; }
    void rewindGroup() override { cur_ = 0; }
    std::int64_t obsNumber() const override { return cur_; }
    double num(int) const override { return 10.0 * cur_; }
    std::string_view text(int) const override { return sites_[cur_ - 1]; }
    std::string formatted(int) const override { return {}; }
    std::vector<std::string> byDescription() const override { return {}; }

  private:
    std::string path_ = "four.csv";
    host::Variable vars_[2];
    const char* sites_[4] = {"a", "b", "c", "d"};
    int cur_ = 4; // the reading phase left the group at its end
};

struct OutputRun {
    VlcRun run;
    FourObs data;
    std::filesystem::path file = std::filesystem::temp_directory_path() /
                                 ("vlcoutd_test_" + std::to_string(::getpid()) + ".csv");

    OutputRun() {
        registerCatalogue();
        run.inData = &data;
        run.outDataPath = file.string();
        run.outData = std::make_unique<host::OutputDataset>(file.string());
        for (int i = 1; i <= 2; ++i)
            run.outData->addVariable(data.var(i));
        // PS, the default ATT weight variable, the stratum number.
        run.outPs = 2;
        run.outWgt = run.outWgtAtt = 2;
        run.outStrata = 2;
        run.outVars = {
            {"_PS_", "", kSlotPs}, {"_ATTWGT_", "", kSlotWeight}, {"_STRATA_", "", kSlotStrata}};
        for (const OutVar& v : run.outVars) {
            host::Variable d;
            d.name = v.name;
            run.outData->addVariable(d);
        }
        run.outSlots.assign(kSlotWeight + 1, host::missingValue());
        // Observation 2 was left out; 1, 3 and 4 have working records.
        run.vlcskip = std::make_unique<host::UtilFile>("VLCSKIP", 4);
        for (std::int32_t flag : {0, 1, 0, 0})
            run.vlcskip->write(&flag);
        run.voutRecBytes = 13 * 8;
        run.vlcvout = std::make_unique<host::UtilFile>("VLCVOUT", 13 * 8);
        struct W {
            double obs, ps, region, att, stratum;
        };
        for (W w : {W{1, 0.2, 1, 0.25, 1}, W{3, 0.9, 0, 9.0, kNaN}, W{4, 0.6, 1, 1.0, 2}}) {
            double r[13] = {};
            r[0] = w.obs;
            r[1] = 1;
            r[3] = w.ps;
            r[4] = std::log(w.ps / (1 - w.ps));
            r[5] = w.region;
            r[8] = w.att;
            r[12] = w.stratum;
            run.vlcvout->write(r);
        }
    }
    ~OutputRun() { std::filesystem::remove(file); }

    std::unique_ptr<host::Dataset> readBack() {
        EXPECT_EQ(vlcoutc(run), 0);
        auto ds = host::Dataset::open(file.string());
        ds->setBy({}, false);
        EXPECT_GT(ds->nextGroup(), 0);
        return ds;
    }
};

TEST(OutputRows, AllObservationsInInputOrder) {
    OutputRun o;
    ASSERT_EQ(vlcoutd(o.run, 1, 2), 0);
    auto ds = o.readBack();
    ASSERT_EQ(ds->nvars(), 5);
    EXPECT_EQ(ds->var(3).name, "_PS_");
    double ps[4], att[4], st[4];
    std::string site[4];
    for (int i = 0; i < 4; ++i) {
        ASSERT_TRUE(ds->nextObs());
        EXPECT_DOUBLE_EQ(ds->num(1), 10.0 * (i + 1));
        site[i] = ds->text(2);
        ps[i] = ds->num(3);
        att[i] = ds->num(4);
        st[i] = ds->num(5);
    }
    EXPECT_FALSE(ds->nextObs());
    EXPECT_EQ(site[1], "b");
    EXPECT_DOUBLE_EQ(ps[0], 0.2);
    EXPECT_TRUE(std::isnan(ps[1])); // left out: new variables missing
    EXPECT_TRUE(std::isnan(att[1]));
    EXPECT_DOUBLE_EQ(ps[2], 0.9);
    EXPECT_DOUBLE_EQ(att[2], 9.0);
    EXPECT_DOUBLE_EQ(att[3], 1.0);
    EXPECT_DOUBLE_EQ(st[0], 1);
    EXPECT_TRUE(std::isnan(st[2])); // outside the region
    EXPECT_DOUBLE_EQ(st[3], 2);
}

TEST(OutputRows, RegionSelectionAndNoStrata) {
    OutputRun o;
    o.run.outObs = kOutRegion;
    ASSERT_EQ(vlcoutd(o.run, 1, 0), 0);
    auto ds = o.readBack();
    ASSERT_TRUE(ds->nextObs());
    EXPECT_DOUBLE_EQ(ds->num(1), 10);
    EXPECT_TRUE(std::isnan(ds->num(5))); // no strata formed in this group
    ASSERT_TRUE(ds->nextObs());
    EXPECT_DOUBLE_EQ(ds->num(1), 40);
    EXPECT_FALSE(ds->nextObs());
}

TEST(OutputRows, NothingVisibleBeforeTheCommit) {
    OutputRun o;
    vlcoutd(o.run, 1, 0);
    EXPECT_FALSE(std::filesystem::exists(o.file));
    EXPECT_EQ(vlcoutc(o.run), 0);
    EXPECT_TRUE(std::filesystem::exists(o.file));
}

} // namespace
} // namespace velloc
