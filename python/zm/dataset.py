"""Datasets of many rooms: one small spec file -> one WAVE file per case and
one metadata table.

The spec (JSON) describes the rooms. Each parameter under "room", "source",
"receiver" and "render" is a single value, a list (swept: every combination
of the lists is taken) or {"min": a, "max": b} (drawn uniformly per case);
{"choice": [...]} draws one of the values per case. "count" cases are made
for every combination of the swept lists.

    {
      "seed": 7,
      "count": 10,
      "room": {"shape": ["shoebox", "l-shape"], "width": {"min": 4, "max": 12},
               "depth": {"min": 3, "max": 9},
               "material": {"choice": ["plaster-painted", "brick-unglazed"]},
               "scattering": 0.1},
      "render": {"rayCount": 5000, "impulseLength": 1.0, "sampleRate": 48000}
    }

Materials are ids of the tool's catalogue. Source and receiver are drawn
inside the room (at least "margin" metres from the walls and "spacing" from
each other) unless "source"/"receiver" give "x" and "y" in metres. Every case
has its own random stream, derived from the spec's seed and the case number
only, so the same spec gives the same cases and the same bytes in any order,
on any number of workers.

In OUT/: case-000000.wav (the engine's 32-bit float file, one channel),
case-000000.json (the case's metadata, written last), metadata.jsonl (one
row per case, built from those files) and spec.json (the spec the folder was
made from; another spec is refused). A case counts as finished when its
metadata file exists: a rerun skips finished cases and redoes the others.
Audio and metadata are written under temporary names and renamed, so a
killed run or worker leaves no half file under a final name. With a Dask
scheduler, OUT/ must be a folder every worker sees at the same path.
"""

import concurrent.futures
import glob
import itertools
import json
import math
import os
import random

from ._files import temporary_beside, write_replacing
from .design import catalogue
from .errors import ZmError
from .render import analyze, read_audio, render_file

SHAPES = ("shoebox", "l-shape")
FIGURES = ("t20", "t30", "c50", "d50")
TABLE = "metadata.jsonl"
# The engine's seeds run from 0 to 932541999.
SEED_LIMIT = 932541999
DEFAULTS = {
    "room": {"shape": "shoebox", "width": 6.0, "depth": 4.0, "material": "plaster-painted",
             "scattering": 0.1},
    "render": {"rayCount": 5000, "impulseLength": 1.0, "sampleRate": 48000},
    "placement": {"margin": 0.5, "spacing": 1.0},
}


class SpecError(ValueError):
    """A dataset spec that cannot be used; the message names the key."""


def _is_range(value):
    return isinstance(value, dict) and set(value) == {"min", "max"}


def _is_choice(value):
    return isinstance(value, dict) and set(value) == {"choice"}


def load_spec(spec):
    """The spec as a dict (from a dict or a JSON file), checked and with its
    defaults filled in."""
    if not isinstance(spec, dict):
        with open(spec, encoding="utf-8") as file:
            spec = json.load(file)
    unknown = set(spec) - {"seed", "count", "room", "source", "receiver", "render", "placement"}
    if unknown:
        raise SpecError(f"unknown key {sorted(unknown)[0]!r}")
    full = {"seed": spec.get("seed", 0), "count": spec.get("count", 1)}
    if not isinstance(full["seed"], int) or not isinstance(full["count"], int) \
            or full["count"] < 1:
        raise SpecError("seed and count must be whole numbers, count at least 1")
    for section, defaults in DEFAULTS.items():
        given = spec.get(section, {})
        extra = set(given) - set(defaults)
        if extra:
            raise SpecError(f"{section}.{sorted(extra)[0]}: unknown key")
        full[section] = {**defaults, **given}
    for section in ("source", "receiver"):
        given = spec.get(section)
        if given is not None and not (isinstance(given, dict) and set(given) == {"x", "y"}):
            raise SpecError(f"{section}: expected {{\"x\": ..., \"y\": ...}} in metres")
        full[section] = given
    for key, value in _parameters(full).items():
        values = value if isinstance(value, list) else \
            value["choice"] if _is_choice(value) else [value]
        if _is_range(value) and not value["min"] <= value["max"]:
            raise SpecError(f"{key}: min is above max")
        if key == "room.shape" and any(v not in SHAPES for v in values):
            raise SpecError(f"room.shape: expected one of {', '.join(SHAPES)}")
        if key == "room.material":
            known = {entry["id"] for entry in catalogue()}
            for v in values:
                if v not in known:
                    raise SpecError(f"room.material: {v!r} is not in the catalogue "
                                    "(zm.catalogue() lists it)")
    return full


def _parameters(spec):
    return {f"{section}.{key}": value for section in ("room", "render")
            for key, value in sorted(spec[section].items())}


def cases(spec):
    """Every case of the spec, in order: dicts of concrete parameters."""
    spec = load_spec(spec)
    parameters = _parameters(spec)
    swept = [key for key, value in parameters.items() if isinstance(value, list)]
    result = []
    for combination in itertools.product(*(parameters[key] for key in swept)):
        for _ in range(spec["count"]):
            index = len(result)
            rng = random.Random(f"zm-dataset:{spec['seed']}:{index}")
            case = {"case": f"case-{index:06d}"}
            for key, value in parameters.items():
                if key in swept:
                    value = combination[swept.index(key)]
                elif _is_range(value):
                    value = round(rng.uniform(value["min"], value["max"]), 3)
                elif _is_choice(value):
                    value = rng.choice(value["choice"])
                case[key.split(".", 1)[1]] = value
            _place(case, spec, rng)
            case["seed"] = rng.randrange(1, SEED_LIMIT)
            result.append(case)
    return result


def _inside(case, x, y, margin):
    width, depth = case["width"], case["depth"]
    if not (margin <= x <= width - margin and margin <= y <= depth - margin):
        return False
    # The L takes away the far quarter of the rectangle.
    return case["shape"] != "l-shape" or x <= width / 2 - margin or y <= depth / 2 - margin


def _place(case, spec, rng):
    margin, spacing = spec["placement"]["margin"], spec["placement"]["spacing"]
    for attempt in range(10000):
        spots = {}
        for role in ("source", "receiver"):
            fixed = spec[role]
            x, y = (fixed["x"], fixed["y"]) if fixed else \
                (round(rng.uniform(0, case["width"]), 3), round(rng.uniform(0, case["depth"]), 3))
            spots[role] = (x, y)
        apart = math.dist(spots["source"], spots["receiver"]) >= spacing
        if apart and all(_inside(case, x, y, margin) for x, y in spots.values()):
            for role, (x, y) in spots.items():
                case[f"{role}_x"], case[f"{role}_y"] = x, y
            return
    raise SpecError(f"{case['case']}: no room for source and receiver "
                    f"({case['width']} x {case['depth']} m, margin {margin}, spacing {spacing})")


def design_of(case):
    """The design (tool JSON form) of one case."""
    width, depth = case["width"], case["depth"]
    if case["shape"] == "l-shape":
        corners = [(0, 0), (width, 0), (width, depth / 2), (width / 2, depth / 2),
                   (width / 2, depth), (0, depth)]
    else:
        corners = [(0, 0), (width, 0), (width, depth), (0, depth)]
    walls = [{"from": list(corners[i]), "to": list(corners[(i + 1) % len(corners)]),
              "material": "Walls"} for i in range(len(corners))]
    x, y = case["receiver_x"], case["receiver_y"]
    # An omnidirectional 30 cm microphone line that rays pass through.
    walls.append({"from": [x, y - 0.15], "to": [x, y + 0.15], "material": "Microphone",
                  "passThrough": True, "receiver": True})
    return {
        "format": "zm-design",
        "title": case["case"],
        "options": {"impulseLength": case["impulseLength"], "sampleRate": case["sampleRate"],
                    "bitsPerSample": 32, "windowType": 3, "filterLength": 32,
                    "randomSeed": case["seed"]},
        "materials": [
            {"name": "Walls", "catalogue": case["material"], "scattering": case["scattering"]},
            {"name": "Microphone", "reflection": 1.0, "bandFactors": 1.0}],
        "walls": walls,
        "emitters": [{"at": [case["source_x"], case["source_y"]], "directionDeg": 0, "spreadDeg": 360,
                      "rayCount": case["rayCount"]}],
    }


def _figures(report):
    row = {}
    for band in report["channels"][0]["bands"]:
        label = "broadband" if band["centreHz"] is None else f"{band['centreHz']:g}"
        for figure in FIGURES:
            row[f"{figure}_{label}"] = band.get(figure)
    return row


def run_case(out_dir, case):
    """Renders and analyses one case into `out_dir` unless it is finished;
    returns its metadata row. Safe to run twice at once or after a crash:
    every file appears whole under its final name, with the same bytes."""
    name = case["case"]
    sidecar = os.path.join(out_dir, name + ".json")
    if os.path.exists(sidecar):
        with open(sidecar, encoding="utf-8") as file:
            return json.load(file)
    audio = os.path.join(out_dir, name + ".wav")
    temporary = temporary_beside(audio)
    try:
        # The rooms are built here, closed and valid: no probe rays needed.
        render_file(design_of(case), temporary, check=False)
        samples, fs = read_audio(temporary)
        os.replace(temporary, audio)
    except ZmError as e:
        raise ZmError(f"{name}: {e}") from None
    finally:
        if os.path.exists(temporary):
            os.remove(temporary)
    row = {**case, "file": name + ".wav", **_figures(analyze(samples[:, :1], fs))}
    write_replacing(sidecar, json.dumps(row, sort_keys=True) + "\n")
    return row


def _single_threaded_engine():
    # One case per core already keeps every core busy.
    os.environ.setdefault("ZM_THREADS", "1")


def _run_local(out_dir, pending, workers, done):
    with concurrent.futures.ProcessPoolExecutor(
            max_workers=workers or os.cpu_count(), initializer=_single_threaded_engine) as pool:
        futures = [pool.submit(run_case, out_dir, case) for case in pending]
        for future in concurrent.futures.as_completed(futures):
            future.result()
            done()


def _run_dask(out_dir, pending, scheduler, done):
    from distributed import Client, as_completed
    client = scheduler if isinstance(scheduler, Client) else Client(scheduler)
    try:
        # Named by case: a rerun or a resubmission is the same task.
        futures = client.map(run_case, [out_dir] * len(pending), pending,
                             key=[f"zm-dataset-{out_dir}-{c['case']}" for c in pending],
                             pure=False)
        for future in as_completed(futures):
            future.result()
            done()
    finally:
        if client is not scheduler:
            client.close()


def generate(spec, out_dir, scheduler=None, workers=None, progress=True):
    """Makes every unfinished case of `spec` (a dict or a JSON file) in
    `out_dir`, then the table; returns the table's path. `scheduler`: None
    for a local process pool of `workers` processes (default: one per core),
    a Dask scheduler address ("tcp://host:8786") or a distributed.Client."""
    spec = load_spec(spec)
    all_cases = cases(spec)
    out_dir = os.path.abspath(os.fspath(out_dir))
    os.makedirs(out_dir, exist_ok=True)
    spec_path = os.path.join(out_dir, "spec.json")
    spec_text = json.dumps(spec, indent=2, sort_keys=True) + "\n"
    if os.path.exists(spec_path):
        with open(spec_path, encoding="utf-8") as file:
            if file.read() != spec_text:
                raise SpecError(f"{out_dir} holds a dataset of another spec")
    else:
        write_replacing(spec_path, spec_text)
    _remove_leftovers(out_dir)
    pending = [c for c in all_cases
               if not os.path.exists(os.path.join(out_dir, c["case"] + ".json"))]
    bar = None
    if progress:
        from tqdm import tqdm
        bar = tqdm(total=len(all_cases), initial=len(all_cases) - len(pending), unit="case")
    done = bar.update if bar else (lambda: None)
    try:
        if pending and scheduler is None:
            _run_local(out_dir, pending, workers, done)
        elif pending:
            _run_dask(out_dir, pending, scheduler, done)
    finally:
        if bar:
            bar.close()
    _remove_leftovers(out_dir)
    return write_table(out_dir, all_cases)


def _remove_leftovers(out_dir):
    """Temporary files of killed runs or workers, ours and the ones the
    engine writes beside them (none is being written while no case runs)."""
    for path in glob.glob(os.path.join(out_dir, ".*.part*")):
        os.remove(path)


def write_table(out_dir, all_cases):
    """metadata.jsonl from the cases' metadata files, in case order: one row
    per case, whatever happened on the way."""
    lines = []
    for case in all_cases:
        with open(os.path.join(out_dir, case["case"] + ".json"), encoding="utf-8") as file:
            lines.append(file.read().strip())
    path = os.path.join(out_dir, TABLE)
    write_replacing(path, "\n".join(lines) + "\n")
    return path
