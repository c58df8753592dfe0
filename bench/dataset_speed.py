#!/usr/bin/env python3
"""Dataset throughput: cases per second for 5 000-ray shoebox rooms of 1 s,
on a local process pool and on a two-worker local Dask cluster, and the cost
per case of the dataset machinery over a bare ZM_process call.

    ZM_LIBRARY_PATH=build/release/src:build/release/tools PYTHONPATH=python \\
        /usr/bin/python3 bench/dataset_speed.py [--cases N] [--repeat R]

Every engine call runs single-threaded (ZM_THREADS=1), as the pool's workers
do, so that the direct and the dataset figures compare like with like. The
best of R repeats is reported: other jobs on the machine only slow a run.
"""

import argparse
import ctypes
import os
import shutil
import sys
import tempfile
import time

os.environ["ZM_THREADS"] = "1"

import zm  # noqa: E402
from zm import dataset  # noqa: E402
from zm._library import ErrorRecord, PROGRESS_CALLBACK, libraries  # noqa: E402


def rooms(cases):
    return {"seed": 1, "count": cases,
            "room": {"shape": "shoebox", "width": {"min": 4, "max": 12},
                     "depth": {"min": 3, "max": 9}, "material": "plaster-painted"},
            "render": {"rayCount": 5000, "impulseLength": 1.0, "sampleRate": 48000}}


def best(repeat, run):
    return min(run() for _ in range(repeat))


def timed_generate(cases, **where):
    def run():
        folder = tempfile.mkdtemp(prefix="zm-bench-")
        try:
            start = time.perf_counter()
            dataset.generate(rooms(cases), folder, progress=False, **where)
            return time.perf_counter() - start
        finally:
            shutil.rmtree(folder)
    return run


def timed_direct(cases):
    """ZM_process alone on the same designs, into a discarded memory file."""
    records = [zm.Design.from_dict(dataset.design_of(c)).record
               for c in dataset.cases(rooms(cases))]
    engine = libraries().zm

    def run():
        start = time.perf_counter()
        for record in records:
            error, abort = ErrorRecord(), ctypes.c_uint8(0)
            engine.ZM_process(record, b"mem:bench", ctypes.byref(error), ctypes.byref(abort),
                              PROGRESS_CALLBACK(), None, 0)
            assert not error.Failed, error.text()
        return time.perf_counter() - start
    return run


def timed_serial(cases):
    """The dataset's whole work per case, one case after another."""
    def run():
        folder = tempfile.mkdtemp(prefix="zm-bench-")
        try:
            start = time.perf_counter()
            for case in dataset.cases(rooms(cases)):
                dataset.run_case(folder, case)
            return time.perf_counter() - start
        finally:
            shutil.rmtree(folder)
    return run


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--cases", type=int, default=24)
    parser.add_argument("--repeat", type=int, default=3)
    args = parser.parse_args()
    n = args.cases
    direct = best(args.repeat, timed_direct(n))
    serial = best(args.repeat, timed_serial(n))
    local = best(args.repeat, timed_generate(n, workers=os.cpu_count()))
    print(f"cores: {os.cpu_count()}, cases: {n}, best of {args.repeat}")
    print(f"ZM_process alone:        {direct / n * 1000:8.1f} ms/case  {n / direct:6.2f} cases/s")
    print(f"dataset case, serial:    {serial / n * 1000:8.1f} ms/case  {n / serial:6.2f} cases/s"
          f"  (overhead {(serial - direct) / n * 1000:.1f} ms/case, "
          f"{(serial / direct - 1) * 100:.0f} %)")
    print(f"local pool, {os.cpu_count()} processes: {n / local:6.2f} cases/s")
    try:
        from distributed import Client, LocalCluster
    except ImportError:
        print("Dask: python3-distributed is not installed")
        return 0
    with LocalCluster(n_workers=2, threads_per_worker=1, host="127.0.0.1",
                      dashboard_address=None, env={"ZM_THREADS": "1"}) as cluster, \
            Client(cluster) as client:
        dask = best(args.repeat, timed_generate(n, scheduler=client))
    print(f"Dask, 2 local workers:   {n / dask:6.2f} cases/s")
    return 0


if __name__ == "__main__":
    sys.exit(main())
