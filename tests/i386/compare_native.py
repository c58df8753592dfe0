#!/usr/bin/env python3
"""Renders the generated design corpus of bench/render_corpus.cpp through a
native and an i386 build of the engine, in 32-bit float, and compares the
two outputs of every design.

    compare_native.py --work DIR [--count N] [--emulator EMU]
        NATIVE_DRIVER NATIVE_PORTABLE I386_DRIVER I386_PORTABLE

Each side renders with its libzm_portable_math.so: the engine linked with the
same elementary functions (portable_math.c), so that everything else is the
engine's own arithmetic, which must give the same bytes on 32 bits; any
difference fails the test. (With each C library's own sin, cos, atan2, exp
and log the 32-bit and 64-bit glibc differ in the last bit about once in a
thousand calls, and one such bit can send a ray past the other side of a
corner, after which the rest of the run differs: no comparison to require.)

Prints one row per design and writes the same report to DIR/report.txt.
The corpus size comes from --count, else ZM_CORPUS_COUNT, else 24.
"""
import argparse
import os
import shutil
import struct
import subprocess
import sys
from array import array


def split_wave(data):
    """(every chunk but the samples, the 32-bit float samples) of a file."""
    other, samples, at = [], array("f"), 12
    while at + 8 <= len(data):
        tag, size = data[at:at + 4], struct.unpack_from("<I", data, at + 4)[0]
        if tag == b"data":
            samples.frombytes(data[at + 8:at + 8 + size])
        else:
            other.append(data[at:at + 8 + size])
        at += 8 + size + (size & 1)
    if sys.byteorder != "little":
        samples.byteswap()
    return other, samples


def difference(native_path, i386_path):
    """None for identical files, else how they differ."""
    a, b = open(native_path, "rb").read(), open(i386_path, "rb").read()
    if a == b:
        return None
    (other_a, x), (other_b, y) = split_wave(a), split_wave(b)
    if other_a != other_b or len(x) != len(y):
        return f"{len(x)} vs {len(y)} samples, or other chunks differ"
    differing = [abs(p - q) for p, q in zip(x, y) if p != q]
    return f"differs: {len(differing)} samples, largest {max(differing):.2g}"


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--work", required=True)
    parser.add_argument("--count", type=int, default=int(os.environ.get("ZM_CORPUS_COUNT", "24")))
    parser.add_argument("--emulator", default="")
    for name in ("native_driver", "native_portable", "i386_driver", "i386_portable"):
        parser.add_argument(name)
    args = parser.parse_args()
    work = os.path.abspath(args.work)
    sides = {"native": [args.native_driver, args.native_portable],
             "i386": ([args.emulator] if args.emulator else []) +
             [args.i386_driver, args.i386_portable]}

    # Both at once: the emulated one is slow and single-threaded.
    running = []
    for side, (*driver, library) in sides.items():
        outdir = os.path.join(work, side)
        shutil.rmtree(outdir, ignore_errors=True)
        command = driver + [os.path.abspath(library), outdir, "--count", str(args.count)]
        running.append((command, subprocess.Popen(command, stdout=subprocess.DEVNULL,
                                                  stderr=subprocess.PIPE, text=True)))
    failed = False
    for command, process in running:
        errors = process.communicate()[1]
        if process.returncode != 0:
            print(f"failed ({process.returncode}): {' '.join(command)}\n{errors}", file=sys.stderr)
            failed = True
    if failed:
        return 1

    names = sorted(os.listdir(os.path.join(work, "native")))
    lines = [f"{'design':<40}  native against i386"]
    faults = 0
    for name in names:
        found = difference(*(os.path.join(work, side, name) for side in ("native", "i386")))
        faults += found is not None
        lines.append(f"{name[:-4]:<40}  {found or 'identical'}")
    lines += ["", f"{len(names) - faults} of {len(names)} designs identical"
              f"{' (the others are 32-bit faults)' if faults else ''}"]
    report = "\n".join(lines) + "\n"
    sys.stdout.write(report)
    with open(os.path.join(work, "report.txt"), "w") as out:
        out.write(report)
    return 1 if faults or not names else 0


if __name__ == "__main__":
    sys.exit(main())
