#!/usr/bin/python3
"""Independent reference for the per-level rows of CLASS variables in the balance tables.

Written with numpy from the definitions, not from velloc's code. A CLASS variable's row for a
level is the indicator of that level (1 when the observation has it, else 0); a variable with
more than two levels gets a row per level, a two-level one the row of its first level in sort
order (both with LEVELS=ALL). Every record of frequency f is expanded into f units
(np.repeat). Per set and group, with unit weights w:
  - proportion p = sum(w x) / sum(w); standard deviation sqrt(p (1 - p));
  - standardized difference (p_t - p_c) / s0, s0 = sqrt((p_t(1-p_t) + p_c(1-p_c)) / 2) of the
    all-observations set; a difference within 1e-5 of 0 is 0;
  - variance ratio p_t(1-p_t) / (p_c(1-p_c)); percent reduction 100 (|z0| - |z|) / |z0|, 0 when
    the difference did not shrink;
  - eCDF mean and maximum by brute force over the pooled values below the largest (for a 0/1
    row both are |p_t - p_c|);
  - the Strata set combines the stratum proportions with the stratum weights (stratum sizes over
    the total) and the variances p(1-p) with their squares; its eCDF uses unit weights
    omega_k N_g / N_g(k).
The continuous row (age) enters the summary: weighted mean and variance with divisor
(sum of weights - 1), standardized by the pooled all-observations deviation.

Inputs (tests/data/levels, see PROVENANCE.md): lalonde_race.csv, and the set membership of the
stratified and matched studies (strata.csv, matching.csv).

Usage: /usr/bin/python3 tests/reference/levels_reference.py [--prepare]
  --prepare   only writes lalonde_race.csv from tests/data/lalonde (lalonde.csv, reference_ps.csv)
Without it, writes tests/data/levels/expected.csv: study,copy,table,variable,level,obs,stat,value
(obs is the set label, or the stratum number in the Strata tables).
"""
import csv
import os
import sys

import numpy as np

# The data reader, the eCDF statistics and the set expansion are the balance report reference's.
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from balance_report_reference import ecdf_stats, expand, read  # noqa: E402

HERE = os.path.dirname(os.path.abspath(__file__))
DATA = os.path.join(HERE, "..", "data")
OUT = os.path.join(DATA, "levels")
RACE = {"black": 0.0, "hispan": 1.0, "white": 2.0}
RACE_TEXT = {v: k for k, v in RACE.items()}
STD_THRESHOLD, VR_THRESHOLD = 0.1, 2.0


def prepare():
    """Copy 1: all 614 men; copy 2: the same without the Hispanic men, so race has two levels."""
    rows = read(os.path.join(DATA, "lalonde", "lalonde.csv"))
    ps = {r["id"]: r["ps"] for r in read(os.path.join(DATA, "lalonde", "reference_ps.csv"))}
    with open(os.path.join(OUT, "lalonde_race.csv"), "w", newline="") as f:
        w = csv.writer(f, lineterminator="\n")
        w.writerow(["copy", "id", "treat", "age", "race", "married", "ps", "f"])
        for copy in (1, 2):
            for r in rows:
                if copy == 2 and r["race"] == "hispan":
                    continue
                w.writerow([copy, r["id"], r["treat"], r["age"], r["race"], r["married"],
                            ps[r["id"]], 1 + int(r["id"]) % 3])


def wmean(x, w):
    return np.sum(w * x) / np.sum(w)


def wvar(x, w):
    m = wmean(x, w)
    return np.sum(w * (x - m) ** 2) / (np.sum(w) - 1)


def zero_small(d):
    return 0.0 if abs(d) <= 1e-5 else d


def var_ratio(vt, vc):
    """Missing (NaN) when the control variance is 0 or tiny."""
    return vt / vc if vc > 1.110223024625157e-10 else np.nan


def pct(z0, z):
    if not abs(z0) > 1.110223024625157e-10 or np.isnan(z):
        return np.nan
    r = (abs(z0) - abs(z)) * 100 / abs(z0)
    return 0.0 if r <= 1.110223024625157e-10 else r


def rows_of(study, d):
    """The balance rows in table order: (variable, level, indicator function or None)."""
    rows = [("age", "", None)]
    present = sorted(set(d["race"]))
    levels = present if len(present) != 2 or study == "matching" else present[:1]
    for v in levels:
        rows.append(("race", RACE_TEXT[v], lambda e, v=v: (e["race"] == v).astype(float)))
    for v in ((0.0, 1.0) if study == "matching" else (0.0,)):
        rows.append(("married", str(int(v)), lambda e, v=v: (e["married"] == v).astype(float)))
    return rows


def study_sets(study, d):
    """Per set: (label, unit weights, NaN for not a member)."""
    ones = np.ones(len(d["id"]))
    sets = [("All", ones), ("Region", ones)]
    if study == "weighting":
        ps = d["ps"]
        sets.append(("Weighted", np.where(d["treat"] == 1, 1.0, ps / (1 - ps))))
    elif study == "matching":
        mw = d["matchwgt"]
        inset = ~np.isnan(mw) & (mw > 0)
        sets.append(("Matched", np.where(inset, 1.0, np.nan)))
        sets.append(("Weighted Matched", np.where(inset, mw, np.nan)))
    return sets


class Table:
    def __init__(self, out, study):
        self.out, self.study = out, study

    def add(self, table, var, level, obs, stats):
        for stat, value in stats.items():
            self.out.append((table, var, level, obs, stat, value))


def summary(tab, label, zs):
    """zs: (variable, level, z, variance ratio or None, eCDF max) per row in table order."""
    def name(v, l):
        return v if l == "" else v + " = " + l

    def first_largest(value):
        top = max(value(r) for r in zs)
        return next(r for r in zs if value(r) >= top - 1e-12 * abs(top))
    big = first_largest(lambda r: abs(r[2]))
    ks = first_largest(lambda r: r[4])
    tab.add("BalanceSummary", name(big[0], big[1]), "", label, {"MaxAbsStdDiff": abs(big[2])})
    tab.add("BalanceSummary", name(ks[0], ks[1]), "", label, {"MaxECDF": ks[4]})
    tab.add("BalanceSummary", "", "", label, {
        "NVariables": float(len(zs)),
        "NStdDiffOver": float(sum(abs(r[2]) > STD_THRESHOLD for r in zs)),
        "NVarRatioOut": float(sum(r[3] is not None and (r[3] > VR_THRESHOLD or
                                                         r[3] < 1 / VR_THRESHOLD) for r in zs))})


def one_group(study, d):
    out = []
    tab = Table(out, study)
    rows = rows_of(study, d)
    e_all = expand(d, np.ones(len(d["id"]), bool))
    t_all = e_all["treat"] == 1
    # The all-observations deviation and standardized difference of each row.
    s0, z0 = {}, {}
    for var, level, ind in rows:
        if ind is None:
            x = e_all[var]
            s0[var, level] = np.sqrt((x[t_all].var(ddof=1) + x[~t_all].var(ddof=1)) / 2)
            z0[var, level] = (x[t_all].mean() - x[~t_all].mean()) / s0[var, level]
        else:
            x = ind(e_all)
            pt, pc = x[t_all].mean(), x[~t_all].mean()
            s0[var, level] = np.sqrt((pt * (1 - pt) + pc * (1 - pc)) / 2)
            z0[var, level] = zero_small(pt - pc) / s0[var, level]

    for label, unit in study_sets(study, d):
        mask = ~np.isnan(unit)
        e = expand({**d, "unit": unit}, mask)
        t = e["treat"] == 1
        w = e["unit"]
        weighted = label in ("Weighted", "Weighted Matched")
        zs = []
        for var, level, ind in rows:
            lo, hi = ecdf_stats(e[var] if ind is None else ind(e), w, t)
            if ind is None:
                x = e[var]
                mt, mc = wmean(x[t], w[t]), wmean(x[~t], w[~t])
                vr = wvar(x[t], w[t]) / wvar(x[~t], w[~t])
                zs.append((var, level, (mt - mc) / s0[var, level], vr, hi))
                continue
            x = ind(e)
            pt, pc = wmean(x[t], w[t]), wmean(x[~t], w[~t])
            d_ = zero_small(pt - pc)
            z = d_ / s0[var, level]
            vr = var_ratio(pt * (1 - pt), pc * (1 - pc))
            vi = {"TreatedN": float(t.sum()), "ControlN": float((~t).sum()),
                  "TreatedMean": pt, "ControlMean": pc,
                  "TreatedStdDev": np.sqrt(pt * (1 - pt)), "ControlStdDev": np.sqrt(pc * (1 - pc)),
                  "MeanDiff": pt - pc}
            if weighted:
                vi.update(TreatedWeight=w[t].sum(), ControlWeight=w[~t].sum())
            tab.add("VarInfo", var, level, label, vi)
            sd = {"MeanDiff": d_, "StdDiff": z, "VarianceRatio": vr}
            if label == "All":
                sd["StdDev"] = s0[var, level]
            else:
                sd["PctReduction"] = pct(z0[var, level], z)
            tab.add("StdDiff", var, level, label, sd)
            tab.add("ECDFDiff", var, level, label, {"ECDFMean": lo, "ECDFMax": hi})
            zs.append((var, level, z, None, hi))
        summary(tab, label, zs)
    if study == "strata":
        strata_tables(tab, d, rows, s0, z0)
    return out


def strata_tables(tab, d, rows, s0, z0):
    e = expand(d, ~np.isnan(d["stratum"]))
    k, t = e["stratum"].astype(int), e["treat"] == 1
    ks = np.unique(k)
    omega = np.array([np.sum(k == s) for s in ks], float)
    omega /= omega.sum()
    w = np.empty(len(k))
    for s, om in zip(ks, omega):
        for g in (True, False):
            m = (k == s) & (t == g)
            w[m] = om * np.sum(t == g) / np.sum(m)
    zs = []
    for var, level, ind in rows:
        x = e[var] if ind is None else ind(e)
        lo, hi = ecdf_stats(x, w, t)
        mean = {g: [x[(k == s) & (t == g)].mean() for s in ks] for g in (True, False)}
        comb = {g: sum(om * m for om, m in zip(omega, mean[g])) for g in (True, False)}
        if ind is None:
            var_ = {g: sum(om ** 2 * x[(k == s) & (t == g)].var(ddof=1)
                           for s, om in zip(ks, omega)) for g in (True, False)}
            zs.append((var, level, (comb[True] - comb[False]) / s0[var, level],
                       var_[True] / var_[False], hi))
            continue
        var_ = {g: sum(om ** 2 * m * (1 - m) for om, m in zip(omega, mean[g])) for g in (True, False)}
        d_ = zero_small(comb[True] - comb[False])
        z = d_ / s0[var, level]
        tab.add("VarInfo", var, level, "Strata", {
            "TreatedN": float(len(ks)), "ControlN": float(len(ks)),
            "TreatedMean": comb[True], "ControlMean": comb[False],
            "TreatedStdDev": np.sqrt(var_[True]), "ControlStdDev": np.sqrt(var_[False]),
            "MeanDiff": comb[True] - comb[False]})
        tab.add("StdDiff", var, level, "Strata", {
            "MeanDiff": d_, "StdDiff": z, "PctReduction": pct(z0[var, level], z),
            "VarianceRatio": var_ratio(var_[True], var_[False])})
        tab.add("ECDFDiff", var, level, "Strata", {"ECDFMean": lo, "ECDFMax": hi})
        zs.append((var, level, z, None, hi))
        for s, om, mt, mc in zip(ks, omega, mean[True], mean[False]):
            nt, nc = np.sum((k == s) & t), np.sum((k == s) & ~t)
            tab.add("StrataVarInfo", var, level, str(s), {
                "TreatedN": float(nt), "ControlN": float(nc),
                "TreatedMean": mt, "ControlMean": mc,
                "TreatedStdDev": np.sqrt(mt * (1 - mt)), "ControlStdDev": np.sqrt(mc * (1 - mc)),
                "MeanDiff": mt - mc})
            ds = zero_small(mt - mc)
            zs_ = ds / s0[var, level]
            tab.add("StrataStdDiff", var, level, str(s), {
                "MeanDiff": ds, "StdDiff": zs_, "PctReduction": pct(z0[var, level], zs_),
                "VarianceRatio": var_ratio(mt * (1 - mt), mc * (1 - mc)), "StratumWeight": om})
    summary(tab, "Strata", zs)


def load(study):
    rows = read(os.path.join(OUT, "lalonde_race.csv"))
    d = {k: np.array([RACE[r[k]] if k == "race" else float(r[k]) for r in rows]) for k in rows[0]}
    if study == "matching":
        d["f"] = np.ones(len(rows))  # matching takes no FREQ variable
    if study in ("strata", "matching"):
        col = "_Stratum" if study == "strata" else "_MatchWgt"
        member = {(r["copy"], r["id"]): r[col] for r in read(os.path.join(OUT, study + ".csv"))}
        vals = [member.get((r["copy"], r["id"]), "") for r in rows]
        d["stratum" if study == "strata" else "matchwgt"] = np.array(
            [float(v) if v not in ("", ".") else np.nan for v in vals])
    return d


def main():
    if "--prepare" in sys.argv:
        prepare()
        return
    with open(os.path.join(OUT, "expected.csv"), "w", newline="") as f:
        w = csv.writer(f, lineterminator="\n")
        w.writerow(["study", "copy", "table", "variable", "level", "obs", "stat", "value"])
        for study in ("weighting", "strata", "matching"):
            d = load(study)
            for copy in (1, 2):
                m = d["copy"] == copy
                sub = {k: v[m] for k, v in d.items()}
                for table, var, level, obs, stat, value in one_group(study, sub):
                    w.writerow([study, copy, table, var, level, obs, stat, repr(float(value))])


if __name__ == "__main__":
    main()
