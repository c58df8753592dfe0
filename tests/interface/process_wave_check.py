#!/usr/bin/env python3
"""Renders a few designs with the test driver and has readers that were not
written here read the files back: Python's own wave module for the integer
formats, and sndfile-info (when installed) for every format. Each must
report the channels, rate, bits, frame count and title that were asked for.

usage: process_wave_check.py DRIVER WORKDIR
"""
import os
import re
import shutil
import struct
import subprocess
import sys
import wave

CASES = [  # bits, receiver channel, rate, title
    (16, 0, 44100, "Small room"),
    (24, 2, 48000, "Hall - Balcony"),
    (8, 5, 44100, "Odd"),
    (32, 1, 96000, "Float"),
]


def info_title(path):
    """The INAM text of the LIST/INFO chunk, read with nothing but struct."""
    with open(path, "rb") as f:
        data = f.read()
    assert data[:4] == b"RIFF" and data[8:12] == b"WAVE", "not RIFF/WAVE"
    assert struct.unpack_from("<I", data, 4)[0] == len(data) - 8, "RIFF size"
    at = 12
    while at + 8 <= len(data):
        cid, size = data[at:at + 4], struct.unpack_from("<I", data, at + 4)[0]
        if cid == b"LIST" and data[at + 8:at + 12] == b"INFO":
            e, end = at + 12, at + 8 + size
            while e + 8 <= end:
                eid, esize = data[e:e + 4], struct.unpack_from("<I", data, e + 4)[0]
                if eid == b"INAM":
                    return data[e + 8:e + 8 + esize].rstrip(b"\0").decode("latin-1")
                e += 8 + esize + (esize & 1)
        at += 8 + size + (size & 1)
    return None


def main():
    driver, workdir = sys.argv[1], sys.argv[2]
    os.makedirs(workdir, exist_ok=True)
    sndfile_info = shutil.which("sndfile-info")
    failures = []

    def check(what, got, expected):
        if got != expected:
            failures.append(f"{what}: got {got!r}, expected {expected!r}")

    for bits, channel, rate, title in CASES:
        path = os.path.join(workdir, f"outside_{bits}.wav")
        if os.path.exists(path):
            os.remove(path)
        out = subprocess.run([driver, path, str(bits), str(channel), str(rate), title],
                             capture_output=True, text=True)
        if out.returncode != 0:
            failures.append(f"driver failed for {bits} bits: {out.stderr.strip()}")
            continue
        lines = out.stdout.splitlines()
        frames = int(lines[3])
        channels = max(2, channel + 1)
        label = f"{bits}-bit"
        check(f"{label} driver channels", int(lines[0]), channels)
        if frames < 2:
            failures.append(f"{label}: only {frames} frames rendered")
        check(f"{label} title", info_title(path), title)

        if bits != 32:  # the wave module reads integer PCM only
            with wave.open(path, "rb") as w:
                check(f"{label} wave channels", w.getnchannels(), channels)
                check(f"{label} wave rate", w.getframerate(), rate)
                check(f"{label} wave bits", w.getsampwidth() * 8, bits)
                check(f"{label} wave frames", w.getnframes(), frames)
                check(f"{label} wave data", len(w.readframes(frames)),
                      frames * channels * bits // 8)

        if sndfile_info:
            text = subprocess.run([sndfile_info, path], capture_output=True,
                                  text=True).stdout
            if "error" in text.lower():
                failures.append(f"{label}: sndfile-info complains:\n{text}")

            def field(name):
                m = re.search(rf"^\s*{name}\s*:\s*(\S+)", text, re.M)
                return m.group(1) if m else None

            check(f"{label} sndfile channels", field("Channels"), str(channels))
            check(f"{label} sndfile rate", field("Sample Rate"), str(rate))
            check(f"{label} sndfile frames", field("Frames"), str(frames))
            check(f"{label} sndfile bits", field("Bit Width"), str(bits))
            check(f"{label} sndfile format tag",
                  "WAVE_FORMAT_IEEE_FLOAT" in text if bits == 32 else
                  "WAVE_FORMAT_PCM" in text, True)
            if title not in text:
                failures.append(f"{label}: title {title!r} not in sndfile-info output")

    for f in failures:
        print("FAIL", f)
    print("checked", len(CASES), "files;", "with" if sndfile_info else "without",
          "sndfile-info")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
