"""Run by test_dask.py in a process of its own: a LocalCluster of two workers, one of which is
ended as the first BY group starts on it; the groups' results must equal one local run.
Exits 0 when they do (an assertion error otherwise). Usage: killed_worker_scenario.py MARKER"""

import os
import sys

import dask.dataframe as dd
import distributed
from distributed.scheduler import SchedulerState

import velloc
import velloc.dask
from conftest import lalonde
from test_dask import PROG, KillFirstRun, assert_same, local

# distributed 2022.12 (Debian's) asserts that a worker's estimated occupancy is not negative,
# and a worker lost during a transfer leaves it at -1e-08 by rounding: the assertion then
# breaks the scheduler's stream to the surviving worker and the run never ends.
_occupancy = SchedulerState._calc_occupancy


def _clamped_occupancy(self, task_prefix_count, network_occ):
    return _occupancy(self, task_prefix_count, max(network_occ, 0.0))


SchedulerState._calc_occupancy = _clamped_occupancy


def main(marker):
    cluster = distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                       dashboard_address=None)
    with distributed.Client(cluster) as c:
        c.register_worker_plugin(KillFirstRun(marker))
        df = lalonde()
        res = velloc.dask.run(PROG, dd.from_pandas(df, npartitions=2),
                              by=["married", "nodegree"], client=c)
        assert os.path.exists(marker), "no worker was ended"
        assert res.failures == [] and res.status == 0, (res.failures, res.status)
        assert_same(res, local(df, ["married", "nodegree"]))
    cluster.close()


if __name__ == "__main__":
    main(sys.argv[1])
