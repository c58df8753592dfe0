#!/usr/bin/python3
"""Renders a few designs with the test driver and has readers that were not
written here read the files back: Python's wave module (integer formats) and
sndfile-info when installed (every format). Each must report the channels,
rate and bits that were asked for, sndfile-info the title too, and both the
same number of frames, more than one.

usage: process_wave_check.py DRIVER WORKDIR
"""
import os
import re
import shutil
import subprocess
import sys
import wave

CASES = [(16, 0, 44100, "Small room"), (24, 2, 48000, "Hall - Balcony"),
         (8, 5, 44100, "Odd"), (32, 1, 96000, "Float")]  # bits, channel, rate, title


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
        out = subprocess.run([driver, path, str(bits), str(channel), str(rate), title],
                             capture_output=True, text=True)
        if out.returncode != 0:
            failures.append(f"driver failed for {bits} bits: {out.stderr.strip()}")
            continue
        channels, frames = max(2, channel + 1), {}
        if bits != 32:
            with wave.open(path, "rb") as w:
                frames["wave"] = w.getnframes()
                check(f"{bits}-bit wave", (w.getnchannels(), w.getframerate(), w.getsampwidth() * 8,
                                           len(w.readframes(w.getnframes()))),
                      (channels, rate, bits, w.getnframes() * channels * bits // 8))
        if sndfile_info:
            text = subprocess.run([sndfile_info, path], capture_output=True, text=True).stdout
            fields = [re.search(rf"^\s*{name}\s*:\s*(\S+)", text, re.M)
                      for name in ("Channels", "Sample Rate", "Bit Width", "Frames")]
            got = [m and m.group(1) for m in fields]
            check(f"{bits}-bit sndfile-info", got[:3], [str(channels), str(rate), str(bits)])
            frames["sndfile-info"] = int(got[3] or 0)
            tag = "WAVE_FORMAT_IEEE_FLOAT" if bits == 32 else "WAVE_FORMAT_PCM"
            if "error" in text.lower() or tag not in text or title not in text:
                failures.append(f"{bits}-bit: sndfile-info wants {tag} and {title!r}:\n{text}")
        if len(set(frames.values())) > 1 or min(frames.values(), default=2) < 2:
            failures.append(f"{bits}-bit: frame counts {frames}")
    for f in failures:
        print("FAIL", f)
    print("checked", len(CASES), "files;", "with" if sndfile_info else "without", "sndfile-info")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
