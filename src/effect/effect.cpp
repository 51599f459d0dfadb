// vlceffect: the treatment effect of one BY group. The input observations are read again
// beside VLCSKIP and the working file (back in observation order, as for the output data
// set), so the effect uses exactly the rows, weights, matched sets and strata the adjustment
// produced.
#include <cmath>
#include <string>
#include <vector>

#include <fmt/format.h>

#include "adjust/adjust.h"
#include "assess/table_columns.h"
#include "core/run_context.h"
#include "effect/effect.h"
#include "effect/effect_messages.h"
#include "effect/refit_bootstrap.h"
#include "model/structure.h"
#include "numeric/random.h"

namespace velloc {

namespace {

using effect::Adjustment;
using effect::Measure;
using effect::SeMethod;

const char* measureName(Measure m) {
    return m == Measure::Diff ? "DIFF" : m == Measure::Ratio ? "RATIO" : "ODDSRATIO";
}

const char* estimandName(effect::Estimand e) {
    return e == effect::Estimand::Att ? "ATT" : e == effect::Estimand::Ate ? "ATE" : "ATC";
}

const char* seName(const effect::Request& r) {
    if (r.adjustment == Adjustment::Strata && r.se != SeMethod::Bootstrap) return "STRATA";
    return r.se == SeMethod::Cluster     ? "CLUSTER"
           : r.se == SeMethod::Bootstrap ? "BOOTSTRAP"
                                         : "ROBUST";
}

// The row's analysis weight, or NaN when the row is not in the adjusted sample.
double sampleWeight(const VlcRun& run, const double* rec) {
    const double region = rec[kVoutRegion];
    switch (run.effect.adjustment) {
    case Adjustment::Matching:
        if (!(region >= 1.5)) return kNaN;
        return rec[run.weightType == kWeightMatchAte ? kVoutMatchAte : kVoutMatchAtt];
    case Adjustment::Strata:
        return region >= 0.1 && !host::isMissing(rec[kVoutStratum]) ? 1.0 : kNaN;
    case Adjustment::Weights: {
        if (!(region >= 0.1)) return kNaN;
        const double w = run.weightType == kWeightAte ? rec[run.stabilize ? kVoutAteStab : kVoutAte]
                                                      : rec[kVoutAtt];
        return host::isMissing(w) ? kNaN : w;
    }
    case Adjustment::None:
        return region >= 0.1 ? 1.0 : kNaN;
    }
    return kNaN;
}

struct Collected {
    std::vector<effect::Sample> samples;   // one per outcome
    std::vector<std::int64_t> missing;     // rows dropped for a missing value, per outcome
    std::vector<std::string> missingWhich; // the first variable found missing, per outcome
};

Collected collect(VlcRun& run) {
    const effect::Request& r = run.effect;
    const std::size_t nOut = r.outcomes.size(), p = r.covariates.size(), stride = nOut + p;
    Collected c;
    c.samples.resize(nOut);
    c.missing.assign(nOut, 0);
    c.missingWhich.resize(nOut);
    host::UtilFile& vout = *run.vlcvout;
    const auto rows = static_cast<std::size_t>(vout.count());
    const bool clustered =
        r.adjustment == Adjustment::Matching || r.adjustment == Adjustment::Strata;
    for (effect::Sample& s : c.samples) {
        s.p = static_cast<int>(p);
        for (auto* v : {&s.y, &s.treat, &s.weight, &s.freq})
            v->reserve(rows);
        if (clustered) s.cluster.reserve(rows);
        s.x.reserve(rows * p);
    }
    vout.point(0);
    const std::size_t recDoubles = static_cast<std::size_t>(run.voutRecBytes + 7) / 8;
    std::vector<double> rec(std::max<std::size_t>(recDoubles, kVoutFixed));
    const int clusterField = r.adjustment == Adjustment::Strata ? kVoutStratum : kVoutMatchSet;
    while (vout.read(rec.data())) {
        const double w = sampleWeight(run, rec.data());
        if (std::isnan(w)) continue;
        const auto obs = static_cast<std::size_t>(rec[kVoutObs]) - 1;
        if ((obs + 1) * stride > r.values.size()) continue;
        const double* v = &r.values[obs * stride];
        const double* x = v + nOut;
        int missingCov = -1;
        for (std::size_t j = 0; j < p && missingCov < 0; ++j)
            if (host::isMissing(x[j])) missingCov = static_cast<int>(j);
        for (std::size_t o = 0; o < nOut; ++o) {
            if (host::isMissing(v[o]) || missingCov >= 0) {
                if (c.missing[o]++ == 0)
                    c.missingWhich[o] =
                        host::isMissing(v[o])
                            ? r.outcomeNames[o]
                            : r.covariateNames[static_cast<std::size_t>(missingCov)];
                continue;
            }
            effect::Sample& s = c.samples[o];
            s.y.push_back(v[o]);
            s.treat.push_back(rec[kVoutTreat] > 0.5 ? 1.0 : 0.0);
            s.weight.push_back(w);
            s.freq.push_back(rec[kVoutFreq]);
            if (clustered) s.cluster.push_back(rec[clusterField]);
            s.x.insert(s.x.end(), x, x + p);
        }
    }
    vout.point(0);
    return c;
}

// The observations a bootstrap that redoes the adjustment draws from: every working record
// (a treatment group and a score), with the model row the fit read, and the covariates.
effect::RefitStudy refitStudy(VlcRun& run) {
    const effect::Request& r = run.effect;
    effect::RefitStudy st;
    st.D = run.psSupplied ? 0 : run.model.layout.D;
    if (!run.psSupplied) {
        st.expectedAliases = structuralAliases(run.model);
        st.start = run.coef;
    }
    const auto width = static_cast<std::size_t>(st.recordDoubles());
    // The model rows by observation number.
    std::vector<double> design;
    std::vector<std::int64_t> at;
    if (!run.psSupplied) {
        host::UtilFile& lreg = *run.vlclreg;
        std::vector<double> rec(std::max<std::size_t>((lreg.recordBytes() + 7) / 8,
                                                      static_cast<std::size_t>(kRowDesign + st.D)));
        lreg.point(0);
        while (lreg.read(rec.data())) {
            const auto obs = static_cast<std::size_t>(rec[kRowObs]);
            if (obs >= at.size()) at.resize(obs + 1, -1);
            at[obs] = static_cast<std::int64_t>(design.size() / width);
            design.insert(design.end(), rec.begin(), rec.begin() + static_cast<long>(width));
        }
        lreg.point(0);
    }
    host::UtilFile& vout = *run.vlcvout;
    const std::size_t nOut = r.outcomes.size(), p = r.covariates.size(), stride = nOut + p;
    st.p = static_cast<int>(p);
    std::vector<double> rec(
        std::max<std::size_t>(static_cast<std::size_t>(run.voutRecBytes + 7) / 8, kVoutFixed));
    std::vector<double> row(width, 0.0);
    vout.point(0);
    while (vout.read(rec.data())) {
        const auto obs = static_cast<std::size_t>(rec[kVoutObs]);
        if (obs == 0 || obs * stride > r.values.size()) continue;
        if (!run.psSupplied) {
            if (obs >= at.size() || at[obs] < 0) continue;
            const double* d = &design[static_cast<std::size_t>(at[obs]) * width];
            row.assign(d, d + width);
        }
        row[kRowObs] = rec[kVoutObs];
        row[kRowFreq] = rec[kVoutFreq];
        if (run.psSupplied) row[kRowWeight] = 1.0;
        row[kRowScore] = rec[kVoutPs];
        row[kRowTreat] = rec[kVoutTreat] > 0.5 ? 1.0 : 0.0;
        st.rows.insert(st.rows.end(), row.begin(), row.end());
        const double* x = &r.values[(obs - 1) * stride + nOut];
        st.x.insert(st.x.end(), x, x + p);
        st.y.push_back(kNaN);
    }
    vout.point(0);
    return st;
}

// The outcome values of the study's observations.
void studyOutcome(const VlcRun& run, effect::RefitStudy& st, std::size_t o) {
    const effect::Request& r = run.effect;
    const std::size_t stride = r.outcomes.size() + r.covariates.size();
    const auto width = static_cast<std::size_t>(st.recordDoubles());
    for (std::size_t i = 0; i < st.size(); ++i) {
        const auto obs = static_cast<std::size_t>(st.rows[i * width + kRowObs]);
        st.y[i] = r.values[(obs - 1) * stride + o];
    }
}

effect::RefitRule refitRule(const VlcRun& run) {
    const effect::Request& r = run.effect;
    effect::RefitRule rule;
    rule.refit = !run.psSupplied;
    rule.strata = r.adjustment == Adjustment::Strata;
    rule.ate = run.weightType == kWeightAte;
    rule.stabilize = run.stabilize != 0;
    rule.region = regionRule(run);
    rule.sdTreatedOnly = run.sdTreatedOnly != 0;
    rule.nStrata = run.nStrataReq;
    rule.keyTreated = run.strataKey == 1;
    rule.treatedWeights = run.strataWeight == 2;
    rule.measure = r.measure;
    rule.estimand = r.estimand;
    return rule;
}

// Counts of the draws a bootstrap gave up, for the warning.
std::string failureText(const effect::RefitFailures& f) {
    std::string t;
    auto add = [&](std::int64_t n, const char* what) {
        if (n > 0) t += (t.empty() ? "" : ", ") + std::to_string(n) + " " + what;
    };
    add(f.group, "without a treated or a control observation");
    add(f.fit, "whose propensity model did not converge, was singular or separated the groups");
    add(f.region, "without a support region holding two observations of each group");
    add(f.strata, "whose strata could not be formed");
    add(f.estimate, "whose effect was undefined");
    return t;
}

// The first outcome value that is not 0 or 1, as text; empty when there is none.
std::string notBinary(const effect::Sample& s) {
    for (double y : s.y)
        if (y != 0.0 && y != 1.0) return fmt::format("{}", y);
    return {};
}

// Why the ratio or odds ratio of a 0/1 outcome has no value: a group whose every counted
// outcome is 0 (or, for the odds, 1). Empty when it has one, and for the difference.
std::string undefinedRatio(const effect::Sample& s, Measure m) {
    if (m == Measure::Diff) return {};
    bool seen[2][2] = {{false, false}, {false, false}}; // [group][outcome]
    for (std::size_t i = 0; i < s.size(); ++i)
        if (s.weight[i] > 0.0 && s.freq[i] > 0.0)
            seen[s.treat[i] > 0.5 ? 1 : 0][s.y[i] > 0.5 ? 1 : 0] = true;
    const bool odds = m == Measure::OddsRatio;
    for (int g : {1, 0}) {
        const bool allZero = !seen[g][1], allOne = !seen[g][0];
        if (!allZero && !(odds && allOne)) continue;
        return fmt::format("every {} outcome is {}, so the {} is not defined (MEASURE=DIFF "
                           "estimates the difference)",
                           g == 1 ? "treated" : "control", allZero ? 0 : 1,
                           odds ? "odds ratio" : "ratio");
    }
    return {};
}

struct ProgressState {
    const std::string* outcome;
    int nRep;
    int nextReport;
};

void reportProgress(void* context, int done) {
    auto* st = static_cast<ProgressState*>(context);
    if (done < st->nextReport) return;
    host::xpmlog(host::kGroupProc, kMsgEffectBootstrapProgress,
                 {*st->outcome, std::to_string(done), std::to_string(st->nRep)});
    st->nextReport += std::max(1, st->nRep / 10);
}

struct Row {
    std::string outcome;
    effect::Contrast c;
    effect::Inference inf;
};

void deliver(VlcRun& run, const std::vector<Row>& rows) {
    const effect::Request& r = run.effect;
    host::TableInstance eff = openInstance(run, run.tabEffect);
    host::TableInstance means = openInstance(run, run.tabEffectMeans);
    for (const Row& row : rows) {
        RowBuffer b(run.tabEffect);
        b.text("Outcome", row.outcome);
        b.text("Estimand", estimandName(r.estimand));
        b.text("Measure", measureName(r.measure));
        b.num("Estimate", row.c.estimate);
        b.num("StdErr", row.c.se);
        b.num("Lower", row.inf.lower);
        b.num("Upper", row.inf.upper);
        b.num("Z", row.inf.z);
        b.num("ProbZ", row.inf.p);
        b.num("TreatedN", row.c.count[1]);
        b.num("ControlN", row.c.count[0]);
        b.num("TreatedESS", row.c.ess[1]);
        b.num("ControlESS", row.c.ess[0]);
        b.text("SEMethod", seName(r));
        b.addTo(eff);
        for (int g = 1; g >= 0; --g) {
            RowBuffer m(run.tabEffectMeans);
            m.text("Outcome", row.outcome);
            m.text("Group", g == 1 ? run.treatedLabel : run.controlLabel);
            m.num("N", row.c.count[g]);
            m.num("ESS", row.c.ess[g]);
            m.num("Mean", row.c.mean[g]);
            m.num("StdErr", row.c.meanSe[g]);
            m.addTo(means);
        }
    }
    deliverTable(run, eff);
    deliverTable(run, means);
}

void warnDroppedStrata(VlcRun& run, const Row& row) {
    for (double id : row.c.droppedStrata) {
        host::xpmlog(host::kGroupProc, kMsgEffectStratumDropped,
                     {fmt::format("{}", id), row.outcome});
        run.raise(4);
    }
}

// The effect of outcome o on the adjusted sample s with the error of a bootstrap that redoes
// the adjustment in every replicate. False when there is no estimate.
bool bootstrapAdjusted(VlcRun& run, effect::RefitStudy& study, std::size_t o,
                       const effect::Sample& s, Row& row) {
    effect::Request& r = run.effect;
    const bool strata = r.adjustment == Adjustment::Strata;
    const effect::Contrast full =
        strata ? effect::stratifiedContrast(s, r.measure, run.strataWeight == 2)
               : effect::weightedContrast(s, r.measure, r.estimand, SeMethod::Robust);
    row.c = full;
    warnDroppedStrata(run, row);
    if (std::isnan(full.mean[0]) && !r.covariates.empty()) {
        host::xpmlog(host::kGroupProc, kMsgEffectSingular, {row.outcome});
        run.raise(4);
        return false;
    }
    studyOutcome(run, study, o);
    ProgressState st{&row.outcome, r.nRep, std::max(1, r.nRep / 10)};
    effect::RefitBootstrap b = effect::bootstrapRefit(study, refitRule(run), full, r.nRep, r.alpha,
                                                      r.streamLive, reportProgress, &st);
    if (b.failures.total() > 0) {
        host::xpmlog(host::kGroupProc, kMsgEffectBootstrapRedrawn,
                     {std::to_string(b.failures.total()), row.outcome, failureText(b.failures)});
        run.raise(4);
    }
    if (const auto done = static_cast<int>(b.boot.replicates.size()); done < r.nRep) {
        host::xpmlog(host::kGroupProc, kMsgEffectBootstrapShort,
                     {std::to_string(done), std::to_string(r.nRep), row.outcome});
        run.raise(4);
    }
    row.c = b.boot.contrast;
    row.inf = effect::infer(row.c.estimate, row.c.se, r.measure, r.alpha);
    row.inf.lower = b.boot.lower;
    row.inf.upper = b.boot.upper;
    return true;
}

} // namespace

void effectTables(VlcRun& run) {
    if (!run.effect.given) return;
    auto begin = [](host::TableDefinition& def, const char* name, int label) {
        def = host::TableDefinition{};
        def.name = name;
        def.label = host::wkread(host::kGroupProc, label);
        def.templatePath = std::string("Stat.Velloc.") + name;
    };
    int width = 8;
    for (const std::string& n : run.effect.outcomeNames)
        width = std::max(width, static_cast<int>(n.size()));
    host::TableDefinition& e = run.tabEffect;
    begin(e, "Effect", kMsgEffectTable);
    e.addColumn(textColumn("Outcome", width));
    e.addColumn(textColumn("Estimand", 3));
    e.addColumn(textColumn("Measure", 9));
    for (const char* c : {"Estimate", "StdErr", "Lower", "Upper", "Z", "ProbZ", "TreatedN",
                          "ControlN", "TreatedESS", "ControlESS"})
        e.addColumn(numColumn(c));
    e.addColumn(textColumn("SEMethod", 9));
    host::TableDefinition& m = run.tabEffectMeans;
    begin(m, "EffectMeans", kMsgEffectMeansTable);
    m.addColumn(textColumn("Outcome", width));
    m.addColumn(textColumn("Group", 24));
    for (const char* c : {"N", "ESS", "Mean", "StdErr"})
        m.addColumn(numColumn(c));
}

int vlceffect(VlcRun& run, int matchSuccess) {
    effect::Request& r = run.effect;
    if (!r.given || !run.inData) return 0;
    if (r.adjustment == Adjustment::Matching && !matchSuccess) {
        host::xpmlog(host::kGroupProc, kMsgEffectMatchFailed);
        run.raise(4);
        return 0;
    }
    Collected data = collect(run);
    if (r.se == SeMethod::Bootstrap && r.streamLive == 0) {
        r.streamLive = r.seed;
        support::zranms(r.streamLive, 1);
    }
    host::xpmlog(host::kGroupProc, kMsgEffectSeMethod, {r.seReason});
    if (r.adjustment == Adjustment::Matching && run.withReplacement && r.se != SeMethod::Bootstrap)
        host::xpmlog(host::kGroupProc, kMsgEffectReplace), run.raise(4);

    // After weights or strata each replicate redoes the adjustment on the drawn observations.
    const bool refitting = r.se == SeMethod::Bootstrap && (r.adjustment == Adjustment::Weights ||
                                                           r.adjustment == Adjustment::Strata);
    effect::RefitStudy study;
    if (refitting) study = refitStudy(run);

    std::vector<Row> rows;
    for (std::size_t o = 0; o < r.outcomes.size(); ++o) {
        const std::string& name = r.outcomeNames[o];
        const effect::Sample& s = data.samples[o];
        if (data.missing[o] > 0)
            host::xpmlog(host::kGroupProc, kMsgEffectMissing,
                         {std::to_string(data.missing[o]), data.missingWhich[o], name});
        if (r.measure != Measure::Diff) {
            if (std::string v = notBinary(s); !v.empty()) {
                host::xpmlog(host::kGroupProc, kMsgEffectNotBinary,
                             {measureName(r.measure), name, v});
                run.raise(4);
                continue;
            }
        }
        Row row;
        row.outcome = name;
        double groups[2] = {0, 0};
        for (double t : s.treat)
            groups[t > 0.5 ? 1 : 0] += 1;
        if (groups[0] == 0 || groups[1] == 0) {
            host::xpmlog(host::kGroupProc, kMsgEffectSkipped,
                         {name, groups[1] == 0 ? "the adjusted sample has no treated observation"
                                               : "the adjusted sample has no control observation"});
            run.raise(4);
            continue;
        }
        if (refitting) {
            if (!bootstrapAdjusted(run, study, o, s, row)) continue;
        } else if (r.adjustment == Adjustment::Strata) {
            row.c = effect::stratifiedContrast(s, r.measure, run.strataWeight == 2);
            warnDroppedStrata(run, row);
            row.inf = effect::infer(row.c.estimate, row.c.se, r.measure, r.alpha);
        } else if (r.se == SeMethod::Bootstrap) {
            ProgressState st{&name, r.nRep, std::max(1, r.nRep / 10)};
            effect::Bootstrap b = effect::bootstrapContrast(
                s, r.measure, r.estimand, r.nRep, r.alpha, r.streamLive,
                r.adjustment == Adjustment::Matching, reportProgress, &st);
            if (b.redrawn > 0) {
                host::xpmlog(host::kGroupProc, kMsgEffectBootstrapFailed,
                             {std::to_string(b.redrawn), std::to_string(r.nRep), name});
                run.raise(4);
            }
            row.c = b.contrast;
            row.inf = effect::infer(row.c.estimate, row.c.se, r.measure, r.alpha);
            row.inf.lower = b.lower;
            row.inf.upper = b.upper;
        } else {
            row.c = effect::weightedContrast(s, r.measure, r.estimand, r.se);
            if (std::isnan(row.c.mean[0]) && !r.covariates.empty()) {
                host::xpmlog(host::kGroupProc, kMsgEffectSingular, {name});
                run.raise(4);
                continue;
            }
            row.inf = effect::infer(row.c.estimate, row.c.se, r.measure, r.alpha);
        }
        // A risk of 0 (or of 1, for the odds) has no ratio, whatever rounding leaves of the
        // fitted means: the row stays, without an estimate, and the log says why.
        if (std::string why = undefinedRatio(s, r.measure); !why.empty()) {
            host::xpmlog(host::kGroupProc, kMsgEffectSkipped, {name, why});
            run.raise(4);
            row.c.estimate = row.c.se = kNaN;
            row.inf = effect::infer(row.c.estimate, row.c.se, r.measure, r.alpha);
        }
        rows.push_back(std::move(row));
    }
    if (rows.empty()) return 0;
    const std::string name = host::wkread(host::kGroupProc, kMsgEffectGroupName);
    const std::string label = host::wkread(host::kGroupProc, kMsgEffectGroupLabel);
    if (int rc = run.procOutput->openGroup(name, label); rc < 0) host::zodsexit(rc);
    deliver(run, rows);
    if (int rc = run.procOutput->closeGroup(); rc < 0) host::zodsexit(rc);
    return 0;
}

} // namespace velloc
