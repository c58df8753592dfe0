#!/usr/bin/env python3
"""End-to-end tests of the zm executable, grouped so that CTest runs each
group as one test: python3 cli_test.py --zm PATH --source DIR GROUP.

Uses the standard library only. Exit 0: passed, 1: failed, 77: skipped.
"""
import argparse
import json
import math
import os
import random
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import wave
import xml.etree.ElementTree as ElementTree

SKIP = 77
EXAMPLES = ["small-studio", "concert-hall", "irregular-plan"]


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


class Tool:
    def __init__(self, zm, source, work):
        self.zm = zm
        self.source = source
        self.work = work

    def run(self, *args, timeout=120, expect=None):
        result = subprocess.run([self.zm, *args], cwd=self.work, capture_output=True,
                                text=True, timeout=timeout)
        if expect is not None and result.returncode != expect:
            raise Failure("zm %s: exit %d, expected %d\nstdout: %s\nstderr: %s" % (
                " ".join(args), result.returncode, expect, result.stdout, result.stderr))
        return result

    def example(self, name):
        return os.path.join(self.source, "examples", name + ".json")

    def path(self, name):
        return os.path.join(self.work, name)

    def write(self, name, content):
        with open(self.path(name), "wb") as f:
            f.write(content if isinstance(content, bytes) else content.encode("utf-8"))
        return self.path(name)


def load_json(path):
    with open(path, encoding="utf-8") as f:
        return json.load(f)


# ---------------------------------------------------------------------------

def test_commands(t):
    # render: a summary, and the file it names (its layout is the library's business).
    r = t.run("render", t.example("small-studio"), "studio.wav", expect=0)
    check("2 channels" in r.stdout and "48000 Hz" in r.stdout and "first direct arrival" in
          r.stdout and os.path.getsize(t.path("studio.wav")) > 1000, "render summary: " + r.stdout)
    r = t.run("render", t.example("small-studio"), "studio2.wav", "--quiet", "--report", expect=0)
    check("progress" not in r.stderr, "--quiet shows no progress")
    check("T30" in r.stdout and "broadband" in r.stdout, "--report prints the report")

    # the hall renders its groups into 8 channels
    r = t.run("render", t.example("concert-hall"), "hall.wav", "--group", "1", "--quiet", expect=0)
    check("8 channels" in r.stdout, "hall has 8 channels: " + r.stdout)

    r = t.run("info", t.example("concert-hall"), expect=0)
    for text in ("Shoebox hall", "8 receivers", "group 2 \"Choir\"", "Eyring [s]",
                 "mean free path", "Checks"):
        check(text in r.stdout, "info mentions %r:\n%s" % (text, r.stdout))

    # Bad input, each with a message that names what is wrong, and the file
    # once (a misspelt key, even a required one, named with the key meant).
    t.write("corrupt.zmd", b"ZMD5" + bytes(range(40)))
    t.write("noise.bin", b"\x00\x01garbage")
    t.write("syntax.json", "{\"title\": }")
    doc = load_json(t.example("small-studio"))
    doc["emitters"][0]["rayCout"] = doc["emitters"][0].pop("rayCount")
    t.write("key.json", json.dumps(doc))
    studio = t.example("small-studio")
    bad_input = [
        (["render", "missing.json", "x.wav"], 1, "missing.json"),
        (["info", "corrupt.zmd"], 1, "corrupt.zmd: HRC"),
        (["info", "noise.bin"], 1, "not a design file"),
        (["render", "key.json", "k.wav"], 1,
         "key.json: emitters[0].rayCout: unknown key (did you mean \"rayCount\"?)\n"),
        (["info", "syntax.json"], 1, "parse"),
        (["render", studio, "g.wav", "--group", "64"], 2, "--group 64"),
        (["frobnicate"], 2, ""),
        (["render", studio], 2, ""),
        (["plot", "pln", "a", "b"], 2, "unknown command \"pln\" (did you mean \"plan\"?)"),
    ]
    for args, code, message in bad_input:
        r = t.run(*args, expect=code)
        named_once = all(r.stderr.count(a) <= 1 for a in args if a.endswith(".json"))
        check(message in r.stderr and named_once, "%s: %s" % (args, r.stderr))

    # Every command says what it could not do, with which file and why.
    os.mkdir(t.path("folder"))
    t.run("render", studio, "s.wav", "--quiet", expect=0)
    in_words = [
        (["analyze", "nothere.wav"], "zm: cannot read nothere.wav: it does not exist\n"),
        (["analyze", studio], "zm: cannot read %s: it is not a sound file libsndfile reads "
         "(Format not recognised)\n" % studio),
        (["convert", studio, "/nonexistent/x.zmd"],
         "zm: cannot write /nonexistent/x.zmd: the folder /nonexistent does not exist\n"),
        (["plot", "plan", studio, "/nonexistent/p.svg"],
         "zm: cannot write /nonexistent/p.svg: the folder /nonexistent does not exist\n"),
        (["auralise", "s.wav", "s.wav", "folder"], "zm: cannot write folder: it is a folder\n"),
        (["info", "folder"], "zm: cannot read folder: it is a folder\n"),
    ]
    for args, message in in_words:
        r = t.run(*args, expect=1)
        check(r.stderr == message, "%s: %r" % (args, r.stderr))


def test_formats_follow_the_extension(t):
    """render chooses the format from the output's extension as convert and
    auralise do; a --format the extension contradicts is refused."""
    studio = t.example("small-studio")
    t.run("render", studio, "studio.flac", "--quiet", expect=0)
    t.run("render", studio, "studio.aif", "--quiet", expect=0)
    t.run("render", studio, "studio.wav", "--quiet", expect=0)
    magic = {name: open(t.path(name), "rb").read(12) for name in
             ("studio.flac", "studio.aif", "studio.wav")}
    check(magic["studio.flac"].startswith(b"fLaC") and magic["studio.aif"].startswith(b"FORM"),
          "render chose no format by extension: %r" % magic)
    check(magic["studio.wav"].startswith(b"RIFF"), "the engine's WAV: %r" % magic)
    r = t.run("render", studio, "x.wav", "--format", "flac", expect=2)
    check("--format flac contradicts the extension of x.wav" in r.stderr and
          not os.path.exists(t.path("x.wav")), r.stderr)
    t.run("convert", "studio.wav", "y.flac", "--format", "ogg", expect=2)
    r = t.run("render", studio, "x.mp3", expect=2)
    check("zm does not write that format" in r.stderr and not os.path.exists(t.path("x.mp3")),
          r.stderr)
    t.run("render", studio, "upper.flac", "--format", "FLAC", "--quiet", expect=0)

    # Integer output through --format is dithered from a seed: the same
    # command gives the same bytes, another seed other bytes.
    def rendered(name, *options):
        t.run("render", studio, name, "--quiet", "--format", "wav:pcm16", *options, expect=0)
        return open(t.path(name), "rb").read()
    once, again = rendered("a.wav"), rendered("b.wav")
    check(once == again, "the same render gave different bytes")
    check(rendered("c.wav", "--dither-seed", "7") != once, "the dither seed changed nothing")
    t.run("render", studio, "d.wav", "--dither-seed", "7", expect=2)


def test_exit_code_table(t):
    """Every example of README.md's exit-code table exits with its row's code."""
    text = open(os.path.join(t.source, "README.md"), encoding="utf-8").read()
    table = re.search(r"<!-- exit-codes -->\n((?:\|.*\n)+)", text)
    check(table is not None, "README.md lacks the table after <!-- exit-codes -->")
    os.symlink(os.path.join(t.source, "examples"), t.path("examples"))
    t.write("open-studio.json", json.dumps(_open_studio(t)))
    t.run("render", "examples/small-studio.json", "studio.wav", "--quiet", expect=0)
    rows = 0
    for row in table.group(1).splitlines()[2:]:
        cells = [c.strip() for c in row.strip("|").split("|")]
        code = int(cells[0].split()[0])
        for example in re.findall(r"`zm ([^`]*)`", cells[-1]):
            r = t.run(*example.split(), timeout=300)
            check(r.returncode == code, "zm %s: exit %d, the table says %d\n%s" % (
                example, r.returncode, code, r.stderr))
            rows += 1
    check(rows >= 8, "only %d examples in the table" % rows)


def _open_studio(t):
    doc = load_json(t.example("small-studio"))
    doc["walls"].pop(1)
    return doc


def studio_with(t, name, change):
    """The example studio changed by `change(doc)`, written as NAME.json."""
    doc = load_json(t.example("small-studio"))
    change(doc)
    return t.write(name + ".json", json.dumps(doc))


def without_receivers(doc):
    doc["walls"] = [w for w in doc["walls"] if not w.get("receiver")]


def test_check(t):
    # The examples are plans without scattering or height: only the
    # reverberation estimate's cautions, which --strict counts as warnings.
    for name in EXAMPLES:
        r = t.run("check", t.example(name), expect=0)
        problems = [line for line in r.stdout.splitlines()
                    if line.startswith(("  warning: ", "  refused: "))]
        check(problems and all(p.startswith("  warning: Reverberation estimate: ") for p in problems),
              r.stdout)
        t.run("check", "--strict", t.example(name), expect=3)

    # What the engine refuses: exit 1 from check and info alike, and render
    # stops before tracing and leaves no file; the reason names the JSON path.
    refused = {
        "channel": (lambda d: d["walls"][-1].update(channel=9),
                    "walls[13].channel: channel 9 is outside 0 to 7"),
        "nan": (lambda d: d["emitters"][0].update(at=["0x7ff8000000000000", 1.0]),
                "emitters[0].at: coordinates are not finite numbers"),
        "negative-rate": (lambda d: d["options"].update(sampleRate=-48000),
                          "options.sampleRate: Sample rate -48000 Hz is negative"),
    }
    for name, (change, message) in refused.items():
        design = studio_with(t, name, change)
        for command in ("check", "info"):
            r = t.run(command, design, expect=1)
            check("refused: " + message in r.stdout, "%s %s: %s" % (command, name, r.stdout))
        r = t.run("render", design, name + ".wav", expect=1)
        check(message in r.stderr and "rendering" not in r.stderr and
              not os.path.exists(t.path(name + ".wav")), r.stderr)

    # What renders but not as meant: exit 0, or 3 under --strict.
    warned = {
        "open": (lambda d: d["walls"].pop(1), "warning: The walls enclose no room"),
        "outside": (lambda d: d["emitters"][0].update(at=[20, 2]),
                    "warning: emitters[0].at: at (20.00, 2.00) m it lies outside every enclosure"),
        "reflection": (lambda d: d["materials"][0].update(reflection=1.5),
                       "warning: materials[0].reflection: reflection 1.5 is above 1"),
        "rate": (lambda d: d["options"].update(sampleRate=22050),
                 "warning: options.sampleRate: Sample rate 22050 Hz is below 44100 Hz"),
        "window": (lambda d: d["options"].update(windowType=9),
                   "warning: options.windowType: Window type 9 is not one of 0 to 5"),
        "inverting": (lambda d: d["materials"][0].update(reflection=-0.5),
                      "warning: materials[0].reflection: reflection -0.5 is negative"),
        "spread": (lambda d: d["emitters"][0].update(spreadDeg=720),
                   "warning: emitters[0].spreadDeg: spread 720 deg is wider than a full turn"),
        "faint": (lambda d: d["options"].update(minAmplitude=0),
                  "warning: options.minAmplitude: Minimum amplitude 0: no ray ends"),
    }
    for name, (change, message) in warned.items():
        design = studio_with(t, name, change)
        r = t.run("check", design, expect=0)
        check(message in r.stdout, "%s: %s" % (name, r.stdout))
        t.run("check", "--strict", design, expect=3)

    # A key given twice is refused, by its path, whichever the parser kept.
    text = open(t.example("small-studio"), encoding="utf-8").read()
    twice = t.write("twice.json", text.replace('"sampleRate":', '"sampleRate": 96000, "sampleRate":'))
    r = t.run("check", twice, expect=1)
    check("options.sampleRate: the key is given twice in one object" in r.stderr, r.stderr)

    # Silent renders say why; --strict refuses them before tracing.
    silent = [
        ("rays", lambda d: d["emitters"][0].update(rayCount=-5), [],
         "emitters[0].rayCount: ray count -5: it sends no rays"),
        ("receivers", without_receivers, [], "No receiver wall"),
        ("group", lambda d: None, ["--group", "5"], "Group 5: no emitter"),
        ("outside", warned["outside"][0], [], "none of the probe rays"),
    ]
    for name, change, options, message in silent:
        design = studio_with(t, "silent-" + name, change)
        r = t.run("render", design, name + ".wav", "--quiet", *options, expect=0)
        check(message in r.stderr and "the output is silent" in r.stderr and
              "Silent." in r.stdout, "%s: %s%s" % (name, r.stdout, r.stderr))
        r = t.run("render", design, name + "-strict.wav", "--strict", *options, expect=3)
        check(not os.path.exists(t.path(name + "-strict.wav")), name + " --strict wrote a file")

    # The first sound is found on the channel that holds the impulse, not on
    # channels of dither beside it: 2.8 m at 48 kHz is about 390 frames.
    def channel_3_only(doc):
        receiver = [w for w in doc["walls"] if w.get("receiver")][0]
        without_receivers(doc)
        doc["walls"].append(dict(receiver, channel=3))
        doc["options"]["trimToDirect"] = False
    r = t.run("render", studio_with(t, "ch3", channel_3_only), "ch3.wav", "--quiet", expect=0)
    onset = re.search(r"first sound in the file starts at frame (\d+)", r.stdout)
    check(onset is not None and 370 < int(onset.group(1)) < 410, r.stdout)

    # An output the render could not write is refused before tracing, in words.
    r = t.run("render", t.example("small-studio"), "/nonexistent/x.wav", expect=1)
    check(r.stderr == "zm: cannot write /nonexistent/x.wav: the folder /nonexistent does not "
          "exist\n", r.stderr)


def test_convert(t):
    for name in EXAMPLES:
        # JSON -> design file -> JSON gives the same JSON (less the note).
        t.run("convert", t.example(name), name + ".zmd", expect=0)
        with open(t.path(name + ".zmd"), "rb") as f:
            check(f.read(4) == b"ZMD5", "design file magic")
        t.run("convert", name + ".zmd", name + ".json", expect=0)
        original = {k: v for k, v in load_json(t.example(name)).items() if k != "description"}
        check(load_json(t.path(name + ".json")) == original,
              name + ": JSON -> design file -> JSON changed the design")
        # design file -> JSON -> design file gives the same bytes.
        t.run("convert", name + ".json", name + "2.zmd", expect=0)
        with open(t.path(name + ".zmd"), "rb") as a, open(t.path(name + "2.zmd"), "rb") as b:
            check(a.read() == b.read(), name + ": design file -> JSON -> design file changed bytes")

    # A height: JSON -> design file -> JSON gives the design as written (less
    # the air the fold adds), design file -> JSON -> design file the bytes.
    doc = load_json(t.example("small-studio"))
    doc["materials"] = [m for m in doc["materials"] if m["name"] != "** AIR **"]
    doc.update(height=2.8, floor={"catalogue": "carpet-on-concrete", "scattering": 0.1},
               ceiling="Plaster on brick")
    t.run("convert", t.write("tall.json", json.dumps(doc)), "tall.zmd", expect=0)
    t.run("convert", "tall.zmd", "tall2.json", expect=0)
    back = load_json(t.path("tall2.json"))
    check(back["height"] == 2.8 and back["floor"]["name"] == "carpet-on-concrete" and
          back["ceiling"]["name"] == "Plaster on brick", "height, floor, ceiling: %r" % back)
    check(back["materials"] == doc["materials"], "materials as given: %r" % back["materials"])
    t.run("convert", "tall2.json", "tall2.zmd", expect=0)
    with open(t.path("tall.zmd"), "rb") as a, open(t.path("tall2.zmd"), "rb") as b:
        check(a.read() == b.read(), "height: design file -> JSON -> design file changed bytes")
    r = t.run("info", "tall.zmd", expect=0)
    check("3D diffuse field" in r.stdout and "2.80 m high" in r.stdout and
          "floor \"carpet-on-concrete\" and ceiling \"Plaster on brick\" folded" in r.stdout, r.stdout)

    # Comments are allowed in hand-written JSON.
    text = "// a studio\n" + open(t.example("small-studio"), encoding="utf-8").read()
    t.run("convert", t.write("commented.json", text), "commented.zmd", expect=0)
    # So is the byte-order mark some editors put first.
    t.run("convert", t.write("marked.json", b"\xef\xbb\xbf" + text.encode("utf-8")),
          "marked.zmd", expect=0)

    # The annotated examples of the format's documentation are valid input.
    doc = open(os.path.join(t.source, "docs", "design-format.md"), encoding="utf-8").read()
    blocks = re.findall(r"```json\n(.*?)\n```", doc, re.S)
    t.run("convert", t.write("documented.json", blocks[0]), "documented.zmd", expect=0)
    r = t.run("info", "documented.zmd", expect=0)
    check("Demo room" in r.stdout, r.stdout)
    t.run("convert", t.write("documented-material.json", blocks[1]), "documented.zmm", expect=0)

    # Materials: JSON -> material file -> JSON (the file's layout is the
    # file tests' business); a material file is not a design.
    material = {"format": "zm-material", "name": "Oak panel", "reflection": 0.93,
                "scatterDeg": 4.5, "bandFactors": [1.0, 1.0, 0.98, 0.95, 0.9, 0.88, 0.85, 0.8],
                "reserved": "AQIDBAUGBwgJCgsMDQ4PEBESExQVFhcYGRobHB0eHyAhIiMkJSYnKA=="}
    t.run("convert", t.write("oak.json", json.dumps(material)), "oak.zmm", expect=0)
    t.run("convert", "oak.zmm", "oak2.json", expect=0)
    check(load_json(t.path("oak2.json")) == material, "material JSON round trip")
    check("material" in t.run("render", "oak.zmm", "oak.wav", expect=1).stderr, "zmm rendered")


def write_decay(path, t60, rate, bits, delay=0.02, seconds=None):
    """Exponentially decaying noise (random signs of exact size) after
    `delay` seconds of silence, as a mono WAV of `seconds` (by default long
    enough for the whole decay)."""
    rnd = random.Random(1)
    decay = 3.0 * math.log(10.0) / t60
    frames = int((seconds or 2.5 * t60 + 0.2) * rate)
    start = int(delay * rate)
    full = (1 << (bits - 1)) - 1
    out = bytearray()
    for i in range(frames):
        v = 0.0
        if i >= start:
            v = (0.5 if rnd.random() < 0.5 else -0.5) * math.exp(-decay * (i - start) / rate)
        q = int(round(v * full))
        out += q.to_bytes(bits // 8, "little", signed=True)
    with wave.open(path, "wb") as w:
        w.setnchannels(1)
        w.setsampwidth(bits // 8)
        w.setframerate(rate)
        w.writeframes(bytes(out))


def test_analyze(t):
    for t60, rate, bits in ((0.5, 44100, 16), (1.0, 96000, 24)):
        path = t.path("decay-%g.wav" % t60)
        write_decay(path, t60, rate, bits)
        r = t.run("analyze", path, "--json", expect=0)
        report = json.loads(r.stdout)
        channel = report["channels"][0]
        # The measures themselves are the analysis tests' business; a decay
        # read wrongly from 16 or 24-bit samples would not keep its T30.
        broadband = channel["bands"][0]
        check(abs(broadband["t30"] - t60) <= 0.02 * t60, "T30 %r for T %g" % (broadband["t30"], t60))
        # The JSON gives its units, and the text's: D50 in per cent.
        text = t.run("analyze", path, expect=0).stdout
        check(report["units"]["d50"] == "%" and report["units"]["t30"] == "s", "units")
        d50 = re.search(r"D50 \[%\]\s+(\d+)", text).group(1)
        check(int(d50) == round(broadband["d50"]), "D50 %s in the text, %r in JSON" % (
            d50, broadband["d50"]))
    # Too short a decay: reported as n/a, and why.
    path = t.path("short.wav")
    write_decay(path, 3.0, 44100, 16, seconds=0.2)
    r = t.run("analyze", path, expect=0)
    letter = re.search(r"T30 \[s\]\s+n/a (\w)", r.stdout)
    check(letter is not None and "n/a %s: the response is cut at 0.20 s, still decaying, before "
          "it decays by 35 dB" % letter.group(1) in r.stdout, "short decay: " + r.stdout)
    band = json.loads(t.run("analyze", path, "--json", expect=0).stdout)["channels"][0]["bands"][0]
    check(band["t30"] is None and "cut at 0.20 s" in band["notApplicable"]["t30"],
          "JSON n/a: %r" % band)


def test_plot(t):
    t.run("render", t.example("concert-hall"), "hall.wav", "--quiet", expect=0)
    t.run("plot", "plan", t.example("concert-hall"), "plan.svg", expect=0)
    t.run("plot", "ir", "hall.wav", "ir.svg", "--channel", "2,7", "--band", "1k", expect=0)
    t.run("plot", "ir", "hall.wav", "all.svg", expect=0)
    t.run("plot", "plan", t.example("irregular-plan"), "irregular.svg", expect=0)
    for name in ("plan.svg", "ir.svg", "all.svg", "irregular.svg"):
        root = ElementTree.parse(t.path(name)).getroot()  # well-formed XML
        check(root.tag == "{http://www.w3.org/2000/svg}svg", name + " is SVG")
    plan = open(t.path("plan.svg"), encoding="utf-8").read()
    for text in ("Diffusing panels", "Audience (seated)", "ch 7", "stroke-dasharray", "x [m]",
                 "y [m]", "pickup pattern"):
        check(text in plan, "plan shows " + text)
    ir = open(t.path("ir.svg"), encoding="utf-8").read()
    for text in ("channel 2", "channel 7", "1 kHz octave band", "amplitude [full scale]",
                 "Echogram", "time [s]", "ch 7: T20 "):
        check(text in ir, "IR picture shows " + text)
    check(open(t.path("all.svg"), encoding="utf-8").read().count("<polygon") == 8,
          "all eight channels drawn")
    r = t.run("plot", "ir", "hall.wav", "x.svg", "--channel", "8", expect=2)
    check("8 channels" in r.stderr, r.stderr)
    r = t.run("plot", "ir", "hall.wav", "x.svg", "--band", "3k", expect=2)
    check("not an octave band" in r.stderr, r.stderr)

    # A silent render (one frame) is drawn and analysed as silent, with a
    # time axis whose ticks differ.
    silent = studio_with(t, "silent", lambda d: d["emitters"][0].update(rayCount=-5))
    t.run("render", silent, "silent.wav", "--quiet", expect=0)
    t.run("plot", "ir", "silent.wav", "silent.svg", expect=0)
    picture = ElementTree.parse(t.path("silent.svg")).getroot()
    labels = list(picture.iter("{http://www.w3.org/2000/svg}text"))
    texts = [e.text or "" for e in labels]
    ticks = [e.text for e in labels  # the time axis's, centred under their lines
             if e.get("text-anchor") == "middle" and re.fullmatch(r"[0-9.e-]+", e.text or "")]
    check(any("silent" in s for s in texts) and not any("-240" in s for s in texts) and
          len(set(ticks)) > 2, "silent plot: %r" % texts)
    r = t.run("analyze", "silent.wav", expect=0)
    check("silent" in r.stdout and "-240" not in r.stdout, r.stdout)

    # The plan lists only the materials walls use, and an emitter's fan ends
    # at the wall in front of it (0.6 m away here, less than the fan's
    # length).
    def near_wall(doc):
        doc["materials"].append({"name": "Unused felt", "reflection": 0.5, "bandFactors": 1})
        doc["emitters"][0].update(at=[0.6, 2.25], directionDeg=180)
    t.run("plot", "plan", studio_with(t, "near", near_wall), "near.svg", expect=0)
    near = ElementTree.parse(t.path("near.svg")).getroot()
    check("Unused felt" not in open(t.path("near.svg"), encoding="utf-8").read(), "unused listed")
    svg = "{http://www.w3.org/2000/svg}"
    walls = [e for e in near.iter(svg + "line") if e.get("stroke-width") == "3"]
    left_wall = min(min(float(e.get("x1")), float(e.get("x2"))) for e in walls)
    fans = [float(e.get("x2")) for g in near.iter(svg + "g") if g.get("stroke") == "#f4a300"
            for e in g.iter(svg + "line")]
    check(fans and min(fans) >= left_wall - 0.5, "fan reaches %r, wall at %r" % (min(fans), left_wall))


def test_interrupt(t):
    # A design that takes many seconds: the studio with millions of rays.
    doc = load_json(t.example("small-studio"))
    doc["emitters"][0]["rayCount"] = 50000000
    design = t.write("long.json", json.dumps(doc))
    for sig in (signal.SIGINT, signal.SIGTERM):
        out = t.path("long-%d.wav" % sig)
        process = subprocess.Popen([t.zm, "render", design, out], cwd=t.work,
                                   stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        # Wait for tracing to start: the first progress line; into a pipe,
        # lines then come at a steady pace (5 s), not only per tenth of the
        # rays (minutes here).
        times = []
        wanted = 2 if sig == signal.SIGTERM else 1
        started = time.time()
        while len(times) < wanted and time.time() - started < 60:
            line = process.stderr.readline()
            check(line or process.poll() is None, "render ended early")
            if "progress" in line:
                times.append(time.time())
        check(len(times) == wanted and (wanted == 1 or 4 < times[1] - times[0] < 15),
              "progress lines %s s apart" % [round(b - a, 1) for a, b in zip(times, times[1:])])
        time.sleep(0.5)
        process.send_signal(sig)
        try:
            _, stderr = process.communicate(timeout=60)
        except subprocess.TimeoutExpired:
            process.kill()
            raise Failure("render did not stop after the signal")
        check(process.returncode == 128 + sig, "exit %d after signal %d" % (process.returncode, sig))
        check("interrupted" in stderr, stderr)
        check(not os.path.exists(out), "an interrupted render wrote " + out)


def test_quickstart(t):
    """The README's first command, run as written with this build's zm in
    place of the launcher (which builds its own)."""
    readme = os.path.join(t.source, "README.md")
    text = open(readme, encoding="utf-8").read()
    marker = "<!-- quickstart:render -->"
    block = re.search(marker + r"\s*```[a-z]*\n(.*?)\n```", text, re.S)
    check(block is not None, "README.md lacks a fenced block after " + marker)
    command = block.group(1).strip().split()
    check(command[:2] == ["./zm", "render"], "unexpected quick start: %r" % command)
    check(os.access(os.path.join(t.source, "zm"), os.X_OK), "the launcher is not executable")
    os.symlink(os.path.join(t.source, "examples"), t.path("examples"))
    result = subprocess.run([t.zm] + command[1:], cwd=t.work, capture_output=True, text=True,
                            timeout=120)
    check(result.returncode == 0, "quick start failed: " + result.stderr)
    check(result.stdout.startswith("Wrote " + command[-1]), "no summary: " + result.stdout)


EXAMPLE_MARK = "<!-- example-output -->"


def readme_fixtures(t):
    """The files README.md's examples use besides the examples folder."""
    os.symlink(os.path.join(t.source, "examples"), t.path("examples"))
    t.write("open-studio.json", json.dumps(_open_studio(t)))
    doc = load_json(t.example("small-studio"))
    doc["emitters"][0]["rayCout"] = doc["emitters"][0].pop("rayCount")
    t.write("typo.json", json.dumps(doc, indent=2))


def run_example_block(t, block):
    """Runs the "$ ./zm ..." lines of one README block in order; returns the
    expected and the actual outputs of each command, as lists of lines.
    `echo $?` prints the exit code of the command before it."""
    commands, code = [], 0
    for line in block.splitlines():
        if line.startswith("$ "):
            commands.append((line[2:], []))
        elif commands:
            commands[-1][1].append(line)
    results = []
    for command, expected in commands:
        if command == "echo $?":
            actual = [str(code)]
        else:
            words = command.split()
            check(words[0] == "./zm", "README example does not start with ./zm: " + command)
            r = t.run(*words[1:], timeout=300)
            code = r.returncode
            actual = (r.stdout + r.stderr).splitlines()
        results.append((command, expected, actual))
    return results


def matches(expected, actual):
    """Whether `actual` is `expected`, where a line "..." stands for any
    number of lines."""
    if "..." not in expected:
        return expected == actual
    cut = expected.index("...")
    head, tail = expected[:cut], expected[cut + 1:]
    return (len(actual) >= len(head) + len(tail) and actual[:len(head)] == head and
            actual[len(actual) - len(tail):] == tail)


def refreshed(expected, actual):
    """The actual output in the expected one's shape: as many lines before
    and after its "..." as it shows."""
    if "..." not in expected:
        return actual
    cut = expected.index("...")
    tail = len(expected) - cut - 1
    return actual[:cut] + ["..."] + (actual[len(actual) - tail:] if tail else [])


def test_readme_examples(t):
    """README.md's example outputs (the blocks after EXAMPLE_MARK) are what
    the tool prints. ZM_REFRESH_README=1 rewrites them from the tool's
    output instead of comparing."""
    readme = os.path.join(t.source, "README.md")
    text = open(readme, encoding="utf-8").read()
    pattern = re.compile(re.escape(EXAMPLE_MARK) + r"\n```\n(.*?)\n```", re.S)
    readme_fixtures(t)
    refresh = os.environ.get("ZM_REFRESH_README") == "1"
    failures, blocks = [], []
    for match in pattern.finditer(text):
        lines = []
        for command, expected, actual in run_example_block(t, match.group(1)):
            lines += ["$ " + command] + refreshed(expected, actual)
            if not matches(expected, actual):
                failures.append("$ %s\nREADME:\n%s\ntool:\n%s" % (
                    command, "\n".join(expected), "\n".join(actual)))
        blocks.append((match.span(1), "\n".join(lines)))
    check(len(blocks) >= 4, "README.md has %d marked examples" % len(blocks))
    if refresh:
        for (start, end), new in reversed(blocks):
            text = text[:start] + new + text[end:]
        with open(readme, "w", encoding="utf-8") as f:
            f.write(text)
        return
    check(not failures, "README.md's examples differ from the tool's output "
          "(ZM_REFRESH_README=1 rewrites them):\n" + "\n\n".join(failures))


GROUPS = {"commands": test_commands, "readme": test_readme_examples, "formats": test_formats_follow_the_extension,
          "exits": test_exit_code_table, "check": test_check, "convert": test_convert, "analyze": test_analyze,
          "plot": test_plot, "interrupt": test_interrupt, "quickstart": test_quickstart}


def run_groups(groups, skip_reason=lambda group: None):
    """Runs the group named on the command line (see the module's usage);
    `skip_reason(group)` tells why it cannot run here, if it cannot."""
    parser = argparse.ArgumentParser()
    parser.add_argument("--zm", required=True)
    parser.add_argument("--source", required=True)
    parser.add_argument("group", choices=sorted(groups))
    args = parser.parse_args()
    reason = skip_reason(args.group)
    if reason:
        print("skipped: " + reason)
        return SKIP
    work = tempfile.mkdtemp(prefix="zm-test-")
    try:
        groups[args.group](Tool(os.path.abspath(args.zm), os.path.abspath(args.source), work))
        print("passed: " + args.group)
        return 0
    except Failure as failure:
        print("FAILED: %s" % failure)
        return 1
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(run_groups(GROUPS))
