#!/usr/bin/python3
"""Independent reference for the ECDFDiff, EffSampleSize and BalanceSummary tables.

Written from the textbook definitions with numpy, not from velloc's code:
  - every record with frequency f is expanded into f identical units (np.repeat), so the
    frequency rules are checked rather than restated;
  - weighted eCDF of a group at u: F_g(u) = sum(w[x <= u]) / sum(w), evaluated by brute force
    at every distinct pooled value u below the largest; eCDF mean and max are the mean and the
    maximum of |F_t(u) - F_c(u)| over those u;
  - Kish effective sample size (sum w)^2 / sum w^2 over the units;
  - standardized differences by the pooled all-observations deviation
    sqrt((var_t + var_c) / 2), variances with divisor (sum of weights - 1), binary rows by
    sqrt((p_t(1-p_t) + p_c(1-p_c)) / 2); the stratified set combines stratum means with the
    stratum weights and variances with their squares.

Inputs (tests/data/balance, see PROVENANCE.md): lalonde_ps.csv (the job-training data with
R's propensity score and a frequency column f, sorted by the BY variable nodegree), and the set
membership of the stratified and matched studies (strata.csv, matched.csv). The weighting study
needs no membership: ATT weights are computed here from R's score.

Usage: /usr/bin/python3 tests/reference/balance_report_reference.py [--prepare]
  --prepare   also writes lalonde_ps.csv from tests/data/lalonde (lalonde.csv, reference_ps.csv)
Writes tests/data/balance/expected.csv: study,nodegree,table,variable,level,obs,stat,value.
"""
import csv
import os
import sys

import numpy as np

HERE = os.path.dirname(os.path.abspath(__file__))
DATA = os.path.join(HERE, "..", "data")
OUT = os.path.join(DATA, "balance")
CONT = ["age", "educ", "re74"]
STD_THRESHOLD, VR_THRESHOLD = 0.1, 2.0


def read(path):
    with open(path, newline="") as f:
        return list(csv.DictReader(f))


def prepare():
    rows = read(os.path.join(DATA, "lalonde", "lalonde.csv"))
    ps = {r["id"]: r["ps"] for r in read(os.path.join(DATA, "lalonde", "reference_ps.csv"))}
    rows.sort(key=lambda r: (int(r["nodegree"]), int(r["id"])))
    with open(os.path.join(OUT, "lalonde_ps.csv"), "w", newline="") as f:
        w = csv.writer(f, lineterminator="\n")
        w.writerow(["id", "treat", "age", "educ", "re74", "married", "nodegree", "ps", "f"])
        for r in rows:
            w.writerow([r["id"], r["treat"], r["age"], r["educ"], r["re74"], r["married"],
                        r["nodegree"], ps[r["id"]], 1 + int(r["id"]) % 3])


def ecdf_stats(x, w, t):
    xt, wt, xc, wc = x[t], w[t], x[~t], w[~t]
    u = np.unique(x)[:-1]
    if len(u) == 0:
        return 0.0, 0.0
    ft = np.array([wt[xt <= v].sum() for v in u]) / wt.sum()
    fc = np.array([wc[xc <= v].sum() for v in u]) / wc.sum()
    d = np.abs(ft - fc)
    return d.mean(), d.max()


def wmean_var(x, w):
    m = np.sum(w * x) / np.sum(w)
    return m, np.sum(w * (x - m) ** 2) / (np.sum(w) - 1)


def study_sets(study, d):
    """Per set: (label, unit weights or None for not a member)."""
    n = len(d["id"])
    ones = np.ones(n)
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


def expand(d, mask):
    f = d["f"][mask].astype(int)
    return {k: np.repeat(v[mask], f) for k, v in d.items()}


def strata_set(d, out, rows, by):
    """The Strata set: stratum weights by total size, unit weights omega_k N_g / N_g(k)."""
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
    for g, name in ((True, "Treated"), (False, "Control")):
        ww = w[t == g]
        out.append(("EffSampleSize", "", "", "Strata", name + "N", float(np.sum(t == g))))
        out.append(("EffSampleSize", "", "", "Strata", name + "Weight", ww.sum()))
        out.append(("EffSampleSize", "", "", "Strata", name + "ESS", ww.sum() ** 2 / (ww ** 2).sum()))
    zs = []
    for var, level, x_all, s_all in rows:
        x = x_all(e)
        mt = sum(om * x[(k == s) & t].mean() for s, om in zip(ks, omega))
        mc = sum(om * x[(k == s) & ~t].mean() for s, om in zip(ks, omega))
        if level == "":
            vt = sum(om ** 2 * x[(k == s) & t].var(ddof=1) for s, om in zip(ks, omega))
            vc = sum(om ** 2 * x[(k == s) & ~t].var(ddof=1) for s, om in zip(ks, omega))
        else:
            vt = vc = None
        lo, hi = ecdf_stats(x, w, t)
        out.append(("ECDFDiff", var, level, "Strata", "ECDFMean", lo))
        out.append(("ECDFDiff", var, level, "Strata", "ECDFMax", hi))
        zs.append((var, level, (mt - mc) / s_all, vt / vc if vt is not None else None, hi))
    summary(out, "Strata", zs)


def summary(out, label, zs):
    def name(v, l):
        return v if l == "" else v + " = " + l
    # The first row in table order among those equal to the largest (the two rows of a
    # two-level variable always tie).
    def first_largest(value):
        top = max(value(r) for r in zs)
        return next(r for r in zs if value(r) >= top - 1e-12 * abs(top))
    big = first_largest(lambda r: abs(r[2]))
    ks = first_largest(lambda r: r[4])
    out.append(("BalanceSummary", name(big[0], big[1]), "", label, "MaxAbsStdDiff", abs(big[2])))
    out.append(("BalanceSummary", name(ks[0], ks[1]), "", label, "MaxECDF", ks[4]))
    out.append(("BalanceSummary", "", "", label, "NStdDiffOver",
                float(sum(abs(r[2]) > STD_THRESHOLD for r in zs))))
    out.append(("BalanceSummary", "", "", label, "NVarRatioOut",
                float(sum(r[3] is not None and (r[3] > VR_THRESHOLD or r[3] < 1 / VR_THRESHOLD)
                          for r in zs))))


def one_group(study, d):
    out = []
    e_all = expand(d, np.ones(len(d["id"]), bool))
    t_all = e_all["treat"] == 1
    # Rows: continuous variables, then married = 0 (the first level) and married = 1.
    rows = []
    for v in CONT:
        x = e_all[v]
        s = np.sqrt((x[t_all].var(ddof=1) + x[~t_all].var(ddof=1)) / 2)
        rows.append((v, "", lambda e, v=v: e[v], s))
    for level in ("0", "1"):
        x = (e_all["married"] == int(level)).astype(float)
        pt, pc = x[t_all].mean(), x[~t_all].mean()
        s = np.sqrt((pt * (1 - pt) + pc * (1 - pc)) / 2)
        rows.append(("married", level,
                     lambda e, level=level: (e["married"] == int(level)).astype(float), s))
    for label, unit in study_sets(study, d):
        mask = ~np.isnan(unit)
        e = expand({**d, "unit": unit}, mask)
        t = e["treat"] == 1
        w = e["unit"]
        for g, name in ((t, "Treated"), (~t, "Control")):
            out.append(("EffSampleSize", "", "", label, name + "N", float(g.sum())))
            out.append(("EffSampleSize", "", "", label, name + "Weight", w[g].sum()))
            out.append(("EffSampleSize", "", "", label, name + "ESS",
                        w[g].sum() ** 2 / (w[g] ** 2).sum()))
        zs = []
        for var, level, getx, s_all in rows:
            x = getx(e)
            (mt, vt), (mc, vc) = wmean_var(x[t], w[t]), wmean_var(x[~t], w[~t])
            lo, hi = ecdf_stats(x, w, t)
            out.append(("ECDFDiff", var, level, label, "ECDFMean", lo))
            out.append(("ECDFDiff", var, level, label, "ECDFMax", hi))
            zs.append((var, level, (mt - mc) / s_all, vt / vc if level == "" else None, hi))
        summary(out, label, zs)
    if study == "strata":
        strata_set(d, out, rows, None)
    return out


def load(study):
    rows = read(os.path.join(OUT, "lalonde_ps.csv"))
    d = {k: np.array([float(r[k]) for r in rows]) for k in rows[0]}
    if study == "matching":
        d["f"] = np.ones(len(rows))  # matching takes no FREQ variable
    if study in ("strata", "matching"):
        member = {r["id"]: r for r in read(os.path.join(OUT, study + ".csv"))}
        col = "_Stratum" if study == "strata" else "_MatchWgt"
        vals = [member[str(int(i))][col] if str(int(i)) in member else "" for i in d["id"]]
        d["stratum" if study == "strata" else "matchwgt"] = np.array(
            [float(v) if v not in ("", ".") else np.nan for v in vals])
    return d


def main():
    if "--prepare" in sys.argv:
        prepare()
    with open(os.path.join(OUT, "expected.csv"), "w", newline="") as f:
        w = csv.writer(f, lineterminator="\n")
        w.writerow(["study", "nodegree", "table", "variable", "level", "obs", "stat", "value"])
        for study in ("weighting", "strata", "matching"):
            d = load(study)
            for by in (0, 1):
                m = d["nodegree"] == by
                sub = {k: v[m] for k, v in d.items()}
                for table, var, level, obs, stat, value in one_group(study, sub):
                    w.writerow([study, by, table, var, level, obs, stat, repr(float(value))])


if __name__ == "__main__":
    main()
