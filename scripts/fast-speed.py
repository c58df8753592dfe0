#!/usr/bin/python3
"""Fast mode's speed beside the exact path's, in one run on one build: the
reference workloads A-D end to end (design record in, file out, into a
memory resource), the docs' dataset example in cases per second on a local
pool, and where one dataset case spends its time.

    ZM_LIBRARY_PATH=build/release/src:build/release/tools PYTHONPATH=python \\
        /usr/bin/python3 scripts/fast-speed.py [--rounds 3] [--cases 40] [--docs docs]

The best of the rounds counts: other work on the machine only slows a run.
With --docs the table goes into DOCS/fast-mode.md between its markers.
"""

import argparse
import ctypes
import json
import os
import runpy
import shutil
import sys
import tempfile
import time
import types

import zm
from zm import dataset
from zm._library import PROGRESS_CALLBACK, ErrorRecord, libraries

HERE = os.path.dirname(os.path.abspath(__file__))
equivalence = types.SimpleNamespace(**runpy.run_path(os.path.join(HERE, "fast-equivalence.py")))

# The example of docs/python.md ("A dataset of 1 000 rooms").
ROOMS = {"seed": 2024,
         "room": {"shape": ["shoebox", "l-shape"],
                  "width": {"min": 4, "max": 20}, "depth": {"min": 3, "max": 15},
                  "material": {"choice": ["plaster-painted", "brick-unglazed",
                                          "concrete-painted", "wood-panelling"]},
                  "scattering": {"min": 0.05, "max": 0.5},
                  "height": {"min": 2.5, "max": 4},
                  "floor": {"choice": ["concrete-floor", "parquet-on-concrete",
                                       "carpet-on-concrete", "vinyl-on-concrete"]},
                  "ceiling": {"choice": ["plasterboard-deep-airspace",
                                         "wood-fibre-ceiling-tile", "plaster-painted"]}},
         "render": {"rayCount": 5000, "sampleRate": 48000}}


def workloads():
    designs = equivalence.reference_designs()
    chosen = {letter: designs[letter] for letter in "ABC"}
    chosen["D"] = json.loads(json.dumps(designs["A"]))
    chosen["D"]["options"]["filterLength"] = 256
    chosen["D"]["title"] = "Workload D"
    return chosen


def time_workload(design, fast, rounds):
    record = zm.Design.from_dict(design).record
    found = libraries()
    process = found.tool.zmtool_process_fast if fast else found.zm.ZM_process
    best = None
    for _ in range(rounds):
        error, abort = ErrorRecord(), ctypes.c_uint8(0)
        start = time.perf_counter()
        process(record, b"mem:speed", ctypes.byref(error), ctypes.byref(abort),
                PROGRESS_CALLBACK(), None, 0)
        took = time.perf_counter() - start
        if error.Failed:
            raise SystemExit(f"{design['title']}: {error.text()}")
        best = took if best is None else min(best, took)
    return best


def time_dataset(fast, cases, rounds, workers):
    rooms = dict(ROOMS, count=max(1, cases // 2), fast=fast)
    best = None
    for _ in range(rounds):
        folder = tempfile.mkdtemp(prefix="zm-speed-")
        try:
            start = time.perf_counter()
            dataset.generate(rooms, folder, workers=workers, progress=False)
            took = time.perf_counter() - start
        finally:
            shutil.rmtree(folder)
        best = took if best is None else min(best, took)
    return 2 * rooms["count"] / best


# What a case does, by the functions of zm.dataset it calls.
STEPS = {"estimate": "_estimate", "direct level": "_direct_level", "render": "render_file",
         "read": "read_audio", "resample": "_resampled", "write": "_write_audio",
         "analysis": "analyze", "metadata": "write_replacing"}


def case_breakdown(fast, cases):
    """Seconds per case in each step, one case after another in this
    process (one engine thread, as a pool's worker has)."""
    spent = {step: 0.0 for step in STEPS}
    originals = {}

    def timed(step, function):
        def call(*args, **kwargs):
            start = time.perf_counter()
            try:
                return function(*args, **kwargs)
            finally:
                spent[step] += time.perf_counter() - start
        return call

    for step, name in STEPS.items():
        originals[name] = getattr(dataset, name)
        setattr(dataset, name, timed(step, originals[name]))
    folder = tempfile.mkdtemp(prefix="zm-speed-")
    threads = os.environ.get("ZM_THREADS")
    os.environ["ZM_THREADS"] = "1"
    try:
        all_cases = dataset.cases(dict(ROOMS, count=max(1, cases // 2), fast=fast))
        start = time.perf_counter()
        for case in all_cases:
            dataset.run_case(folder, case)
        total = time.perf_counter() - start
    finally:
        for name, function in originals.items():
            setattr(dataset, name, function)
        if threads is None:
            del os.environ["ZM_THREADS"]
        else:
            os.environ["ZM_THREADS"] = threads
        shutil.rmtree(folder)
    count = len(all_cases)
    result = {step: seconds / count for step, seconds in spent.items()}
    result["other"] = total / count - sum(result.values())
    result["total"] = total / count
    return result


def table(speeds, rates, breakdowns, args):
    lines = [f"One build, one run, best of {args.rounds}; {os.cpu_count()} cores. Workloads: "
             "seconds from design record to file (bench/speed_workloads.cpp describes them).",
             "", "| workload | exact (s) | fast (s) | fast / exact |", "|---|---|---|---|"]
    for letter, (exact, fast) in speeds.items():
        lines.append(f"| {letter} | {exact:.3f} | {fast:.3f} | {exact / fast:.1f}× |")
    exact, fast = rates
    lines += ["", f"The dataset example of python.md, {args.cases} cases on a local pool of "
              f"{args.workers or os.cpu_count()} workers:", "",
              "| dataset | exact | fast | fast / exact |", "|---|---|---|---|",
              f"| cases/s | {exact:.2f} | {fast:.2f} | {fast / exact:.1f}× |", "",
              "Where one case's time goes (ms per case, one case after another in one "
              "process):", "", "| step | exact | fast |", "|---|---|---|"]
    for step in list(STEPS) + ["other", "total"]:
        lines.append(f"| {step} | {1000 * breakdowns[False][step]:.1f} | "
                     f"{1000 * breakdowns[True][step]:.1f} |")
    return "\n".join(lines)


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--cases", type=int, default=40)
    parser.add_argument("--workers", type=int)
    parser.add_argument("--only", default="ABCD", help="workload letters")
    parser.add_argument("--docs", help="the docs folder to write the table into")
    args = parser.parse_args(argv)
    designs = workloads()
    speeds = {}
    for letter in args.only:
        speeds[letter] = tuple(time_workload(designs[letter], fast, args.rounds)
                               for fast in (False, True))
        print(f"{letter}: exact {speeds[letter][0]:.3f} s, fast {speeds[letter][1]:.3f} s",
              file=sys.stderr, flush=True)
    rates = tuple(time_dataset(fast, args.cases, args.rounds, args.workers)
                  for fast in (False, True))
    breakdowns = {fast: case_breakdown(fast, args.cases) for fast in (False, True)}
    text = table(speeds, rates, breakdowns, args)
    print(text)
    if args.docs:
        equivalence.replace_between(os.path.join(args.docs, "fast-mode.md"), "speed-table", text)
    return 0


if __name__ == "__main__":
    sys.exit(main())
