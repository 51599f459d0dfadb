"""Data the package cannot hand to the procedure is refused before the run, with a
velloc.Error naming the column; a run that fails raises velloc.Error with the log."""

import threading

import numpy as np
import pandas as pd
import pytest

import velloc
from conftest import LALONDE, lalonde, run_cli

PROG = """proc velloc data=d region=cs;
   class treat;
   psmodel treat(treated='1') = age educ;
run;
"""


def small():
    return pd.DataFrame({"treat": [1, 0, 1, 0, 1, 0], "age": [30, 31, 25, 40, 33, 29],
                         "educ": [10, 12, 9, 11, 12, 8]})


@pytest.mark.parametrize("column, values, words", [
    ("when", pd.to_datetime(["2020-01-01"] * 6), ["when", "datetime64"]),
    ("gap", pd.to_timedelta([1] * 6, unit="D"), ["gap", "timedelta"]),
    ("z", np.array([1 + 2j] * 6), ["z", "complex"]),
    ("span", pd.arrays.IntervalArray.from_breaks(range(7)), ["span", "interval"]),
    ("code", pd.Series([1, "a", 2, "b", 3, "c"], dtype=object), ["code", "int"]),
])
def test_unsupported_columns_are_named(column, values, words):
    df = small()
    df[column] = values
    with pytest.raises(velloc.Error) as e:
        velloc.run(PROG, data=df)
    for w in words:
        assert w in str(e.value)
    assert e.value.log == [] and e.value.result is None


def test_duplicate_column_names():
    df = pd.concat([small(), small()[["age"]]], axis=1)
    with pytest.raises(velloc.Error, match="two columns named age"):
        velloc.run(PROG, data=df)
    # Names differing only in case collide as they do in a CSV header.
    df = small().assign(AGE=1)
    with pytest.raises(velloc.Error, match="two columns named AGE and age"):
        velloc.run(PROG, data={"d": df})


def test_empty_frames():
    with pytest.raises(velloc.Error, match=r"no rows \(columns: treat, age, educ\)"):
        velloc.run(PROG, data=small().iloc[:0])
    with pytest.raises(velloc.Error, match="has no columns"):
        velloc.run(PROG, data=pd.DataFrame(index=range(3)))


def test_names_a_variable_cannot_have():
    with pytest.raises(velloc.Error, match='column "my age"'):
        velloc.run(PROG, data=small().rename(columns={"age": "my age"}))
    with pytest.raises(velloc.Error, match='column "2nd"'):
        velloc.run(PROG, data=small().assign(**{"2nd": 1.0}))
    df = small()
    df[7] = 1.0
    with pytest.raises(velloc.Error, match="column 7"):
        velloc.run(PROG, data=df)
    with pytest.raises(velloc.Error, match="not a pandas DataFrame"):
        velloc.run(PROG, data={"d": [1, 2]})


def test_a_failing_run_raises_with_its_log(tmp_path):
    prog = PROG.replace("age educ", "age nosuch")
    with pytest.raises(velloc.Error) as e:
        velloc.run(prog, data=small())
    errors = [m for m in e.value.log if m.severity == "ERROR"]
    assert errors and "nosuch" in errors[0].text and errors[0].id
    assert "nosuch" in str(e.value)
    # The same status as the command line gives for the same program and data.
    small().to_csv(tmp_path / "d.csv", index=False)
    cli = run_cli(prog, tmp_path)
    assert e.value.result.status == cli.status != 0
    # The lines differ only where they name the program and the data set.
    lines = [str(m).replace("<python>", "prog.vlc").replace("data set d.", "data set d.csv.")
             for m in e.value.log if m.severity == "ERROR"]
    assert lines == [l for l in cli.log.splitlines() if l.startswith("ERROR")]
    # check=False hands the result back instead.
    r = velloc.run(prog, data=small(), check=False)
    assert r.status == cli.status and r.tables == {}


def test_a_name_not_given_from_python_is_a_file(tmp_path):
    prog = f"""proc velloc data='{LALONDE}' region=cs;
   class treat;
   psmodel treat(treated='1') = age educ;
run;
"""
    r = velloc.run(prog, data={"other": small()})
    info = r.tables["DataInfo"].set_index("Label")["Value"]
    assert info["Data Set"] == str(LALONDE)
    assert info["Number of Treated Observations"] == 185


def test_runs_from_two_threads_take_turns_and_agree():
    prog = PROG.replace("data=d", "data=x").replace("age educ", "age educ re74 re75")
    df = lalonde()
    results = [None] * 4

    def work(i):
        results[i] = velloc.run(prog, data=df)

    threads = [threading.Thread(target=work, args=(i,)) for i in range(4)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    for r in results:
        assert r.status == 0
        for name, t in results[0].tables.items():
            pd.testing.assert_frame_equal(r.tables[name], t)
        assert [m.text for m in r.log if "took" not in m.text] == \
               [m.text for m in results[0].log if "took" not in m.text]


def test_quoted_and_unquoted_names_read_the_frame_of_the_key():
    prog = PROG.replace("data=d", "data={}").replace("region=cs", "region=allobs")
    a = velloc.run(prog.format("'Jobs'"), data={"Jobs": small()}, check=False)
    b = velloc.run(prog.format("JOBS"), data={"Jobs": small()}, check=False)
    for r, shown in ((a, "Jobs"), (b, "JOBS")):
        info = r.tables["DataInfo"].set_index("Label")["Value"]
        assert info["Data Set"] == shown
        assert info["Number of Treated Observations"] == 3
    # A quoted name is a path: it matches its key exactly.
    with pytest.raises(velloc.Error, match="jobs"):
        velloc.run(prog.format("'jobs'"), data={"Jobs": small()})


def test_an_infinite_value_is_named_by_its_row():
    d = small().astype({"educ": float})
    d.loc[3, "educ"] = -np.inf
    with pytest.raises(velloc.Error) as e:
        velloc.run(PROG, data=d)
    errors = [m for m in e.value.log if m.severity == "ERROR"]
    assert errors and errors[0].id == "900-513"
    assert 'variable educ' in errors[0].text and '"-inf" at row 4' in errors[0].text
    # A missing value (NaN) is no such fault: the row is left out.
    d.loc[3, "educ"] = np.nan
    r = velloc.run(PROG, data=d, check=False)
    assert not [m for m in r.log if m.id == "900-513"]
    assert any(m.id == "1049-971" and "educ" in m.text for m in r.log)
