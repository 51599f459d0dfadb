"""Propensity score analysis from Python.

``velloc.run(program, data=frame)`` runs a program of PROC VELLOC steps on pandas DataFrames
held in memory and returns its tables, graphs, log and OUT= data sets as Python objects::

    import pandas as pd, velloc
    df = pd.read_csv("lalonde.csv")
    r = velloc.run('''
        proc velloc data=lalonde;
           class treat race;
           psmodel treat(treated='1') = age educ race re74 re75;
           psweight weight=attwgt;
           output out=scored;
        run;''', data=df)
    r.tables["PSInfo"]; r.out; r.log

``data`` is one DataFrame, which every DATA= of the program reads whatever name it gives,
or a dict of name -> DataFrame: DATA=name (without regard to case) or DATA='name' reads the frame of that key, any other name is a file as on the
command line. OUT= data sets stay in memory: ``.outs`` holds each by the name the program
gives it, ``.out`` the last one written, and a later step's DATA= of that name reads it.
"""

import html as _html
import math as _math
import re as _re
import tempfile as _tempfile
from typing import NamedTuple, Optional

import numpy as _np
import pandas as _pd

from . import _velloc

__version__ = _velloc.version
__all__ = ["run", "Result", "Message", "Error"]


class Message(NamedTuple):
    """One log message: its id ("1049-203"; None for a line without one), severity
    ("NOTE", "WARNING", "ERROR", or "TEXT" for a plain line) and text."""

    id: Optional[str]
    severity: str
    text: str

    def __str__(self):
        if self.severity == "TEXT":
            return self.text
        return f"{self.severity}: {self.text} [{self.id}]"


class Error(Exception):
    """A run that failed, or data that cannot be handed to it. ``log`` holds the run's
    messages (empty when the data was refused before the run), ``result`` the run's result
    with whatever it did produce (None when it did not start)."""

    def __init__(self, message, log=(), result=None):
        super().__init__(message)
        self.log = list(log)
        self.result = result

    def __str__(self):
        lines = [self.args[0]]
        lines += [str(m) for m in self.log if m.severity in ("ERROR", "WARNING")]
        return "\n".join(lines)


_LINE = _re.compile(r"^(NOTE|WARNING|ERROR): (.*) \[(\d+-\d+)\]$")


def _parse_log(text):
    messages = []
    for line in text.splitlines():
        m = _LINE.match(line)
        if m:
            messages.append(Message(m.group(3), m.group(1), m.group(2)))
        else:
            messages.append(Message(None, "TEXT", line))
    return messages


# ----------------------------------------------------------------------------- frames in

_NUMERIC_KINDS = "biuf"


def _column(frame_name, name, s):
    """The column as the extension takes it: ("num", float64 array) or ("text", codes,
    texts). Raises Error naming the column when its type has no place in a data set."""
    dtype = s.dtype
    if isinstance(dtype, _pd.CategoricalDtype):
        texts = [str(c) for c in dtype.categories]
        codes = s.cat.codes.to_numpy(dtype=_np.int32)
        return (name, "text", codes, texts)
    if isinstance(dtype, (_pd.StringDtype,)) or dtype == object:
        codes, uniques = _pd.factorize(s, use_na_sentinel=True)
        texts = list(uniques)
        for t in texts:
            if not isinstance(t, str):
                raise Error(
                    f"The column {name} of the data set {frame_name} holds a value of type "
                    f"{type(t).__name__} ({t!r}); a character column holds texts only."
                )
        return (name, "text", codes.astype(_np.int32, copy=False), texts)
    if isinstance(dtype, _pd.api.extensions.ExtensionDtype):
        if getattr(dtype, "kind", "") in _NUMERIC_KINDS:  # Int64, Float64, boolean
            return (name, "num", s.to_numpy(dtype=_np.float64, na_value=_np.nan))
    elif dtype.kind in _NUMERIC_KINDS:
        return (name, "num", s.to_numpy(dtype=_np.float64))
    raise Error(
        f"The column {name} of the data set {frame_name} has the type {dtype}, which velloc "
        "does not read: give it as numbers (float, int, bool), texts (object, string) or "
        "categories."
    )


def _columns(frame_name, df):
    if not isinstance(df, _pd.DataFrame):
        raise Error(f"The data set {frame_name} is a {type(df).__name__}, not a pandas DataFrame.")
    if df.shape[1] == 0:
        raise Error(f"The data set {frame_name} has no columns.")
    names = list(df.columns)
    for n in names:
        if not isinstance(n, str):
            raise Error(f"The column {n!r} of the data set {frame_name} has a name that is not a text.")
    seen = {}
    for n in names:
        u = n.upper()
        if u in seen:
            other = "" if seen[u] == n else f" and {seen[u]}"
            raise Error(
                f"The data set {frame_name} has two columns named {n}{other} "
                "(names are compared without regard to case)."
            )
        seen[u] = n
    if len(df) == 0:
        raise Error(f"The data set {frame_name} has no rows (columns: {', '.join(names)}).")
    return [_column(frame_name, n, df.iloc[:, i]) for i, n in enumerate(names)]


# ----------------------------------------------------------------------------- results out


def _frame(columns, numeric_by=()):
    data = {}
    names = []
    for i, col in enumerate(columns):
        name, kind, values = col[0], col[1], col[2]
        if kind == "num":
            data[i] = _np.asarray(values, dtype=_np.float64)
        elif name in numeric_by:
            # Formatted BY values: a missing one shows as ".".
            texts = _pd.Series(values, dtype=object).replace({"": _np.nan, ".": _np.nan})
            data[i] = _pd.to_numeric(texts).to_numpy(dtype=_np.float64)
        else:
            data[i] = _np.array(values, dtype=object)
        names.append(name)
    df = _pd.DataFrame(data)
    df.columns = names
    return df


def _restore_types(df, inputs):
    """Gives OUT= columns that came from an input frame its integer, bool or categorical
    type back when no value is lost."""
    for i, name in enumerate(df.columns):
        src = None
        for frame in inputs:
            for c in frame.columns:
                if isinstance(c, str) and c.upper() == name.upper():
                    src = frame[c].dtype
                    break
            if src is not None:
                break
        if src is None:
            continue
        col = df.iloc[:, i]
        if isinstance(src, _pd.CategoricalDtype):
            df.isetitem(i, _pd.Categorical(col.replace("", _np.nan), categories=src.categories.astype(str))
                        if all(isinstance(c, str) for c in src.categories)
                        else col)
        elif isinstance(src, _np.dtype) and src.kind in "biu" and col.dtype.kind == "f":
            v = col.to_numpy()
            if not _np.isnan(v).any() and (_np.trunc(v) == v).all():
                df.isetitem(i, v.astype(src))
    return df


class Result:
    """What a run produced.

    status       the command line's exit status: 0 success (or warnings only), 1 an ERROR
                 was logged, 2 a BY group was abandoned, 3 a fatal status ended a step
    step_status  the procedure status of each step
    log          the messages, as Message tuples; log_text the log as the command line
                 writes it
    tables       table name -> DataFrame, as --tables-dir writes TableName.csv
    graphs       name -> SVG text, named as --graphs-dir names the files (without .svg)
    outs, out    OUT= data sets: name -> DataFrame, and the last one written
    listing, html  the listing and the HTML report
    """

    def __init__(self, raw, inputs):
        self.status = raw["status"]
        self.step_status = list(raw["step_status"])
        self.log_text = raw["log"]
        self.log = _parse_log(raw["log"])
        self.listing = raw["listing"]
        self.html = raw["html"]
        numeric = set()
        for frame in inputs:
            for c in frame.columns:
                if isinstance(c, str) and frame[c].dtype.kind in _NUMERIC_KINDS:
                    numeric.add(c.upper())
        self.tables = {}
        for name, cols in raw["tables"].items():
            by = {c[0] for c in cols if c[0].upper() in numeric}
            self.tables[name] = _frame(cols, by)
        self.graphs = {name: svg for name, svg in raw["graphs"]}
        self.outs = {}
        for name, cols in raw["outs"]:
            df = _restore_types(_frame(cols), inputs)
            df.attrs["labels"] = {c[0]: c[3] for c in cols if c[3]}
            self.outs[name] = df
        self.out = list(self.outs.values())[-1] if self.outs else None

    @property
    def errors(self):
        return [m for m in self.log if m.severity == "ERROR"]

    def _repr_html_(self):
        m = _re.search(r"<body[^>]*>(.*)</body>", self.html, _re.S)
        style = _re.search(r"<style[^>]*>.*?</style>", self.html, _re.S)
        if not m:
            return "<pre>" + _html.escape(self.listing) + "</pre>"
        return (style.group(0) if style else "") + m.group(1)

    def __repr__(self):
        return (f"<velloc.Result status={self.status} tables={len(self.tables)} "
                f"graphs={len(self.graphs)} outs={list(self.outs)}>")


def run(program, data=None, *, graphics=True, check=True):
    """Runs the PROC VELLOC steps of ``program`` on ``data`` (a DataFrame, or a dict of
    name -> DataFrame) and returns a Result. Raises Error when the data cannot be read or,
    with check=True, when the run's status is not 0 (the Error carries the log and the
    result)."""
    if not isinstance(program, str):
        raise TypeError("program must be a str")
    inputs, every, frames = [], None, []
    if isinstance(data, dict):
        for key, df in data.items():
            if not isinstance(key, str) or not key:
                raise Error(f"The data set name {key!r} is not a text.")
            cols = _columns(key, df)
            inputs.append((key, cols))
            frames.append(df)
    elif data is not None:
        every = ("DATA", _columns("DATA", data))
        frames.append(data)
    with _tempfile.TemporaryDirectory(prefix="velloc-") as work:
        try:
            raw = _velloc.run(program, inputs, every, bool(graphics), work)
        except ValueError as e:
            raise Error(str(e)) from None
    result = Result(raw, frames)
    if check and result.status != 0:
        first = next((m.text for m in result.errors), f"the run ended with status {result.status}")
        raise Error(f"velloc run failed (status {result.status}): {first}", result.log, result)
    return result
