#!/usr/bin/env python3
"""Independent reference for the balance tables.

Recomputes, from the output data set (propensity scores, weights, stratum numbers and the
covariates), the means, standard deviations, standardized differences, percent reductions,
variance ratios and stratum statistics by their textbook formulas, and compares them with the
VarInfo, StdDiff, StrataVarInfo and StrataStdDiff CSV tables. Standard library only.

Usage:
  balance_reference.py --data OUT.csv --tables DIR --treat treat --treated 1
      --cont age,educ --binary married [--levels race] --lps _LPS [--weight _ATTWgt]
      [--strata _Stratum]
--binary variables have one row, for their first level in sort order; --levels variables (more
than two levels) one row per level, each the indicator of its level.
Exit status 0 when every compared value agrees to --rtol (default 1e-9), 1 otherwise.
"""
import argparse
import csv
import math
import os
import sys

TINY = 1.110223024625157e-10
BIN_FLOOR = 1.110223024625157e-16
NAN = float("nan")


def num(text):
    text = text.strip()
    if text in ("", "."):
        return NAN
    return float(text)


def is_number(text):
    try:
        float(text)
    except ValueError:
        return False
    return True


def read_csv(path):
    with open(path, newline="", encoding="utf-8-sig") as f:
        return list(csv.DictReader(f))


def mean_var(xs, ws):
    """Weighted mean and variance with divisor (sum of weights - 1)."""
    w = sum(ws)
    if not w > 0:
        return NAN, NAN
    m = sum(wi * xi for xi, wi in zip(xs, ws)) / w
    if w <= 1.0000000001110223:
        return m, NAN
    return m, sum(wi * (xi - m) ** 2 for xi, wi in zip(xs, ws)) / (w - 1)


def pooled(vt, vc):
    if math.isnan(vt) or math.isnan(vc):
        return NAN
    return math.sqrt((vt + vc) / 2)


def std_diff(d, denom, binary):
    if math.isnan(d):
        return d, NAN
    if binary:
        if abs(d) <= 1e-5:
            d = 0.0
    elif abs(d) <= 1e-5 * denom:
        d = 0.0
    return d, (d / denom if denom > TINY else NAN)


def pct_reduction(z0, z):
    z0 = abs(z0)
    if math.isnan(z0) or not z0 > TINY or math.isnan(z):
        return NAN
    r = (z0 - abs(z)) * 100 / z0
    return 0.0 if r <= TINY else r


def var_ratio(vt, vc):
    if math.isnan(vt) or not vc > TINY:
        return NAN
    return vt / vc


def index_text(text):
    """A set label as it is; a stratum number as an integer text."""
    text = text.strip()
    try:
        v = float(text)
    except ValueError:
        return text
    return str(int(v)) if v.is_integer() else text


def group_stats(obs, var, binary, weighted):
    out = {}
    for g in (1, 0):
        xs = [o[var] for o in obs if o["g"] == g]
        fs = [o["f"] * (o["w"] if weighted else 1.0) for o in obs if o["g"] == g]
        if binary:
            total = sum(fs)
            p = sum(x * f for x, f in zip(xs, fs)) / total if total > 0 else NAN
            out[g] = dict(n=sum(o["f"] for o in obs if o["g"] == g), wt=total, mean=p,
                          var=p * (1 - p), min=NAN, max=NAN)
        else:
            m, v = mean_var(xs, fs)
            out[g] = dict(n=sum(o["f"] for o in obs if o["g"] == g), wt=sum(fs), mean=m, var=v,
                          min=min(xs) if xs else NAN, max=max(xs) if xs else NAN)
    return out


def deviation(st, binary):
    vt, vc = st[1]["var"], st[0]["var"]
    if binary and (not vt > BIN_FLOOR or not vc > BIN_FLOOR):
        return NAN
    return pooled(vt, vc)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--data", required=True)
    ap.add_argument("--tables", required=True)
    ap.add_argument("--treat", required=True)
    ap.add_argument("--treated", required=True)
    ap.add_argument("--cont", default="")
    ap.add_argument("--binary", default="")
    ap.add_argument("--levels", default="")
    ap.add_argument("--lps", required=True)
    ap.add_argument("--weight")
    ap.add_argument("--strata")
    ap.add_argument("--rtol", type=float, default=1e-9)
    a = ap.parse_args()

    cont = [v for v in a.cont.split(",") if v]
    binary = [v for v in a.binary.split(",") if v]
    multi = [v for v in a.levels.split(",") if v]
    data = [r for r in read_csv(a.data) if not math.isnan(num(r[a.lps]))]
    # The indicator of a CLASS row is 1 for its level: a binary variable's first level in
    # ascending order, every level of a --levels variable.
    levels = {}
    for b in binary + multi:
        texts = {r[b].strip() for r in data}
        numeric = all(is_number(t) for t in texts)
        found = sorted(texts, key=lambda t: (num(t), t) if numeric else (0, t))
        levels[b] = found[:1] if b in binary else found
    indicators = [(b, lev) for b in binary + multi for lev in levels[b]]

    def record(r):
        o = {"g": 1 if r[a.treat].strip() == a.treated else 0, "f": 1.0,
             "w": num(r[a.weight]) if a.weight else 1.0, a.lps: num(r[a.lps])}
        for c in cont:
            o[c] = num(r[c])
        for b, lev in indicators:
            o[(b, lev)] = 1.0 if r[b].strip() == lev else 0.0
        o["stratum"] = num(r[a.strata]) if a.strata else NAN
        return o

    obs = [record(r) for r in data]
    info = {row["Label"]: row["Value"] for row in read_csv(os.path.join(a.tables, "DataInfo.csv"))}
    lo = num(info["Lower PS Support"]) - TINY
    hi = num(info["Upper PS Support"]) + TINY
    region = [o for o in obs if lo <= 1 / (1 + math.exp(-o[a.lps])) <= hi]

    rows = [("Logit Prop Score", a.lps, False)] + [(c, c, False) for c in cont] + \
        [(b, (b, lev), True) for b, lev in indicators]
    expected_vi, expected_sd = {}, {}
    exp_svi, exp_ssd = {}, {}
    for label, var, isbin in rows:
        level = var[1] if isbin else ""
        sets = [("All", group_stats(obs, var, isbin, False)),
                ("Region", group_stats(region, var, isbin, False))]
        if a.weight:
            sets.append(("Weighted", group_stats(region, var, isbin, True)))
        s0 = deviation(sets[0][1], isbin)
        z0 = None
        if a.strata:
            nk = int(max(o["stratum"] for o in obs if not math.isnan(o["stratum"])))
            per = []
            for k in range(1, nk + 1):
                sk = [o for o in obs if o["stratum"] == k]
                st = group_stats(sk, var, isbin, False)
                per.append((k, st, len(sk)))
            total = sum(n for _, _, n in per)
            omega = [n / total for _, _, n in per]
            comb = {}
            for g in (1, 0):
                comb[g] = dict(n=nk, wt=NAN,
                               mean=sum(w * st[g]["mean"] for w, (_, st, _) in zip(omega, per)),
                               var=sum(w * w * st[g]["var"] for w, (_, st, _) in zip(omega, per)),
                               min=min(st[g]["mean"] for _, st, _ in per),
                               max=max(st[g]["mean"] for _, st, _ in per))
            sets.append(("Strata", comb))
        for name, st in sets:
            d = st[1]["mean"] - st[0]["mean"]
            d, z = std_diff(d, s0, isbin)
            if name == "All":
                z0 = z
            vi = {"TreatedMean": st[1]["mean"], "ControlMean": st[0]["mean"],
                  "TreatedStdDev": math.sqrt(st[1]["var"]) if not math.isnan(st[1]["var"]) else NAN,
                  "ControlStdDev": math.sqrt(st[0]["var"]) if not math.isnan(st[0]["var"]) else NAN,
                  "TreatedN": st[1]["n"], "ControlN": st[0]["n"]}
            if not isbin and name != "Strata":
                vi.update(TreatedMin=st[1]["min"], TreatedMax=st[1]["max"],
                          ControlMin=st[0]["min"], ControlMax=st[0]["max"])
            if name == "Weighted":
                vi.update(TreatedWeight=st[1]["wt"], ControlWeight=st[0]["wt"])
            expected_vi[(label, level, name)] = vi
            sd = {"MeanDiff": d, "StdDiff": z,
                  "VarianceRatio": var_ratio(st[1]["var"], st[0]["var"])}
            if name == "All":
                sd["StdDev"] = s0
            else:
                sd["PctReduction"] = pct_reduction(z0, z)
            expected_sd[(label, level, name)] = sd
        if a.strata:
            for (k, st, _), w in zip(per, omega):
                d = st[1]["mean"] - st[0]["mean"]
                d, z = std_diff(d, s0, isbin)
                exp_ssd[(label, level, k)] = {"MeanDiff": d, "StdDiff": z, "StratumWeight": w,
                                       "PctReduction": pct_reduction(z0, z),
                                       "VarianceRatio": var_ratio(st[1]["var"], st[0]["var"])}
                exp_svi[(label, level, k)] = {"TreatedN": st[1]["n"], "ControlN": st[0]["n"],
                                       "TreatedMean": st[1]["mean"], "ControlMean": st[0]["mean"]}
                if not isbin:
                    exp_svi[(label, level, k)].update(
                        TreatedStdDev=math.sqrt(st[1]["var"]) if st[1]["n"] > 1 else NAN,
                        ControlStdDev=math.sqrt(st[0]["var"]) if st[0]["n"] > 1 else NAN,
                        TreatedMin=st[1]["min"], TreatedMax=st[1]["max"])

    failures = []
    compared = 0

    def check(table, key_cols, expected):
        nonlocal compared
        path = os.path.join(a.tables, table + ".csv")
        got = {}
        for row in read_csv(path):
            key = (row[key_cols[0]].strip(), row.get("Level", "").strip(),
                   index_text(row[key_cols[1]]))
            got[key] = row
        for key, values in expected.items():
            skey = (key[0], key[1], str(key[2]))
            row = got.get(skey)
            if row is None:
                failures.append(f"{table}: no row {skey}")
                continue
            for col, want in values.items():
                have = num(row[col])
                compared += 1
                if math.isnan(want) and math.isnan(have):
                    continue
                if math.isnan(want) != math.isnan(have) or \
                        abs(have - want) > a.rtol * max(abs(want), 1e-300) and abs(have - want) > 1e-12:
                    failures.append(f"{table} {skey} {col}: velloc {have!r}, reference {want!r}")

    check("VarInfo", ("Variable", "Obs"), expected_vi)
    check("StdDiff", ("Variable", "Obs"), expected_sd)
    if a.strata:
        check("StrataVarInfo", ("Variable", "StratumIndex"), exp_svi)
        check("StrataStdDiff", ("Variable", "StratumIndex"), exp_ssd)
    for f in failures:
        print(f)
    print(f"{compared} values compared, {len(failures)} differences")
    return 1 if failures or compared == 0 else 0


if __name__ == "__main__":
    sys.exit(main())
