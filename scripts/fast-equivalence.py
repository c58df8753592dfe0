#!/usr/bin/python3
"""Is fast mode the same room as the exact path? Renders each reference design
with many seeds in both modes and compares, per octave band from 125 Hz to
4 kHz, the room parameters of `zm analyze` (EDT, T20, T30, C50, C80, D50) and
the mean energy decay curve; then renders the rooms with a height whose 3D
reverberation time is known and compares fast mode's T30 with it.

    ZM_LIBRARY_PATH=build/release/src:build/release/tools PYTHONPATH=python \\
        /usr/bin/python3 scripts/fast-equivalence.py [--seeds 20] [--designs A,B,...]
        [--no-3d] [--docs docs]

The designs: A, B and C (the speed workloads: bench/speed_workloads.cpp) and
the three examples. With --docs the tables are written into
DOCS/fast-mode.md between their markers and the decay curves into
DOCS/fast-mode-decay.svg. Exits 1 when a figure is outside its bound, 0
otherwise.
"""

import argparse
import json
import math
import os
import sys

import numpy as np

import zm

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.dirname(HERE)
BANDS = (125, 250, 500, 1000, 2000, 4000)
FIGURES = ("edt", "t20", "t30", "c50", "c80", "d50")
# How far fast mode's mean may lie from the exact mean: reverberation times
# relative, clarity in dB, definition in percentage points.
BOUNDS = {"edt": ("relative", 0.03), "t20": ("relative", 0.03), "t30": ("relative", 0.03),
          "c50": ("absolute", 0.5), "c80": ("absolute", 0.5), "d50": ("absolute", 2.0)}
SPREAD = (0.7, 1.4)  # the seed-to-seed standard deviations' ratio, fast / exact
DECAY_BOUND_DB = 0.5  # mean decay curves, down to DECAY_FLOOR_DB
DECAY_FLOOR_DB = -30.0
DECAY_STEP_S = 0.002  # the curves are kept on this grid
FIRST_SEED = 1001
HEIGHT_BOUND = 0.10  # fast mode's T30 against the 3D tracer, relative


def _workload_options(length):
    return {"impulseLength": length, "minAmplitude": 1e-4, "sampleRate": 44100,
            "bitsPerSample": 32, "filterLength": 32, "airAttenuation": 1.0,
            "coordinateScale": 1.0, "randomSeed": 4711, "subArrivals": 8, "stereoWidth": 1.0,
            "trimToDirect": True, "directSoundLevel": 1, "fixedGainDb": -48.0,
            "defaultRayCount": 10000}


def _workload(title, corners, receiver, emitter, rays, scatter, length):
    # A gentle loss towards the high bands, as the speed workloads have it.
    wall = {"name": "Wall", "reflection": math.sqrt(0.8), "scatterDeg": math.degrees(scatter),
            "bandFactors": [1.0 - 0.01 * b for b in range(8)]}
    walls = [{"from": list(corners[i]), "to": list(corners[(i + 1) % len(corners)]),
              "material": "Wall"} for i in range(len(corners))]
    walls.append({"from": receiver[0], "to": receiver[1], "material": "Open",
                  "passThrough": True, "receiver": True})
    return {"format": "zm-design", "title": title, "options": _workload_options(length),
            "materials": [wall, {"name": "Open", "reflection": 1.0, "bandFactors": 1.0}],
            "walls": walls,
            "emitters": [{"at": emitter, "directionDeg": 0, "spreadDeg": 360, "rayCount": rays,
                          "randomDirections": True, "level": 1.0}]}


def _star():
    corners = []
    for i in range(140):
        a = 2 * math.pi * i / 140
        r = 9.0 * (1.0 + 0.25 * math.sin(5 * a) + 0.04 * ((i * 7919) % 11 - 5) / 5.0)
        corners.append((r * math.cos(a), r * math.sin(a)))
    return corners


def reference_designs():
    """{name: design as JSON dict}: the speed workloads A, B, C and the
    examples, every one writing 32-bit float (no dither in the figures)."""
    box = [(0, 0), (20, 0), (20, 15), (0, 15)]
    designs = {
        "A": _workload("Workload A", box, ([14, 8.5], [14, 9.5]), [5, 7], 100000, 0.1, 2.0),
        "B": _workload("Workload B", box, ([14, 8.5], [14, 9.5]), [5, 7], 100000, 0.0, 2.0),
        "C": _workload("Workload C", _star(), ([2.5, -0.5], [2.5, 0.5]), [-3, 1], 20000, 0.1,
                       1.0),
    }
    folder = os.path.join(SOURCE, "examples")
    for name in sorted(os.listdir(folder)):
        if name.endswith(".json"):
            with open(os.path.join(folder, name), encoding="utf-8") as file:
                design = json.load(file)
            design.pop("description", None)
            design["options"]["bitsPerSample"] = 32
            designs[name[:-5]] = design
    return designs


def decay_curve(channel, fs):
    """Schroeder's backward integral in dB below the total, on the grid."""
    energy = np.cumsum(np.asarray(channel, dtype=np.float64)[::-1] ** 2)[::-1]
    if energy[0] <= 0:
        return np.full(1, -np.inf)
    step = max(1, int(round(DECAY_STEP_S * fs)))
    return 10 * np.log10(np.maximum(energy[::step] / energy[0], 1e-30))


def measure(design, seed, fast):
    """(figures {(band, figure): value or None}, decay curve) of one render:
    the first channel a receiver writes to."""
    design = json.loads(json.dumps(design))
    design["options"]["randomSeed"] = seed
    result = zm.render(design, fast=fast)
    channel = result.channels_used[0] if result.channels_used else 0
    samples = result.samples[:, channel]
    report = zm.analyze(samples, result.fs)
    figures = {}
    for band in report["channels"][0]["bands"]:
        if band["centreHz"] in BANDS:
            for figure in FIGURES:
                figures[(int(band["centreHz"]), figure)] = band.get(figure)
    return figures, decay_curve(samples, result.fs)


def _mean_sd(values):
    values = [v for v in values if v is not None and math.isfinite(v)]
    if not values:
        return None, None, 0
    sd = float(np.std(values, ddof=1)) if len(values) > 1 else 0.0
    return float(np.mean(values)), sd, len(values)


def _mean_curve(curves):
    length = min(len(c) for c in curves)
    return np.mean([c[:length] for c in curves], axis=0)


# The control: the exact path again, with seeds this far from the study's.
# How often it lands outside the bounds is what chance alone gives with
# this many seeds, the yardstick for fast mode's count.
CONTROL_SEED_OFFSET = 10000


def study(design, seeds, progress=None, control=False):
    """Both modes over `seeds`, and with `control` the exact path over other
    seeds: {"rows": [...], "exactCurve", "fastCurve"[, "controlCurve"]}."""
    plans = {"exact": (False, seeds), "fast": (True, seeds)}
    if control:
        plans["control"] = (False, [seed + CONTROL_SEED_OFFSET for seed in seeds])
    runs = {}
    for key, (fast, run_seeds) in plans.items():
        runs[key] = [measure(design, seed, fast) for seed in run_seeds]
        if progress:
            progress(key)
    rows = []
    for band in BANDS:
        for figure in FIGURES:
            row = {"band": band, "figure": figure}
            for key in runs:
                row[key] = _mean_sd([r[0].get((band, figure)) for r in runs[key]])
            rows.append(row)
    result = {"rows": rows, "seeds": len(seeds)}
    for key in runs:
        result[key + "Curve"] = _mean_curve([r[1] for r in runs[key]])
    return result


def judge(result, bounds=BOUNDS, spread=SPREAD, decay_db=DECAY_BOUND_DB, noise=0.0,
          against="fast"):
    """Marks each row ("difference", "ok", "why") and returns the failures as
    text. A figure that neither mode could measure is not judged. `noise` > 0
    widens each bound to that many standard errors of the difference of the
    means, for studies of too few seeds to meet the bounds by chance.
    `against` "control" judges the control instead of fast mode, leaving the
    rows' marks alone."""
    failures = []
    for original in result["rows"]:
        row = original if against == "fast" else dict(original)
        (em, esd, en), (fm, fsd, fn) = row["exact"], row[against]
        row["ok"], row["why"] = True, ""
        row["difference"] = None
        # A figure near the analysis' limits (a decay that barely clears the
        # noise floor) is measured in some renders and not in others; only
        # one that a mode keeps measuring and the other loses tells.
        half = result["seeds"] / 2
        if en < half or fn < half:
            if (en == 0) != (fn == 0) and max(en, fn) >= half:
                row["ok"], row["why"] = False, f"measured in {en} exact and {fn} fast renders"
        else:
            kind, limit = bounds[row["figure"]]
            difference = (fm / em - 1) if kind == "relative" else fm - em
            row["difference"] = difference
            error = math.sqrt((esd ** 2 + fsd ** 2) / en)
            limit = max(limit, noise * (error / abs(em) if kind == "relative" else error))
            if abs(difference) > limit:
                row["ok"], row["why"] = False, "mean"
            elif en > 2 and not (esd == 0 == fsd) and \
                    not (esd > 0 and spread[0] <= fsd / esd <= spread[1]):
                row["ok"], row["why"] = False, "spread"
        if not row["ok"]:
            failures.append(f"{row['band']} Hz {row['figure']}: {row['why']}")
    exact, fast = result["exactCurve"], result[against + "Curve"]
    length = min(len(exact), len(fast))
    inside = exact[:length] >= DECAY_FLOOR_DB
    gap = float(np.max(np.abs(fast[:length][inside] - exact[:length][inside]))) \
        if inside.any() else 0.0
    result["decayGapDb" if against == "fast" else "controlDecayGapDb"] = gap
    if gap > decay_db:
        failures.append(f"mean decay curve: {gap:.2f} dB apart above {DECAY_FLOOR_DB:g} dB")
    return failures


# The rooms with a height whose T30 a 3D ray tracer measured
# (room L x W x H in metres, walls, floor and ceiling alpha, scattering,
# the tracer's broadband T30 in seconds).
HEIGHT_ROOMS = [((10, 6, 3), 0.2, 0.2, 0.2, 0.5, 0.607),
                ((4, 3, 2.5), 0.1, 0.3, 0.6, 0.3, 0.385),
                ((30, 20, 10), 0.05, 0.2, 0.1, 0.5, 3.646),
                ((7, 5, 2.7), 0.05, 0.25, 0.7, 0.2, 0.662),
                ((10, 6, 3), 0.4, 0.4, 0.4, 0.5, 0.283)]


def height_design(size, walls, floor, ceiling, scattering, t30):
    """A shoebox with a height as docs/height.md measures it: a 360 degree
    emitter of 20 000 rays at (0.30 L, 0.35 W), a 1 m pass-through receiver
    at (0.70 L, 0.60 W), every face given by its absorption."""
    length, width, height = size
    corners = [(0, 0), (length, 0), (length, width), (0, width)]
    x, y = 0.70 * length, 0.60 * width

    def surface(alpha):
        return {"absorption": [alpha] * 6, "scattering": scattering}
    return {"format": "zm-design", "height": height, "floor": surface(floor),
            "ceiling": surface(ceiling),
            "options": {"impulseLength": round(max(1.0, 2.0 * t30), 3), "minAmplitude": 1e-4,
                        "sampleRate": 48000, "bitsPerSample": 32, "airAttenuation": 1.0,
                        "subArrivals": 8, "trimToDirect": True},
            "materials": [{"name": "Walls", **surface(walls)},
                          {"name": "Open", "reflection": 1.0, "bandFactors": 1.0}],
            "walls": [{"from": list(corners[i]), "to": list(corners[(i + 1) % 4]),
                       "material": "Walls"} for i in range(4)] +
                     [{"from": [x, y - 0.5], "to": [x, y + 0.5], "material": "Open",
                       "passThrough": True, "receiver": True}],
            "emitters": [{"at": [0.30 * length, 0.35 * width], "directionDeg": 0, "spreadDeg": 360,
                          "rayCount": 20000}]}


def height_study(seeds):
    """Per room: fast mode's T30 at 500 Hz, 1 and 2 kHz (mean over seeds)
    against the 3D tracer's."""
    rows = []
    for size, walls, floor, ceiling, scattering, tracer in HEIGHT_ROOMS:
        design = height_design(size, walls, floor, ceiling, scattering, tracer)
        per_band = {band: [] for band in (500, 1000, 2000)}
        for seed in seeds:
            figures, _ = measure(design, seed, fast=True)
            for band in per_band:
                per_band[band].append(figures.get((band, "t30")))
        means = {band: _mean_sd(values)[0] for band, values in per_band.items()}
        known = [m for m in means.values() if m is not None]
        mean = sum(known) / len(known) if known else None
        rows.append({"room": size, "walls": walls, "floor": floor, "ceiling": ceiling,
                     "scattering": scattering, "tracer": tracer, "bands": means, "mean": mean,
                     "ok": mean is not None and abs(mean / tracer - 1) <= HEIGHT_BOUND})
    return rows


def _value(mean, sd, figure):
    if mean is None:
        return "–"
    digits = 3 if figure in ("edt", "t20", "t30") else 2 if figure in ("c50", "c80") else 1
    return f"{mean:.{digits}f} ± {sd:.{digits}f}"


def _difference(row):
    if row["difference"] is None:
        return "–"
    kind, _ = BOUNDS[row["figure"]]
    text = f"{100 * row['difference']:+.1f} %" if kind == "relative" else \
        f"{row['difference']:+.2f}"
    return text if row["ok"] else f"**{text}** ({row['why']})"


def equivalence_table(results, seeds):
    lines = [f"{len(seeds)} seeds per design and mode. Differences: reverberation times "
             "relative to the exact mean, C50 and C80 in dB, D50 in percentage points; "
             "a bold difference is outside its bound (mean, or the spread's ratio).", "",
             "| design | band | figure | exact mean ± sd | fast mean ± sd | difference |",
             "|---|---|---|---|---|---|"]
    for name, result in results.items():
        for row in result["rows"]:
            lines.append(f"| {name} | {row['band']} Hz | {row['figure'].upper()} | "
                         f"{_value(*row['exact'][:2], row['figure'])} | "
                         f"{_value(*row['fast'][:2], row['figure'])} | {_difference(row)} |")
    lines += ["", "| design | mean decay curves, largest gap above −30 dB |", "|---|---|"]
    lines += [f"| {name} | {r['decayGapDb']:.2f} dB |" for name, r in results.items()]
    return "\n".join(lines)


def control_summary(results, failures, chance):
    """Per design, how many judgements fast mode fails against how many the
    exact path with other seeds fails: what the bounds give by chance."""
    lines = ["Outside the bounds, per design: fast mode against the exact path with "
             f"seeds {CONTROL_SEED_OFFSET} further on (chance alone).", "",
             "| design | judgements | fast mode | exact, other seeds | decay curve gap, fast "
             "| decay curve gap, other seeds |", "|---|---|---|---|---|---|"]
    for name, result in results.items():
        count = len(result["rows"]) + 1
        fast = sum(f.startswith(name + ":") for f in failures)
        other = sum(f.startswith(name + ":") for f in chance)
        lines.append(f"| {name} | {count} | {fast} | {other} | {result['decayGapDb']:.2f} dB "
                     f"| {result['controlDecayGapDb']:.2f} dB |")
    return "\n".join(lines)


def height_table(rows, seeds):
    lines = [f"Fast mode, {len(seeds)} seeds; T30 in seconds.", "",
             "| room (m) | walls α | floor α | ceiling α | s | 3D tracer | fast 500 Hz | 1 kHz "
             "| 2 kHz | mean | vs tracer |", "|---|---|---|---|---|---|---|---|---|---|---|"]
    for r in rows:
        bands = " | ".join("–" if r["bands"][b] is None else f"{r['bands'][b]:.3f}"
                           for b in (500, 1000, 2000))
        mean = "–" if r["mean"] is None else f"{r['mean']:.3f}"
        versus = "–" if r["mean"] is None else f"{100 * (r['mean'] / r['tracer'] - 1):+.0f} %"
        room = " × ".join(f"{v:g}" for v in r["room"])
        lines.append(f"| {room} | {r['walls']:g} | {r['floor']:g} | {r['ceiling']:g} | "
                     f"{r['scattering']:g} | {r['tracer']:.3f} | {bands} | {mean} | "
                     f"{versus if r['ok'] else '**' + versus + '**'} |")
    return "\n".join(lines)


def replace_between(path, name, text):
    """Replaces what lies between <!-- NAME --> and <!-- /NAME --> in `path`."""
    with open(path, encoding="utf-8") as file:
        document = file.read()
    start, end = f"<!-- {name} -->", f"<!-- /{name} -->"
    if start not in document or end not in document:
        raise SystemExit(f"{path}: no {start} ... {end} markers")
    head, rest = document.split(start, 1)
    _, tail = rest.split(end, 1)
    with open(path, "w", encoding="utf-8") as file:
        file.write(f"{head}{start}\n{text}\n{end}{tail}")


def plot_curves(results, path):
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
    count = len(results)
    columns = 3
    rows = (count + columns - 1) // columns
    figure, axes = plt.subplots(rows, columns, figsize=(4 * columns, 3 * rows), squeeze=False)
    for axis in axes.flat[count:]:
        axis.set_visible(False)
    for axis, (name, result) in zip(axes.flat, results.items()):
        for key, label, style in (("exactCurve", "exact", "-"), ("fastCurve", "fast", "--")):
            curve = result[key]
            axis.plot(np.arange(len(curve)) * DECAY_STEP_S, curve, style, label=label)
        axis.set_ylim(-60, 1)
        axis.axhline(DECAY_FLOOR_DB, color="grey", linewidth=0.5)
        axis.set_title(name)
        axis.set_xlabel("s")
        axis.set_ylabel("dB")
        axis.legend()
    figure.tight_layout()
    figure.savefig(path)


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--seeds", type=int, default=20)
    parser.add_argument("--designs", help="comma-separated names (default: all)")
    parser.add_argument("--no-3d", action="store_true", help="skip the rooms with a height")
    parser.add_argument("--height-seeds", type=int, default=3)
    parser.add_argument("--docs", help="the docs folder to write the tables and plot into")
    parser.add_argument("--control", action="store_true",
                        help="also hold the exact path with other seeds to the same bounds")
    args = parser.parse_args(argv)
    designs = reference_designs()
    if args.designs:
        wanted = args.designs.split(",")
        unknown = [n for n in wanted if n not in designs]
        if unknown:
            parser.error(f"unknown design {unknown[0]}; known: {', '.join(designs)}")
        designs = {n: designs[n] for n in wanted}
    seeds = [FIRST_SEED + i for i in range(args.seeds)]
    results, failures = {}, []
    chance = []
    for name, design in designs.items():
        print(f"{name}: {len(seeds)} seeds, exact and fast", file=sys.stderr, flush=True)
        results[name] = study(design, seeds, control=args.control)
        failures += [f"{name}: {f}" for f in judge(results[name])]
        if args.control:
            chance += [f"{name}: {f}" for f in judge(results[name], against="control")]
    print(equivalence_table(results, seeds))
    if args.control:
        print()
        print(control_summary(results, failures, chance))
    height_rows = []
    if not args.no_3d:
        height_seeds = [FIRST_SEED + i for i in range(args.height_seeds)]
        print("rooms with a height, fast mode", file=sys.stderr, flush=True)
        height_rows = height_study(height_seeds)
        print()
        print(height_table(height_rows, height_seeds))
        failures += [f"3D room {'x'.join(map(str, r['room']))}: T30 off the tracer's"
                     for r in height_rows if not r["ok"]]
    if args.docs:
        page = os.path.join(args.docs, "fast-mode.md")
        table = equivalence_table(results, seeds)
        if args.control:
            table += "\n\n" + control_summary(results, failures, chance)
        replace_between(page, "equivalence-table", table)
        plot_curves(results, os.path.join(args.docs, "fast-mode-decay.svg"))
        if height_rows:
            replace_between(page, "height-table", height_table(height_rows, height_seeds))
    for failure in failures:
        print(f"outside the bounds: {failure}", file=sys.stderr)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
