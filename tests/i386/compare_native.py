#!/usr/bin/env python3
"""Renders the generated design corpus of bench/render_corpus.cpp through a
native and an i386 build of the engine, in 32-bit float, and compares the
two outputs of every design.

    compare_native.py --work DIR [--count N] [--emulator EMU]
        NATIVE_DRIVER NATIVE_LIB NATIVE_PORTABLE I386_DRIVER I386_LIB I386_PORTABLE

Two pairs of libraries are compared:

- portable: each build's libzm_portable_math.so, the engine linked with the
  same elementary functions (portable_math.c). Everything else is the
  engine's own arithmetic, which must give the same bytes on 32 bits; any
  difference fails the test.
- C library: each build's libzm.so with its own C library's sin, cos, atan2,
  exp and log, which differ between the 32-bit and 64-bit glibc in the last
  bit about once in a thousand calls. Reported, not required: one such bit
  can send a ray past the other side of a corner, after which the tracer's
  random sequence goes to different rays and the rest of the run differs.

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

# Below this, a difference is what a last-bit difference of an elementary
# function leaves in a sample, not a different rendering.
ROUNDING_LIMIT = 1e-12


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


def compare(native_path, i386_path):
    """("identical" | "close" | "differs" | "layout", description)."""
    a, b = open(native_path, "rb").read(), open(i386_path, "rb").read()
    if a == b:
        return "identical", "identical"
    (other_a, x), (other_b, y) = split_wave(a), split_wave(b)
    if other_a != other_b or len(x) != len(y):
        return "layout", f"{len(x)} vs {len(y)} samples, or other chunks differ"
    differing = [abs(p - q) for p, q in zip(x, y) if p != q]
    largest = max(differing)
    kind = "close" if largest < ROUNDING_LIMIT else "differs"
    label = f"within {ROUNDING_LIMIT:g}" if kind == "close" else "differs"
    return kind, f"{label}: {len(differing)} samples, largest {largest:.2g}"


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--work", required=True)
    parser.add_argument("--count", type=int, default=int(os.environ.get("ZM_CORPUS_COUNT", "24")))
    parser.add_argument("--emulator", default="")
    for name in ("native_driver", "native_lib", "native_portable",
                 "i386_driver", "i386_lib", "i386_portable"):
        parser.add_argument(name)
    args = parser.parse_args()
    work = os.path.abspath(args.work)
    drivers = {"native": [args.native_driver],
               "i386": ([args.emulator] if args.emulator else []) + [args.i386_driver]}
    libraries = {("portable", "native"): args.native_portable, ("libc", "native"): args.native_lib,
                 ("portable", "i386"): args.i386_portable, ("libc", "i386"): args.i386_lib}

    # All four at once: the emulated ones are slow and single-threaded.
    running = []
    for (pair, side), library in libraries.items():
        outdir = os.path.join(work, pair, side)
        shutil.rmtree(outdir, ignore_errors=True)
        command = drivers[side] + [os.path.abspath(library), outdir, "--count", str(args.count)]
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

    names = sorted(os.listdir(os.path.join(work, "portable", "native")))
    lines = [f"{'design':<40}  {'portable math':<15}  C library"]
    counts = {(pair, kind): 0 for pair in ("portable", "libc")
              for kind in ("identical", "close", "differs", "layout")}
    for name in names:
        row = []
        for pair in ("portable", "libc"):
            kind, description = compare(*(os.path.join(work, pair, side, name)
                                           for side in ("native", "i386")))
            counts[pair, kind] += 1
            row.append(description)
        lines.append(f"{name[:-4]:<40}  {row[0]:<15}  {row[1]}")
    portable_faults = len(names) - counts["portable", "identical"]
    lines += ["", f"portable math: {counts['portable', 'identical']} of {len(names)} designs "
              f"identical{'' if not portable_faults else ' (the others are 32-bit faults)'}",
              f"C library: {counts['libc', 'identical']} identical, {counts['libc', 'close']} "
              f"within {ROUNDING_LIMIT:g} of full scale, {counts['libc', 'differs']} diverge, "
              f"{counts['libc', 'layout']} of another length"]
    report = "\n".join(lines) + "\n"
    sys.stdout.write(report)
    with open(os.path.join(work, "report.txt"), "w") as out:
        out.write(report)
    return 1 if portable_faults or not names else 0


if __name__ == "__main__":
    sys.exit(main())
