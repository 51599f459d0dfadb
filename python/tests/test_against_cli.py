"""Every result of velloc.run equals, value for value, what the command-line program writes
for the same program on the same data: each --tables-dir CSV, each --graphs-dir SVG, the
OUT= CSV, the exit status. The frames reach the package from memory and the program reads
the CSV file, so the two paths share nothing but the procedure."""

import numpy as np
import pandas as pd
import pytest

import velloc
from conftest import assert_same_frame, assert_same_tables, lalonde, run_cli, same_cell

MODEL = """   class treat race married nodegree;
   psmodel treat(treated='1') = age educ race married nodegree re74 re75;
"""

DESIGNS = {
    "weighting": """   id id;
   psweight weight=attwgt nlargestwgt=6;
   assess lps var=(age educ re74 re75 married nodegree) / varinfo;
   output out='{out}' ps=_PS lps=_LPS attwgt=_ATTWgt;
""",
    "strata": """   strata nstrata=5;
   assess lps var=(age educ re74 re75 married nodegree) / varinfo;
   output out='{out}' ps=_PS lps=_LPS strata=_Stratum;
""",
    "greedy": """   match method=greedy(k=1) distance=lps caliper=0.25;
   assess lps var=(age educ re74 re75 married nodegree) / varinfo;
   output out(obs=match)='{out}' matchid=_MatchID;
""",
    "optimal": """   match method=optimal(k=1) distance=lps caliper=0.25;
   assess lps var=(age educ re74 re75 married nodegree) / varinfo;
   output out(obs=match)='{out}' matchid=_MatchID;
""",
    "full": """   match method=full(kmax=3 kmaxtreated=3) distance=lps caliper=. weight=matchwgt;
   assess lps var=(age educ re74 re75 married nodegree) / varinfo;
   output out(obs=match)='{out}' matchid=_MatchID matchwgt=_MatchWgt;
""",
}
REGION = {"weighting": "cs", "strata": "cs"}


def program(data, out, design, by=""):
    region = REGION.get(design, "allobs")
    return (f"proc velloc data='{data}' region={region};\n{by}{MODEL}"
            + DESIGNS[design].format(out=out) + "run;\n")


def compare(df, prog_of, tmp_path, graphics=True, skip=(), some=True):
    """Runs prog_of(data path, out path) from memory and with the program; checks all."""
    data = tmp_path / "in.csv"
    out = tmp_path / "out.csv"
    df.to_csv(data, index=False)
    prog = prog_of(data, out)
    ours = velloc.run(prog, data=df, graphics=graphics, check=False)
    assert not out.exists(), "an OUT= data set from Python must stay in memory"
    cli = run_cli(prog, tmp_path, graphics=graphics)
    assert ours.status == cli.status
    assert_same_tables(ours, cli, skip, some)
    if not skip:
        assert ours.listing == cli.text("listing.txt")
        assert ours.html == cli.text("report.html")
    if graphics:
        theirs = cli.graphs()
        assert list(ours.graphs) == list(theirs)
        for name in theirs:
            assert ours.graphs[name] == theirs[name], name
    if out.exists():
        assert_same_frame(ours.out, cli.out("out.csv"), "OUT=")
        assert list(ours.outs) == [str(out)]
    return ours, cli


@pytest.mark.parametrize("design", list(DESIGNS))
def test_designs_equal_the_program(design, tmp_path):
    ours, cli = compare(lalonde(), lambda d, o: program(d, o, design), tmp_path)
    assert ours.status == 0
    assert ours.out is not None and len(ours.out) > 0
    # The OUT= data set keeps the input's columns first and its integer types.
    assert list(ours.out.columns[:10]) == list(lalonde().columns)
    assert ours.out["treat"].dtype == np.int64
    assert ours.log[-1].id == "901-2"


def sorted_by(df, cols, ascending=True):
    return df.sort_values(cols, ascending=ascending, kind="mergesort").reset_index(drop=True)


@pytest.mark.parametrize("design", ["weighting", "greedy", "optimal"])
def test_by_groups_numeric_and_character(design, tmp_path):
    df = sorted_by(lalonde(), ["married", "nodegree"])
    ours, _ = compare(df, lambda d, o: program(d, o, design, "   by married nodegree;\n")
                      .replace(" married nodegree;\n   psmodel", ";\n   psmodel")
                      .replace("race married nodegree re74", "race re74"), tmp_path)
    info = ours.tables["PSInfo"] if "PSInfo" in ours.tables else next(iter(ours.tables.values()))
    assert list(info.columns[:2]) == ["married", "nodegree"]
    assert info["married"].dtype == np.float64


def test_by_character_descending(tmp_path):
    df = sorted_by(lalonde(), ["race"], ascending=False)
    prog = lambda d, o: program(d, o, "weighting", "   by descending race;\n").replace(
        "= age educ race married", "= age educ married").replace("class treat race", "class treat")
    ours, _ = compare(df, prog, tmp_path)
    first = ours.tables["DataInfo"]
    assert first.columns[0] == "race"
    assert list(dict.fromkeys(first["race"])) == ["white", "hispan", "black"]


def test_by_unsorted_is_refused_as_the_program_does(tmp_path):
    df = lalonde()  # not sorted by race: the first row out of order is the same for both
    prog = lambda d, o: program(d, o, "weighting", "   by race;\n").replace(
        "= age educ race married", "= age educ married").replace("class treat race", "class treat")
    ours, cli = compare(df, prog, tmp_path, some=False)
    assert ours.status == cli.status != 0
    ours_line = next(m for m in ours.log if m.id == "900-14")
    cli_line = next(l for l in cli.log.splitlines() if l.endswith("[900-14]"))
    assert "ERROR: " + ours_line.text + " [900-14]" == cli_line
    with pytest.raises(velloc.Error) as e:
        velloc.run(prog(tmp_path / "in.csv", tmp_path / "o2.csv"), data=df)
    assert any(m.id == "900-14" for m in e.value.log)
    assert "is not sorted" in str(e.value)


def test_by_notsorted(tmp_path):
    df = lalonde()
    m0, m1 = df[df.married == 0], df[df.married == 1]
    df = pd.concat([m0.iloc[::2], m1, m0.iloc[1::2]], ignore_index=True)
    prog = lambda d, o: program(d, o, "weighting", "   by married / notsorted;\n").replace(
        "race married nodegree;", "race nodegree;").replace("race married nodegree re74", "race nodegree re74")
    ours, _ = compare(df, prog, tmp_path, graphics=False)
    by = ours.tables["DataInfo"]["married"]
    assert [int(v) for v in by[by != by.shift()]] == [0, 1, 0]


def with_missing(df):
    """NaN in a float column, None in a text column, pd.NA in a nullable integer column,
    and the CLASS variable race as a categorical with an unused category."""
    df = df.copy()
    df.loc[[3, 50, 400], "re74"] = np.nan
    df["race"] = df["race"].astype(object)
    df.loc[[7, 8, 500], "race"] = None
    df["nodegree"] = df["nodegree"].astype("Int64")
    df.loc[[10, 600], "nodegree"] = pd.NA
    df["race"] = pd.Categorical(df["race"], categories=["white", "black", "hispan", "asian"])
    return df


@pytest.mark.parametrize("design", ["weighting", "greedy", "full"])
def test_missing_values_nan_none_na_and_categories(design, tmp_path):
    df = with_missing(lalonde())
    ours, _ = compare(df, lambda d, o: program(d, o, design), tmp_path)
    # Eight rows have a missing model variable; the fit uses the rest.
    info = ours.tables["DataInfo"].set_index("Label")["Value"]
    assert info["Number of Treated Observations"] + info["Number of Control Observations"] == 606
    # The categorical comes back with its categories, blank as missing.
    if design == "weighting":
        race = ours.out["race"]
        assert isinstance(race.dtype, pd.CategoricalDtype)
        assert list(race.cat.categories) == ["white", "black", "hispan", "asian"]
        assert race.isna().sum() == 3


def test_string_dtype_and_bool_column(tmp_path):
    df = lalonde()
    df["race"] = df["race"].astype("string")
    df.loc[5, "race"] = pd.NA
    df["married"] = df["married"].astype(bool)
    csv_df = df.copy()
    csv_df["married"] = csv_df["married"].astype(int)  # a CSV of bools reads True/False as text
    data = tmp_path / "in.csv"
    out = tmp_path / "out.csv"
    csv_df.to_csv(data, index=False)
    prog = program(data, out, "weighting")
    ours = velloc.run(prog, data=df)
    cli = run_cli(prog, tmp_path)
    assert ours.status == cli.status == 0
    assert_same_tables(ours, cli)
    theirs = cli.out("out.csv")
    assert_same_frame(ours.out.assign(married=ours.out["married"].astype(int)), theirs, "OUT=")
    assert ours.out["married"].dtype == bool


def test_named_frames_and_a_step_reading_the_first_steps_out(tmp_path):
    df = lalonde()
    df.to_csv(tmp_path / "jobs.csv", index=False)
    prog = f"""proc velloc data=jobs region=cs;
{MODEL}   psweight weight=attwgt;
   output out=scored ps=_PS attwgt=_W;
run;
proc velloc data=scored region=allobs;
   class treat;
   psmodel treat(treated='1') = age educ _PS;
   match method=greedy(k=1) distance=lps caliper=0.25;
   output out(obs=match)=matched matchid=_MatchID;
run;
"""
    ours = velloc.run(prog, data={"Jobs": df})
    cli = run_cli(prog, tmp_path)
    assert ours.status == cli.status == 0
    # DataInfo names the data set: the program its file, the package the frame's name.
    assert_same_tables(ours, cli, skip={"DataInfo"})
    ours_info, their_info = ours.tables["DataInfo"], cli.tables()["DataInfo"]
    assert_same_frame(ours_info.drop(columns="Value"), their_info.drop(columns="Value"), "DataInfo")
    differ = [(a, t) for a, t in zip(ours_info["Value"], their_info["Value"]) if not same_cell(a, t)]
    assert differ == [("jobs", "jobs.csv"), ("scored", "scored.csv")]
    assert list(ours.outs) == ["scored", "matched"]
    assert_same_frame(ours.outs["scored"], cli.out("scored.csv"), "scored")
    assert_same_frame(ours.out, cli.out("matched.csv"), "matched")


def test_graphics_off_gives_no_graphs(tmp_path):
    ours, _ = compare(lalonde(), lambda d, o: program(d, o, "greedy"), tmp_path, graphics=False)
    assert ours.graphs == {}


def test_result_objects(tmp_path):
    r = velloc.run(program(tmp_path / "x.csv", tmp_path / "o.csv", "greedy"), data=lalonde())
    assert r.graphs and all(svg.lstrip().startswith("<svg") for svg in r.graphs.values())
    assert "<table" in r.html and "<table" in r._repr_html_()
    assert r.html.count("<svg") == len(r.graphs)
    assert "The VELLOC Procedure" in r.listing
    sev = {m.severity for m in r.log}
    assert sev <= {"NOTE", "WARNING", "TEXT"}
    assert all(m.id and "-" in m.id for m in r.log if m.severity != "TEXT")
