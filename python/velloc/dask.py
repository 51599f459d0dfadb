"""BY groups of a Dask DataFrame, each run as its own study on a worker.

``velloc.dask.run(program, ddf, by=[...], client=None)`` splits ``ddf`` into its BY groups
(the values of the ``by`` columns, in ascending order, missing first, as a BY statement
orders them), runs ``program`` on each group where Dask places it, and gathers the tables
as pandas DataFrames and the OUT= data set as a Dask DataFrame, both in BY order. The
program names the same variables in its BY statement, so that every table carries them.

The result equals, cell for cell, one ``velloc.run`` of the program on the whole data sorted
by the BY variables. A group whose run fails is reported in ``failures`` with its BY values
and its log; the other groups finish. Without a client the default Dask scheduler runs the
groups (a distributed client, when one is active, is the default).
"""

import ctypes
import math
import os
import re
from typing import NamedTuple

import dask
import dask.dataframe as dd
import pandas as pd

from . import Error, run as _run

__all__ = ["run", "GroupFailure", "DaskResult"]


class GroupFailure(NamedTuple):
    by: dict  # BY variable -> value of the failed group
    message: str
    log: list  # its velloc.Message lines


def _missing(v):
    return v is None or v is pd.NA or (isinstance(v, float) and math.isnan(v))


def _norm(key):
    # NaN is not equal to itself: a missing BY value is None in a group's key.
    key = key if isinstance(key, tuple) else (key,)
    return tuple(None if _missing(v) else v for v in key)


def _key_order(key):
    # Missing values first, then ascending, as BY groups are ordered.
    return [(0, 0) if v is None else (1, v) for v in key]


def _split(part, by):
    """One partition's rows by BY value, in row order."""
    pieces = {}
    if len(part) == 0:
        return pieces
    # One BY variable is grouped by its name, so that keys are values alike in every pandas.
    grouper = by[0] if len(by) == 1 else list(by)
    for key, frame in part.groupby(grouper, sort=False, dropna=False):
        pieces[_norm(key)] = frame
    return pieces


def _piece(pieces, key):
    return pieces.get(key)


_malloc_tuned = False


def _tune_malloc():
    """Dask's nannies start workers with MALLOC_TRIM_THRESHOLD_ set, which turns off glibc's
    adaptive mmap threshold: every large buffer of a run is then a fresh mapping whose pages
    fault in again, and a run takes about twice as long as in the client. Put back the
    limits glibc adapts to by itself (32 MB mappings, twice that kept before trimming)."""
    global _malloc_tuned
    if _malloc_tuned or "MALLOC_TRIM_THRESHOLD_" not in os.environ:
        return
    _malloc_tuned = True
    try:
        libc = ctypes.CDLL("libc.so.6")
        M_TRIM_THRESHOLD, M_MMAP_THRESHOLD = -1, -3
        libc.mallopt(M_MMAP_THRESHOLD, 32 << 20)
        libc.mallopt(M_TRIM_THRESHOLD, 64 << 20)
    except (OSError, AttributeError):
        pass


def _run_group(program, by, graphics, key, *pieces):
    _tune_malloc()
    frames = [p for p in pieces if p is not None]
    df = pd.concat(frames) if len(frames) > 1 else frames[0]
    df = df.reset_index(drop=True)
    values = dict(zip(by, key))
    try:
        r = _run(program, data=df, graphics=graphics)
    except Error as e:
        res = e.result
        return {"by": values, "failed": str(e), "log": e.log,
                "tables": res.tables if res else {}, "graphs": res.graphs if res else {},
                "out": res.out if res else None, "status": res.status if res else 3}
    return {"by": values, "failed": None, "log": r.log, "tables": r.tables,
            "graphs": r.graphs, "out": r.out, "status": r.status}


def _keys(pieces):
    return list(pieces)


def _without_out(r):
    small = {k: v for k, v in r.items() if k != "out"}
    small["has_out"] = r["out"] is not None
    return small


def _out_of(r):
    return r["out"]


def _empty_like(frame):
    return frame.iloc[:0]


class DaskResult:
    """tables: name -> DataFrame of every group's rows in BY order; out: the OUT= data set
    as a Dask DataFrame in BY order (None without one); graphs: name -> SVG, numbered in BY
    order as one run numbers them; logs: BY values (tuple) -> the group's messages;
    failures: GroupFailure of each failed group; status: the worst group status."""

    def __init__(self, tables, out, graphs, logs, failures, status):
        self.tables, self.out, self.graphs = tables, out, graphs
        self.logs, self.failures, self.status = logs, failures, status


_SEQ = re.compile(r"^\d{4}_")


def run(program, ddf, by, client=None, graphics=True):
    """Runs program on every BY group of the Dask DataFrame ddf; see the module text.
    graphics=False skips the graphs, as velloc.run(graphics=False) does."""
    if isinstance(by, str):
        by = [by]
    by = list(by)
    if not by:
        raise Error("velloc.dask.run needs at least one BY variable.")
    for b in by:
        if b not in ddf.columns:
            raise Error(f"The BY variable {b} is not a column of the data.")
    if client is None:
        try:
            from distributed import get_client
            client = get_client()
        except (ImportError, ValueError):
            client = None
    parts = ddf.to_delayed()
    splits = [dask.delayed(_split, pure=True)(p, by) for p in parts]
    out_parts = None
    if client is not None:
        # Each partition is split once on the cluster; the BY values come from the splits
        # (no second pass over the data), a group takes pieces only from the partitions that
        # hold it, and only the small part of each result comes to the client: the OUT= rows
        # stay on the workers as the partitions of the returned Dask DataFrame.
        split_f = client.compute(splits)
        held = client.gather(client.map(_keys, split_f))
        keys = sorted({k for ks in held for k in ks}, key=_key_order)
        futures = []
        for key in keys:
            pieces = [client.submit(_piece, sf, key) for sf, ks in zip(split_f, held) if key in ks]
            futures.append(client.submit(_run_group, program, by, graphics, key, *pieces))
        results = client.gather(client.map(_without_out, futures))
        out_parts = [client.submit(_out_of, f) for f in futures]
    else:
        keys = ddf[by].drop_duplicates().compute()
        keys = sorted({_norm(tuple(row)) for row in keys.itertuples(index=False)}, key=_key_order)
        tasks = []
        for key in keys:
            pieces = [dask.delayed(_piece, pure=True)(s, key) for s in splits]
            tasks.append(dask.delayed(_run_group, pure=True)(program, by, graphics, key, *pieces))
        results = list(dask.compute(*tasks))

    tables, graphs, logs, failures, outs = {}, {}, {}, [], []
    status = 0
    seq = 0
    for i, (key, r) in enumerate(zip(keys, results)):
        logs[key] = r["log"]
        status = max(status, r["status"])
        if r["failed"]:
            failures.append(GroupFailure(r["by"], r["failed"], r["log"]))
        for name, t in r["tables"].items():
            tables.setdefault(name, []).append(t)
        for name, svg in r["graphs"].items():
            seq += 1
            graphs[f"{seq:04d}_" + _SEQ.sub("", name)] = svg
        if out_parts is not None:
            if r["has_out"]:
                outs.append(out_parts[i])
        elif r["out"] is not None:
            outs.append(r["out"])
    tables = {name: pd.concat(ts, ignore_index=True, sort=False) for name, ts in tables.items()}
    out = None
    if outs and out_parts is not None:
        meta = client.submit(_empty_like, outs[0]).result()
        out = dd.from_delayed(outs, meta=meta, verify_meta=False)
    elif outs:
        out = dd.from_delayed([dask.delayed(o) for o in outs], meta=outs[0].iloc[:0],
                              verify_meta=False)
    return DaskResult(tables, out, graphs, logs, failures, status)
