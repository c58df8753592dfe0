#!/usr/bin/env python3
"""End-to-end tests of zm's materials, sound-file formats and auralisation:
python3 audio_test.py --zm PATH --source DIR GROUP. Exit 0 passed, 1 failed,
77 skipped (sox or ffprobe missing)."""
import array
import json
import os
import random
import re
import shutil
import struct
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from cli_test import check, run_groups, studio_with  # noqa: E402


def write_float_wav(path, rate, channels):
    """A float WAV with an 18-byte fmt chunk; `channels` are lists of floats."""
    frames = len(channels[0])
    data = array.array("f", [channels[c][f] for f in range(frames) for c in range(len(channels))])
    body = data.tobytes()
    fmt = struct.pack("<HHIIHHH", 3, len(channels), rate, rate * 4 * len(channels),
                      4 * len(channels), 32, 0)
    with open(path, "wb") as f:
        f.write(b"RIFF" + struct.pack("<I", 4 + 8 + len(fmt) + 8 + len(body)) + b"WAVE")
        f.write(b"fmt " + struct.pack("<I", len(fmt)) + fmt)
        f.write(b"data" + struct.pack("<I", len(body)) + body)


def read_float(path, channels):
    """Samples of any file sox reads, de-interleaved, as float32."""
    raw = subprocess.run(["sox", path, "-t", "f32", "-"], capture_output=True, check=True).stdout
    values = array.array("f", raw)
    return [values[c::channels] for c in range(channels)]


def reader_warnings(path):
    """What sox, ffprobe and sndfile-info say beyond reading the file."""
    said = []
    sox = subprocess.run(["sox", "-V2", path, "-n", "stat"], capture_output=True, text=True)
    said += [l for l in sox.stderr.splitlines() if "WARN" in l or "FAIL" in l]
    probe = subprocess.run(["ffprobe", "-v", "warning", "-hide_banner", path],
                           capture_output=True, text=True)
    said += probe.stderr.splitlines()
    info = subprocess.run(["sndfile-info", path], capture_output=True, text=True)
    said += [l for l in info.stdout.splitlines() if "warn" in l.lower() or "error" in l.lower()]
    return said


# sox 14.4.2 looks for a further size field after the 22-byte extension of
# every WAVE_FORMAT_EXTENSIBLE float file, whoever wrote it, and after the
# 16-byte fmt chunk that the engine's own float files keep for their hosts.
SOX_FLOAT_FMT = "sox WARN wav: wave header missing extended part of fmt chunk"


def is_extensible_float(path):
    head = open(path, "rb").read(256)
    at = head.find(b"fmt ")
    return at >= 0 and struct.unpack_from("<H", head, at + 8)[0] == 0xFFFE and \
        struct.unpack_from("<H", head, at + 32)[0] == 3


def test_formats(t):
    rnd = random.Random(5)
    ir = [[rnd.uniform(-0.5, 0.5) * 0.999 ** i for i in range(4000)] for _ in range(8)]
    for n in (8, 2):
        write_float_wav(t.path("ir%d.wav" % n), 48000, ir[:n])
        t.run("convert", "ir%d.wav" % n, "ir%d-24.wav" % n, "--format", "wav:pcm24", expect=0)
    outputs = []
    for source in ["ir2-24.wav", "ir8-24.wav", "ir2.wav", "ir8.wav"]:
        for name in ["wav", "wav:float", "rf64", "w64", "flac", "aiff", "ogg"]:
            out = "%s-%s.%s" % (source[:-4], name.replace(":", "-"), name.split(":")[0])
            t.run("convert", source, out, "--format", name, expect=0)
            outputs.append(out)
    t.run("render", "--quiet", "--format", "flac", t.example("small-studio"), "studio.flac",
          expect=0)
    outputs.append("studio.flac")
    # Without --format the engine's own file, at every sample size: the
    # readers must find the format, channels, rate, size and title asked for.
    for bits, rate, channel in ((8, 44100, 0), (16, 48000, 5), (24, 96000, 2), (32, 44100, 1)):
        def change(doc):
            doc["options"].update(bitsPerSample=bits, sampleRate=rate, impulseLength=0.2)
            for wall in (w for w in doc["walls"] if w.get("receiver")):
                wall["channel"] = channel
        out = "own%d.wav" % bits
        t.run("render", "--quiet", studio_with(t, "own%d" % bits, change), out, expect=0)
        info = subprocess.run(["sndfile-info", t.path(out)], capture_output=True, text=True).stdout
        got = [re.search(r"^\s*%s\s*:\s*(\d+)" % name, info, re.M).group(1)
               for name in ("Channels", "Sample Rate", "Bit Width", "Frames")]
        tag = "WAVE_FORMAT_IEEE_FLOAT" if bits == 32 else "WAVE_FORMAT_PCM"
        check(got[:3] == [str(max(2, channel + 1)), str(rate), str(bits)] and int(got[3]) > 1
              and tag in info and "Small studio" in info, "%s: %r\n%s" % (out, got, info))
        outputs.append(out)
    for out in outputs:
        said = reader_warnings(t.path(out))
        if is_extensible_float(t.path(out)) or out == "own32.wav":
            said = [s for s in said if s != SOX_FLOAT_FMT]
        check(not said, "%s: %s" % (out, said))
    wav8 = open(t.path("ir8-24-wav.wav"), "rb").read(64)
    check(struct.unpack("<H", wav8[20:22])[0] == 0xFFFE and
          struct.unpack("<I", wav8[40:44])[0] == 0x737, "8 channels: extensible, octagonal mask")
    wav2 = open(t.path("ir2-24-wav-float.wav"), "rb").read(64)
    check(wav2[12:16] == b"fmt " and struct.unpack("<I", wav2[16:20])[0] == 18 and
          wav2[38:42] == b"fact", "stereo float: 18-byte fmt chunk and a fact chunk")
    info = subprocess.run(["sndfile-info", t.path("studio.flac")], capture_output=True, text=True)
    check("Small studio" in info.stdout, "the FLAC carries the design's title")
    check(b"ZLTR" in open(t.path("own16.wav"), "rb").read(), "the engine's file names its maker")
    result = t.run("convert", "ir2.wav", "x.mp9", expect=2)
    check("give --format" in result.stderr, result.stderr)


def test_auralise(t):
    rnd = random.Random(3)
    ir = [[0.0] * 40 + [rnd.uniform(-1, 1) * 0.998 ** i for i in range(40, 3000)] for _ in range(2)]
    write_float_wav(t.path("ir.wav"), 44100, ir)
    starts = [100, 5000, 9000, 15500]
    clicks = [1.0 if i in starts else 0.0 for i in range(20000)]
    write_float_wav(t.path("clicks.wav"), 44100, [clicks])
    result = t.run("auralise", "clicks.wav", "ir.wav", "out.wav", "--gain", "0", expect=0)
    check("Gain 0.00 dB" in result.stdout and "mono dry signal" in result.stdout, result.stdout)
    out = read_float(t.path("out.wav"), 2)
    check(len(out[0]) == 20000 + 3000 - 1, "the output keeps the whole tail")
    error = max(abs(out[c][s + i] - ir[c][i]) for c in range(2) for s in starts
                for i in range(3000))
    check(error < 1e-6, "click train: the IR at each click within 1e-6, got %g" % error)
    # Normalised by default; a stereo dry signal through a stereo IR, an IR
    # at another rate, and a gain that would clip.
    write_float_wav(t.path("stereo.wav"), 48000, [clicks, clicks])
    result = t.run("auralise", "stereo.wav", "ir.wav", "out.flac", expect=0)
    for text in ["left through the IR's channel 0", "resampled from 44100 Hz to 48000 Hz",
                 "peak -1.00 dBFS"]:
        check(text in result.stdout, "%s: %s" % (text, result.stdout))
    result = t.run("auralise", "clicks.wav", "ir.wav", "loud.wav", "--gain", "30", expect=1)
    check("would clip" in result.stderr, result.stderr)


def test_materials(t):
    result = t.run("materials", "brick", expect=0)
    check("brick-unglazed" in result.stdout and "sengpielaudio" in result.stdout, result.stdout)
    t.run("materials", "no-such-thing", expect=1)
    t.write("oak.json", '{"format": "zm-material", "name": "Oak", "absorption": '
            '[0.15, 0.11, 0.1, 0.07, 0.06, 0.07], "scattering": 0.3}')
    os.mkdir(t.path("rooms"))
    t.run("convert", "oak.json", "rooms/oak.zmm", expect=0)
    # The example with its materials by file and from the catalogue.
    t.run("convert", t.example("small-studio"), "studio.json", expect=0)
    data = json.load(open(t.path("studio.json")))
    data["materials"] = [m if m["name"] == "** AIR **" else
                         {"name": m["name"], "catalogue": "plaster-painted"}
                         for m in data["materials"]]
    data["materials"][0] = {"name": data["materials"][0]["name"], "file": "oak.zmm"}
    t.write("rooms/cat.json", json.dumps(data))
    t.run("convert", "rooms/cat.json", "cat.zmd", expect=0)
    t.run("convert", "cat.zmd", "cat-record.json", expect=0)
    t.run("convert", "cat-record.json", "again.zmd", expect=0)
    check(open(t.path("cat.zmd"), "rb").read() == open(t.path("again.zmd"), "rb").read(),
          "lowered to record values, the design converts back loss-free")
    t.run("render", "--quiet", "rooms/cat.json", "cat.wav", expect=0)


GROUPS = {"formats": test_formats, "auralise": test_auralise, "materials": test_materials}


def missing_readers(group):
    if group != "materials" and not (shutil.which("sox") and shutil.which("ffprobe")):
        return "sox and ffprobe are needed"
    return None


if __name__ == "__main__":
    sys.exit(run_groups(GROUPS, missing_readers))
