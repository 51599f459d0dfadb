"""A Stata file that velloc writes, read by pandas (an independent reader): every value, type
and variable label equals the same run's CSV output and its sidecar."""

import json
import shutil
import subprocess

import numpy as np
import pandas as pd

from conftest import LALONDE, ROOT, run_cli


def run_to(tmp_path, out):
    program = f"""proc velloc data='lalonde.csv';
  class treat race married nodegree;
  psmodel treat(treated='1') = age educ race married nodegree re74 re75;
  match method=greedy(k=1) caliper=0.25;
  output out='{out}' ps=ps lps=lps attwgt=aw matchwgt=mw;
run;
"""
    run = run_cli(program, tmp_path, graphics=False)
    assert run.status == 0, run.log


def test_dta_output_reads_back_in_pandas(tmp_path):
    shutil.copy(LALONDE, tmp_path / "lalonde.csv")
    # Variable labels from the sidecar carry over into the Stata file.
    (tmp_path / "lalonde.schema.json").write_text(json.dumps({"variables": {
        "treat": {"label": "Job training"}, "re74": {"label": "Earnings in 1974"}}}))
    run_to(tmp_path, "o.dta")
    run_to(tmp_path, "o.csv")
    with pd.io.stata.StataReader(tmp_path / "o.dta") as reader:
        dta = reader.read(convert_categoricals=False)
        labels = reader.variable_labels()
    csv = pd.read_csv(tmp_path / "o.csv", float_precision="round_trip")
    assert list(dta.columns) == list(csv.columns)
    assert len(dta) == len(csv) == 614
    for col in csv.columns:
        if csv[col].dtype == object:
            assert dta[col].tolist() == csv[col].tolist(), col
        else:
            # Shortest round-trip numbers in the CSV: equal as doubles, missing in the same rows.
            got = dta[col].to_numpy(dtype=float)
            want = csv[col].to_numpy(dtype=float)
            assert np.array_equal(np.isnan(got), np.isnan(want)), col
            assert np.array_equal(got[~np.isnan(got)], want[~np.isnan(want)]), col
    assert labels["treat"] == "Job training"
    assert labels["re74"] == "Earnings in 1974"
    # Every unit has a score, and the unmatched controls a missing match weight.
    assert dta["ps"].notna().all()
    assert dta["mw"].isna().any() and dta["mw"].notna().any()


def haven_labels(path, variable):
    """The value labels of variable in a Stata or SPSS file as R's haven reads them, or None
    when R with haven is not installed."""
    rscript = shutil.which("Rscript")
    if not rscript:
        return None
    code = ("suppressPackageStartupMessages(library(haven)); "
            "d <- if (grepl('dta$', a <- commandArgs(TRUE)[1])) read_dta(a) else read_sav(a); "
            "l <- attr(d[[commandArgs(TRUE)[2]]], 'labels'); "
            "cat(paste(unname(l), names(l), sep = '=', collapse = '\\n'))")
    p = subprocess.run([rscript, "-e", code, str(path), variable], capture_output=True,
                       text=True)
    if p.returncode != 0 and "haven" in p.stderr:
        return None
    assert p.returncode == 0, p.stderr
    return dict(line.split("=", 1) for line in p.stdout.splitlines())


def test_value_labels_survive_a_round_trip(tmp_path):
    # A Stata file as pandas writes one: race coded 0/1/2 with its texts as value labels.
    lal = pd.read_csv(LALONDE)
    codes = {"black": 0, "hispan": 1, "white": 2}
    lal["race"] = lal["race"].map(codes).astype("int32")
    lal.to_stata(tmp_path / "lal.dta", write_index=False, version=118,
                 value_labels={"race": {v: k for k, v in codes.items()}})
    for out in ("o.dta", "o.sav"):
        program = f"""proc velloc data='lal.dta';
  class treat race;
  psmodel treat(treated='1') = age educ race re74;
  psweight weight=attwgt;
  output out='{out}' ps=ps attwgt=aw;
run;
"""
        run = run_cli(program, tmp_path, graphics=False)
        assert run.status == 0, run.log
        # The level texts are the labels: the model table names the race levels by them.
        params = set(run.tables()["PSModelEstimates"]["Parameter"])
        assert {"race = black", "race = hispan", "race = white"} <= params, params
        want = {"0": "black", "1": "hispan", "2": "white"}
        if out.endswith(".dta"):
            with pd.io.stata.StataReader(tmp_path / out) as reader:
                reader.read()
                got = reader.value_labels()
            assert list(got.values()) == [{0: "black", 1: "hispan", 2: "white"}]
        haven = haven_labels(tmp_path / out, "race")
        if haven is not None:
            assert {k.split(".")[0]: v for k, v in haven.items()} == want
        assert "[900-512]" not in run.log


def test_a_study_haven_wrote_comes_back_as_haven_and_pandas_read_it(tmp_path):
    # haven_study.dta/.sav (tests/reference/roundtrip_fixture.R): value and variable labels, system,
    # extended (.a, .b) and SPSS user-missing values, UTF-8 text, 60 rows.
    formats = ROOT / "tests" / "data" / "formats"
    for ext in ("dta", "sav"):
        shutil.copy(formats / f"haven_study.{ext}", tmp_path)
        program = f"""proc velloc data='haven_study.{ext}';
  class treat region;
  psmodel treat(treated='treated') = age region;
  psweight weight=attwgt;
  output out='o.{ext}' ps=ps attwgt=aw;
run;
"""
        run = run_cli(program, tmp_path, graphics=False)
        assert run.status == 0, run.log
        assert "[900-512]" not in run.log
        rscript = shutil.which("Rscript")
        if rscript:
            p = subprocess.run([rscript, str(ROOT / "python" / "tests" / "haven_compare.R"),
                                str(tmp_path / f"haven_study.{ext}"), str(tmp_path / f"o.{ext}")],
                               capture_output=True, text=True)
            if "there is no package called" not in p.stderr:
                assert p.returncode == 0, p.stderr
                assert p.stdout.strip() == "", f"columns that differ: {p.stdout}"
        if ext == "dta":
            with pd.io.stata.StataReader(formats / "haven_study.dta") as reader:
                want = reader.read(convert_categoricals=False)
                want_labels = reader.value_labels()
            with pd.io.stata.StataReader(tmp_path / "o.dta") as reader:
                got = reader.read(convert_categoricals=False)
                got_labels = reader.value_labels()
            assert len(got) == len(want) == 60
            for col in want.columns:
                if want[col].dtype == object:
                    assert got[col].tolist() == want[col].tolist(), col
                else:
                    a = want[col].to_numpy(dtype=float)
                    b = got[col].to_numpy(dtype=float)
                    assert np.array_equal(np.isnan(a), np.isnan(b)), col
                    assert np.array_equal(a[~np.isnan(a)], b[~np.isnan(b)]), col
            # The label sets are named after their variables; their texts are the same.
            assert sorted(got_labels.values(), key=str) == sorted(want_labels.values(), key=str)
            assert np.isnan(got["income"].to_numpy(dtype=float)[[2, 7, 16, 39]]).all()


def test_spss_output_takes_the_default_names_without_their_underscore(tmp_path):
    # SPSS names cannot begin with "_": the defaults _PS_ and _ATTWGT_ become PS_ and ATTWGT_,
    # while Stata keeps them.
    shutil.copy(LALONDE, tmp_path / "lalonde.csv")
    for out in ("d.sav", "d.dta"):
        program = f"""proc velloc data='lalonde.csv';
  class treat race;
  psmodel treat(treated='1') = age educ race re74;
  psweight weight=attwgt;
  output out='{out}';
run;
"""
        run = run_cli(program, tmp_path, graphics=False)
        assert run.status == 0, run.log
        assert (tmp_path / out).exists()
    with pd.io.stata.StataReader(tmp_path / "d.dta") as reader:
        assert list(reader.read().columns)[-2:] == ["_PS_", "_ATTWGT_"]
    rscript = shutil.which("Rscript")
    if rscript:
        p = subprocess.run([rscript, "-e", "suppressPackageStartupMessages(library(haven)); "
                            "cat(names(read_sav(commandArgs(TRUE)[1])), sep='\\n')",
                            str(tmp_path / "d.sav")], capture_output=True, text=True)
        if "there is no package called" not in p.stderr:
            assert p.stdout.split()[-2:] == ["PS_", "ATTWGT_"], p.stdout + p.stderr
