"""Shared helpers: the command-line program from the same build as the reference for every
result the package gives, run on the same data, and value-for-value comparisons."""

import math
import os
import subprocess
from pathlib import Path

import numpy as np
import pandas as pd
import pytest

ROOT = Path(__file__).resolve().parents[2]
LALONDE = ROOT / "tests" / "data" / "lalonde" / "lalonde.csv"


def cli_binary():
    path = Path(os.environ.get("VELLOC_BINARY", ROOT / "build" / "velloc"))
    if not path.exists():
        pytest.skip(f"the velloc program is not built at {path}")
    return path


class CliRun:
    def __init__(self, status, folder, log):
        self.status = status
        self.folder = folder
        self.log = log

    def tables(self):
        out = {}
        for f in sorted((self.folder / "tables").glob("*.csv")):
            out[f.stem] = pd.read_csv(f, dtype=str, keep_default_na=False)
        return out

    def graphs(self):
        return {f.stem: f.read_text(encoding="utf-8")
                for f in sorted((self.folder / "graphs").glob("*.svg"))}

    def text(self, name):
        path = self.folder / name
        return path.read_text(encoding="utf-8") if path.exists() else ""

    def out(self, name):
        return pd.read_csv(self.folder / name, dtype=str, keep_default_na=False)


def run_cli(program, folder, graphics=True):
    """Runs the program with the command-line program inside folder (one-level data set
    names are folder/name.csv there), tables and graphs into folder/tables, folder/graphs."""
    folder = Path(folder)
    (folder / "prog.vlc").write_text(program)
    args = [str(cli_binary()), "prog.vlc", "--listing", "listing.txt", "--log", "log.txt",
            "--tables-dir", "tables", "--graphs-dir", "graphs", "--html", "report.html"]
    if not graphics:
        args.append("--no-graphics")
    p = subprocess.run(args, cwd=folder)
    return CliRun(p.returncode, folder, (folder / "log.txt").read_text())


def lalonde():
    return pd.read_csv(LALONDE, float_precision="round_trip")


def same_number(a, text):
    """A number of ours against the CSV cell the program wrote (empty: missing)."""
    if text == "":
        return isinstance(a, float) and math.isnan(a)
    b = float(text)
    return a == b and math.copysign(1, a) == math.copysign(1, b)


def same_cell(a, text):
    if isinstance(a, (float, np.floating, int, np.integer)) and not isinstance(a, bool):
        return same_number(float(a), text)
    if a is None or a is pd.NA:
        return text == ""
    return str(a) == text


def assert_same_frame(ours, cells, what):
    """ours: a result DataFrame; cells: the program's CSV read as text. Same column names in
    the same order, the same number of rows, and every cell the same value."""
    assert list(ours.columns) == list(cells.columns), what
    assert len(ours) == len(cells), what
    for i, name in enumerate(cells.columns):
        col = ours.iloc[:, i]
        texts = cells.iloc[:, i].tolist()
        for r, (a, t) in enumerate(zip(col.tolist(), texts)):
            assert same_cell(a, t), f"{what}: column {name}, row {r}: ours {a!r}, the program's {t!r}"


def assert_same_tables(result, cli, skip=(), some=True):
    theirs = cli.tables()
    assert sorted(result.tables) == sorted(theirs)
    assert bool(theirs) == some, "tables written" if theirs else "no tables written"
    for name, cells in theirs.items():
        if name in skip:
            continue
        assert_same_frame(result.tables[name], cells, name)
