#!/usr/bin/python3
"""Renders a few designs with the test driver and has a reader that was not
written here, sndfile-info, read the files back: it must report the format,
channels, rate, bits and title that were asked for, more than one frame, and
no error. Without sndfile-info there is nothing to check.

usage: process_wave_check.py DRIVER WORKDIR
"""
import os
import re
import shutil
import subprocess
import sys

CASES = [(16, 0, 44100, "Small room"), (24, 2, 48000, "Hall - Balcony"),
         (8, 5, 44100, "Odd"), (32, 1, 96000, "Float")]  # bits, channel, rate, title


def main():
    driver, workdir = sys.argv[1], sys.argv[2]
    os.makedirs(workdir, exist_ok=True)
    sndfile_info = shutil.which("sndfile-info")
    if not sndfile_info:
        print("skipped: no sndfile-info")
        return 0
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
        text = subprocess.run([sndfile_info, path], capture_output=True, text=True).stdout
        fields = [re.search(rf"^\s*{name}\s*:\s*(\S+)", text, re.M)
                  for name in ("Channels", "Sample Rate", "Bit Width", "Frames")]
        got = [m and m.group(1) for m in fields]
        check(f"{bits}-bit", got[:3], [str(max(2, channel + 1)), str(rate), str(bits)])
        if int(got[3] or 0) < 2:
            failures.append(f"{bits}-bit: {got[3]} frames")
        tag = "WAVE_FORMAT_IEEE_FLOAT" if bits == 32 else "WAVE_FORMAT_PCM"
        if "error" in text.lower() or tag not in text or title not in text:
            failures.append(f"{bits}-bit: sndfile-info wants {tag} and {title!r}:\n{text}")
    for f in failures:
        print("FAIL", f)
    print("checked", len(CASES), "files with sndfile-info")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
