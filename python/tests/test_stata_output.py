"""A Stata file that velloc writes, read by pandas (an independent reader): every value, type
and variable label equals the same run's CSV output and its sidecar."""

import json
import shutil

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
