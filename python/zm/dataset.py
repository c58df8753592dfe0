"""Datasets of many rooms: one small room-set description -> one WAVE file
per case and one metadata table.

The description (JSON) says which rooms to make. Each parameter under
"room" and "render" is a single value, a list (swept: every combination of
the lists is taken) or {"min": a, "max": b} (drawn uniformly per case);
{"choice": [...]} draws one of the values per case. "count" cases are made
for every combination of the swept lists.

    {
      "seed": 7,
      "count": 10,
      "room": {"shape": ["shoebox", "l-shape"], "width": {"min": 4, "max": 12},
               "depth": {"min": 3, "max": 9},
               "material": {"choice": ["plaster-painted", "brick-unglazed"]},
               "scattering": 0.1},
      "render": {"rayCount": 5000, "sampleRate": 16000}
    }

Materials are ids of the tool's catalogue. "height" (metres) with "floor"
and "ceiling" (catalogue ids) extrude the plan between a floor and a ceiling
(docs/height.md); without them a room is a plan alone, whose sound never
meets a floor or ceiling and rings far longer than a real room. Instead of a material, "room"
may give "t60", the reverberation time (s, at 1 kHz) the walls are to have:
their flat absorption is then solved from the tool's diffuse-field estimate
by the inverse Eyring formula, and a case that would need an absorption
outside 0 to 1 is refused. Source and receiver are drawn inside the room
(at least "margin" metres from the walls and "spacing" from each other)
unless "source"/"receiver" give "x" and "y" in metres. Every case has its
own random stream, derived from the description's seed and the case number
only, so the same description gives the same cases and the same bytes in
any order, on any number of workers.

"fast" (true by default) renders every case in fast mode: the same room
statistically as the exact path, many times quicker, and a room with a
height traced in 3D between floor and ceiling (docs/fast-mode.md); false
renders through the exact path. Every row records its "mode". A folder
keeps the mode it was made in: resuming it in the other is refused.

"render": "sampleRate" (from 8000 Hz; the engine renders at 44 100 Hz or
more and the file is resampled to the rate asked), "impulseLength" (seconds,
or "auto": 1.2 times the slowest band's estimated T60 plus the direct
sound's travel time, at most MAX_IMPULSE_LENGTH), "directSound" ("physical":
the level at which the direct sound's ratio to the reflections is the
physical one, as `zm render --physical-direct` picks it; "design": the
design's level 1) and "rayCount".

In OUT/: case-000000.wav (32-bit float, one channel per receiver),
case-000000.json (the case's metadata row, written last), metadata.jsonl
(one row per case, built from those files), rooms.json (the description
the folder was made from; another one is refused) and .lock (held while a
run uses the folder; a second run into it is refused). A row holds the
case's parameters, what was chosen for it (impulse length, direct level and
each receiver's remaining error in dB) and T20, T30, C50 and D50 per band of
the first receiver; every value that is missing has its reason under
"reasons". A case counts as finished when its metadata file exists: a rerun
skips finished cases and redoes the others. Audio and metadata are written
under temporary names and renamed, so a killed run or worker leaves no half
file under a final name. With a Dask scheduler, OUT/ must be a folder every
worker sees at the same path.
"""

import concurrent.futures
import ctypes
import glob
import itertools
import json
import math
import os
import random
import signal
import threading

import numpy as np

from ._calls import tool_call, tool_text
from ._files import temporary_beside, write_replacing
from ._library import libraries
from .design import Design, catalogue
from .errors import ZmError
from .render import analyze, read_audio, render_file

SHAPES = ("shoebox", "l-shape")
FIGURES = ("t20", "t30", "c50", "d50")
TABLE = "metadata.jsonl"
DESCRIPTION = "rooms.json"
# What earlier versions called the stored description; such folders resume.
OLD_DESCRIPTION = "spec.json"
LOCK = ".lock"
# The engine's seeds run from 0 to 932541999.
SEED_LIMIT = 932541999
LOWEST_SAMPLE_RATE = 8000
# "auto" impulse lengths stop here: a room of painted plaster can ring for
# tens of seconds in a plan without floor and ceiling, which no dataset
# wants to store. A capped row says so.
MAX_IMPULSE_LENGTH = 10.0
# The T60 of "auto" times this, so that T30 (a 35 dB decay measured 10 dB
# above the end of the file) fits inside.
IMPULSE_MARGIN = 1.2
# The band whose reverberation time a "t60" target sets.
T60_BAND_HZ = 1000
SPEED_OF_SOUND = 344.0  # m/s, as the engine has it
DIRECT_SOUND = ("physical", "design")
DEFAULTS = {
    "room": {"shape": "shoebox", "width": 6.0, "depth": 4.0, "material": "plaster-painted",
             "scattering": 0.1, "t60": None, "height": None, "floor": None, "ceiling": None},
    "render": {"rayCount": 5000, "impulseLength": "auto", "sampleRate": 48000,
               "directSound": "physical"},
    "placement": {"margin": 0.5, "spacing": 1.0},
}


class RoomsError(ValueError):
    """A room-set description that cannot be used; the message names the key."""


class FolderInUse(ZmError):
    """Another run is making a dataset in the same folder."""


def _is_range(value):
    return isinstance(value, dict) and set(value) == {"min", "max"}


def _is_choice(value):
    return isinstance(value, dict) and set(value) == {"choice"}


def _values(value):
    """The values a parameter can take (a range by its ends)."""
    if isinstance(value, list):
        return value
    if _is_choice(value):
        return value["choice"]
    if _is_range(value):
        return [value["min"], value["max"]]
    return [value]


def _number(v):
    return isinstance(v, (int, float)) and not isinstance(v, bool)


def _check_values(key, values, value):
    if _is_range(value) and not value["min"] <= value["max"]:
        raise RoomsError(f"{key}: min is above max")
    if key == "room.shape" and any(v not in SHAPES for v in values):
        raise RoomsError(f"room.shape: expected one of {', '.join(SHAPES)}")
    if key in ("room.material", "room.floor", "room.ceiling"):
        known = {entry["id"] for entry in catalogue()}
        for v in values:
            if v not in known:
                raise RoomsError(f"{key}: {v!r} is not in the catalogue "
                                 "(zm.catalogue() lists it)")
    if key == "room.height" and not all(_number(v) and v > 0 for v in values):
        raise RoomsError("room.height: expected metres above 0")
    if key == "room.t60" and not all(_number(v) and v > 0 for v in values):
        raise RoomsError("room.t60: expected seconds above 0")
    if key == "render.sampleRate" and (_is_range(value) or not all(
            isinstance(v, int) and v >= LOWEST_SAMPLE_RATE for v in values)):
        raise RoomsError(f"render.sampleRate: expected whole numbers of Hz from "
                         f"{LOWEST_SAMPLE_RATE} (a fixed value, a list or a choice)")
    if key == "render.impulseLength" and not all(
            v == "auto" or (_number(v) and v > 0) for v in values):
        raise RoomsError("render.impulseLength: expected \"auto\" or seconds above 0")
    if key == "render.directSound" and any(v not in DIRECT_SOUND for v in values):
        raise RoomsError(f"render.directSound: expected one of {', '.join(DIRECT_SOUND)}")


def load_rooms(rooms):
    """The room-set description as a dict (from a dict or a JSON file),
    checked and with its defaults filled in."""
    if not isinstance(rooms, dict):
        with open(rooms, encoding="utf-8") as file:
            rooms = json.load(file)
    unknown = set(rooms) - {"seed", "count", "fast", "room", "source", "receiver", "render",
                            "placement"}
    if unknown:
        raise RoomsError(f"unknown key {sorted(unknown)[0]!r}")
    full = {"seed": rooms.get("seed", 0), "count": rooms.get("count", 1),
            "fast": rooms.get("fast", True)}
    if not isinstance(full["fast"], bool):
        raise RoomsError("fast: expected true (fast mode, the default) or false (the exact path)")
    if not isinstance(full["seed"], int) or not isinstance(full["count"], int) \
            or full["count"] < 1:
        raise RoomsError("seed and count must be whole numbers, count at least 1")
    for section, defaults in DEFAULTS.items():
        given = rooms.get(section, {})
        extra = set(given) - set(defaults)
        if extra:
            raise RoomsError(f"{section}.{sorted(extra)[0]}: unknown key")
        full[section] = {key: value for key, value in {**defaults, **given}.items()
                         if value is not None}
    given_room = rooms.get("room", {})
    flats = [key for key in ("height", "floor", "ceiling") if key in given_room]
    if flats and len(flats) < 3:
        raise RoomsError("room.height, room.floor and room.ceiling: give all three (a height "
                         "in metres, floor and ceiling as catalogue ids) or none")
    if "t60" in full["room"]:
        if "material" in given_room:
            raise RoomsError("room.t60 and room.material: give one; with a t60 the walls' "
                             "absorption is solved from it")
        del full["room"]["material"]
    for section in ("source", "receiver"):
        given = rooms.get(section)
        if given is not None and not (isinstance(given, dict) and set(given) == {"x", "y"}):
            raise RoomsError(f"{section}: expected {{\"x\": ..., \"y\": ...}} in metres")
        full[section] = given
    for key, value in _parameters(full).items():
        _check_values(key, _values(value), value)
    return full


def _mode(fast):
    return "fast" if fast else "exact"


def _parameters(rooms):
    return {f"{section}.{key}": value for section in ("room", "render")
            for key, value in sorted(rooms[section].items())}


def cases(rooms):
    """Every case of the description, in order: dicts of concrete
    parameters. Raises RoomsError, naming the case, for a case that cannot
    be made."""
    rooms = load_rooms(rooms)
    parameters = _parameters(rooms)
    swept = [key for key, value in parameters.items() if isinstance(value, list)]
    result = []
    for combination in itertools.product(*(parameters[key] for key in swept)):
        for _ in range(rooms["count"]):
            index = len(result)
            rng = random.Random(f"zm-dataset:{rooms['seed']}:{index}")
            case = {"case": f"case-{index:06d}", "mode": _mode(rooms["fast"])}
            for key, value in parameters.items():
                if key in swept:
                    value = combination[swept.index(key)]
                elif _is_range(value):
                    value = round(rng.uniform(value["min"], value["max"]), 3)
                elif _is_choice(value):
                    value = rng.choice(value["choice"])
                case[key.split(".", 1)[1]] = value
            _place(case, rooms, rng)
            case["seed"] = rng.randrange(1, SEED_LIMIT)
            if "t60" in case:
                case["absorption"] = _absorption_for(case)
            result.append(case)
    return result


def _inside(case, x, y, margin):
    width, depth = case["width"], case["depth"]
    if not (margin <= x <= width - margin and margin <= y <= depth - margin):
        return False
    # The L takes away the far quarter of the rectangle.
    return case["shape"] != "l-shape" or x <= width / 2 - margin or y <= depth / 2 - margin


def _place(case, rooms, rng):
    margin, spacing = rooms["placement"]["margin"], rooms["placement"]["spacing"]
    for attempt in range(10000):
        spots = {}
        for role in ("source", "receiver"):
            fixed = rooms[role]
            x, y = (fixed["x"], fixed["y"]) if fixed else \
                (round(rng.uniform(0, case["width"]), 3), round(rng.uniform(0, case["depth"]), 3))
            spots[role] = (x, y)
        apart = math.dist(spots["source"], spots["receiver"]) >= spacing
        if apart and all(_inside(case, x, y, margin) for x, y in spots.values()):
            for role, (x, y) in spots.items():
                case[f"{role}_x"], case[f"{role}_y"] = x, y
            return
    raise RoomsError(f"{case['case']}: no room for source and receiver "
                     f"({case['width']} x {case['depth']} m, margin {margin}, spacing {spacing})")


def _walls_material(case, absorption=None):
    if absorption is None and "material" in case:
        return {"name": "Walls", "catalogue": case["material"], "scattering": case["scattering"]}
    if absorption is None:
        absorption = case["absorption"]
    # Flat over the bands, 63 Hz to 8 kHz.
    return {"name": "Walls", "absorption": [absorption] * 8, "scattering": case["scattering"]}


def design_of(case, direct_level=1, impulse_length=None, walls_absorption=None):
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
    length = case["impulseLength"] if impulse_length is None else impulse_length
    # With a height the plan is extruded between floor and ceiling (docs/height.md).
    flats = {"height": case["height"], "floor": {"catalogue": case["floor"]},
             "ceiling": {"catalogue": case["ceiling"]}} if "height" in case else {}
    return {
        "format": "zm-design",
        **flats,
        "title": case["case"],
        "options": {"impulseLength": 1.0 if length == "auto" else length,
                    "sampleRate": case["sampleRate"], "bitsPerSample": 32, "windowType": 3,
                    "filterLength": 32, "randomSeed": case["seed"],
                    "directSoundLevel": direct_level},
        "materials": [
            _walls_material(case, walls_absorption),
            {"name": "Microphone", "reflection": 1.0, "bandFactors": 1.0}],
        "walls": walls,
        "emitters": [{"at": [case["source_x"], case["source_y"]], "directionDeg": 0, "spreadDeg": 360,
                      "rayCount": case["rayCount"]}],
    }


def _estimate(document):
    """The tool's reverberation estimate of a design (see zmtool.h)."""
    design = Design.from_json(document)
    return json.loads(tool_text("zmtool_reverberation_estimate", design._buffer))


def _band(estimate, centre):
    return next(b for b in estimate["bands"] if b["centreHz"] == centre)


def _absorption_for(case):
    """The walls' flat absorption that gives the case's t60 in the tool's
    estimate: Eyring's rate hitsPerSecond * -ln(1 - mean absorption) + other
    losses, inverted. The mean over the faces is linear in the walls'
    absorption; two estimates (walls at 0 and at 0.5) give that line."""
    rate = 6 * math.log(10) / case["t60"]
    bare, half = (_estimate(design_of(case, walls_absorption=a)) for a in (0.0, 0.5))
    if not bare["available"]:
        raise RoomsError(f"{case['case']}: no reverberation estimate: {bare['reason']}")
    at_bare, at_half = _band(bare, T60_BAND_HZ), _band(half, T60_BAND_HZ)
    other = at_bare["otherLoss"]
    if other is None or rate <= other:
        raise RoomsError(
            f"{case['case']}: room.t60 {case['t60']} s cannot be reached: the air alone "
            f"ends the sound sooner (at {T60_BAND_HZ} Hz)")
    mean = 1 - math.exp(-(rate - other) / bare["hitsPerSecond"])
    share = (at_half["absorption"] - at_bare["absorption"]) / 0.5
    absorption = round((mean - at_bare["absorption"]) / share, 4)
    if not 0 <= absorption <= 1:
        raise RoomsError(
            f"{case['case']}: room.t60 {case['t60']} s needs a wall absorption of "
            f"{absorption:g} in this {case['width']} x {case['depth']} m {case['shape']}; "
            f"it must lie in 0 to 1 (choose a longer t60 or a bigger room)")
    return absorption


def _auto_impulse_length(case, estimate):
    """(seconds, the row's notes) of an "auto" impulse length."""
    travel = math.dist((case["source_x"], case["source_y"]),
                       (case["receiver_x"], case["receiver_y"])) / SPEED_OF_SOUND
    times = [t for band in estimate.get("bands", []) for t in (band["sabine"], band["eyring"])]
    if not estimate["available"] or not times or None in times:
        why = estimate.get("reason", "nothing absorbs: the estimate is infinite")
        return MAX_IMPULSE_LENGTH, {"estimatedT60": None, "impulseLengthCapped": True,
                                    "reasons": {"estimatedT60": why}}
    # Sabine's, the longer of the two, is the nearer to what a plan rings.
    slowest = max(times)
    wanted = IMPULSE_MARGIN * slowest + travel
    length = round(min(wanted, MAX_IMPULSE_LENGTH), 3)
    return length, {"estimatedT60": round(slowest, 3),
                    "impulseLengthCapped": wanted > MAX_IMPULSE_LENGTH}


def _direct_level(case, design_document):
    """(level, the row's notes) for the case's directSound."""
    design = Design.from_json(design_document)
    found = json.loads(tool_text("zmtool_direct_level", design._buffer, 0))
    physical = case["directSound"] == "physical" and found["level"] is not None
    level = found["level"] if physical else design_document["options"]["directSoundLevel"]
    errors = [round(p["errorDb"] if physical else p["designErrorDb"], 2) for p in found["pairs"]]
    notes = {"directSoundLevel": level, "directSoundErrorDb": errors or None}
    if not errors:
        # Behind a corner of the L: no direct sound, whatever the level.
        notes["reasons"] = {"directSoundErrorDb": "no receiver is reached directly; the "
                                                  "design's level is kept"}
    return level, notes


def _figures(report):
    """T20, T30, C50 and D50 per band of the first channel, and why any is
    missing."""
    row, reasons = {}, {}
    for band in report["channels"][0]["bands"]:
        label = "broadband" if band["centreHz"] is None else f"{band['centreHz']:g}"
        notes = band.get("notApplicable", {})
        for figure in FIGURES:
            key = f"{figure}_{label}"
            row[key] = band.get(figure)
            if row[key] is None:
                reasons[key] = notes.get(figure, "not measured")
    return row, reasons


def _receiver_channels(design_document, channels):
    used = sorted({w.get("channel", 0) for w in design_document["walls"] if w.get("receiver")})
    return [c for c in used if c < channels]


def _resampled(samples, from_rate, to_rate):
    samples = np.ascontiguousarray(samples, dtype=np.float64)
    pointer = ctypes.POINTER(ctypes.c_double)
    out, frames = pointer(), ctypes.c_size_t()
    tool_call("zmtool_resample", samples.ctypes.data_as(pointer), samples.shape[0],
              samples.shape[1], from_rate, to_rate, ctypes.byref(out), ctypes.byref(frames))
    try:
        count = frames.value * samples.shape[1]
        result = np.ctypeslib.as_array(out, shape=(max(count, 1),))[:count].copy()
    finally:
        libraries().tool.zmtool_free(out)
    # An impulse response keeps its level under convolution at the new rate
    # when its samples are scaled by the rate ratio (as auralisation does).
    return result.reshape(frames.value, samples.shape[1]) * (from_rate / to_rate)


def _write_audio(path, samples, rate):
    samples = np.ascontiguousarray(samples, dtype=np.float64)
    tool_call("zmtool_write_audio", os.fsencode(path),
              samples.ctypes.data_as(ctypes.POINTER(ctypes.c_double)), samples.shape[0],
              samples.shape[1], rate)


def run_case(out_dir, case):
    """Renders and analyses one case into `out_dir` unless it is finished;
    returns its metadata row. Safe to run twice at once or after a crash:
    every file appears whole under its final name, with the same bytes."""
    name = case["case"]
    sidecar = os.path.join(out_dir, name + ".json")
    if os.path.exists(sidecar):
        with open(sidecar, encoding="utf-8") as file:
            return json.load(file)
    row = dict(case)
    reasons = {}
    length = case["impulseLength"]
    if length == "auto":
        length, notes = _auto_impulse_length(case, _estimate(design_of(case)))
        reasons.update(notes.pop("reasons", {}))
        row.update(notes)
    row["impulseLength"] = length
    level, notes = _direct_level(case, design_of(case, impulse_length=length))
    reasons.update(notes.pop("reasons", {}))
    row.update(notes)
    document = design_of(case, direct_level=level, impulse_length=length)
    audio = os.path.join(out_dir, name + ".wav")
    rendered, written = temporary_beside(audio), temporary_beside(audio)
    try:
        # The rooms are built here, closed and valid: no probe rays needed.
        render_file(document, rendered, check=False, fast=case["mode"] == "fast")
        samples, fs = read_audio(rendered)
        samples = samples[:, _receiver_channels(document, samples.shape[1])]
        if fs != case["sampleRate"]:
            row["renderSampleRate"] = fs
            samples = _resampled(samples, fs, case["sampleRate"])
            fs = case["sampleRate"]
        # The figures are those of the samples as stored.
        samples = samples.astype(np.float32).astype(np.float64)
        _write_audio(written, samples, fs)
        os.replace(written, audio)
    except ZmError as e:
        raise ZmError(f"{name}: {e}") from None
    finally:
        for path in (rendered, written):
            if os.path.exists(path):
                os.remove(path)
    figures, missing = _figures(analyze(samples[:, :1], fs))
    row.update(file=name + ".wav", channels=samples.shape[1], **figures)
    row["reasons"] = {**reasons, **missing}
    write_replacing(sidecar, json.dumps(row, sort_keys=True) + "\n")
    return row


def _start_worker(parent):
    # One case per core already keeps every core busy.
    os.environ.setdefault("ZM_THREADS", "1")
    # Ctrl-C reaches the whole process group; the parent alone answers it.
    signal.signal(signal.SIGINT, signal.SIG_IGN)

    def end_with_parent():
        # A parent killed outright cannot stop its workers; they notice.
        while os.getppid() == parent:
            threading.Event().wait(0.5)
        os._exit(1)

    threading.Thread(target=end_with_parent, name="zm-parent-watch", daemon=True).start()


def _run_local(out_dir, pending, workers, done):
    pool = concurrent.futures.ProcessPoolExecutor(
        max_workers=workers or os.cpu_count(), initializer=_start_worker,
        initargs=(os.getpid(),))
    try:
        futures = [pool.submit(run_case, out_dir, case) for case in pending]
        for future in concurrent.futures.as_completed(futures):
            future.result()
            done()
    except BaseException:
        # Interrupted or failed: the cases still running are dropped (their
        # files are temporary until complete) rather than waited for.
        for process in list(getattr(pool, "_processes", {}).values()):
            process.terminate()
        pool.shutdown(wait=True, cancel_futures=True)
        _remove_leftovers(out_dir)
        raise
    pool.shutdown()


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


class _FolderLock:
    """An exclusive lock on OUT/.lock for as long as a run uses the folder:
    a second run would take the first one's temporary files for leftovers."""

    def __init__(self, out_dir):
        self.path = os.path.join(out_dir, LOCK)
        self.file = None

    def __enter__(self):
        self.file = open(self.path, "a")
        try:
            import fcntl
        except ImportError:  # no advisory locks here; runs are not guarded
            return self
        try:
            fcntl.flock(self.file, fcntl.LOCK_EX | fcntl.LOCK_NB)
        except BlockingIOError:
            self.file.close()
            raise FolderInUse(f"{os.path.dirname(self.path)} is in use by another dataset run; "
                              "wait for it to end or choose another folder") from None
        except OSError:  # a file system without locks: runs are not guarded
            pass
        return self

    def __exit__(self, *exc):
        self.file.close()


def _keep_description(out_dir, rooms):
    """Stores the description the folder is made from, or checks that a
    folder made before holds the same one."""
    text = json.dumps(rooms, indent=2, sort_keys=True) + "\n"
    path = os.path.join(out_dir, DESCRIPTION)
    old = os.path.join(out_dir, OLD_DESCRIPTION)
    stored = path if os.path.exists(path) else old if os.path.exists(old) else None
    if stored is None:
        write_replacing(path, text)
        return
    try:
        with open(stored, encoding="utf-8") as file:
            kept = json.load(file)
    except ValueError:
        kept = None
    if not isinstance(kept, dict):
        raise RoomsError(f"{out_dir} holds a {os.path.basename(stored)} that is not a room-set "
                         "description; choose another folder")
    # Folders made before fast mode existed were rendered by the exact path.
    spelt_out = "fast" in kept
    kept.setdefault("fast", False)
    if kept["fast"] != rooms["fast"]:
        made, asked = _mode(kept["fast"]), _mode(rooms["fast"])
        raise RoomsError(
            f"{out_dir} holds a dataset made in {made} mode and this run is in {asked} mode; "
            f"its cases would mix the two (set \"fast\": {json.dumps(kept['fast'])} to resume "
            "it, or choose another folder)")
    if kept != json.loads(text):
        raise RoomsError(f"{out_dir} holds a dataset of another room-set description "
                         f"({os.path.basename(stored)}); choose another folder")
    if stored == old or not spelt_out:
        # The same description under today's name, its mode spelt out.
        write_replacing(path, text)
        if stored == old:
            os.remove(old)


def generate(rooms, out_dir, scheduler=None, workers=None, progress=True):
    """Makes every unfinished case of `rooms` (a description as a dict or a
    JSON file) in `out_dir`, then the table; returns the table's path.
    `scheduler`: None for a local process pool of `workers` processes
    (default: one per core), a Dask scheduler address ("tcp://host:8786") or
    a distributed.Client. Raises FolderInUse when another run is using
    `out_dir`."""
    rooms = load_rooms(rooms)
    all_cases = cases(rooms)
    out_dir = os.path.abspath(os.fspath(out_dir))
    os.makedirs(out_dir, exist_ok=True)
    with _FolderLock(out_dir):
        _keep_description(out_dir, rooms)
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
