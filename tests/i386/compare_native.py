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

# Below this, a difference is the kind a last-bit difference of an
# elementary function leaves in a sample, not a different rendering.
ROUNDING_LIMIT = 1e-12


def chunks(data):
    """The chunks of a RIFF/WAVE file as a list of (tag, body)."""
    if data[:4] != b"RIFF" or data[8:12] != b"WAVE":
        raise ValueError("not a RIFF/WAVE file")
    found, at = [], 12
    while at + 8 <= len(data):
        tag, size = data[at:at + 4], struct.unpack_from("<I", data, at + 4)[0]
        found.append((tag, data[at + 8:at + 8 + size]))
        at += 8 + size + (size & 1)
    return found


def float_samples(parts):
    fmt = dict(parts).get(b"fmt ")
    code, _, _, _, _, bits = struct.unpack_from("<HHIIHH", fmt)
    if code == 0xFFFE:
        code = struct.unpack_from("<H", fmt, 24)[0]
    if (code, bits) != (3, 32):
        raise ValueError("not 32-bit float")
    samples = array("f")
    samples.frombytes(dict(parts)[b"data"])
    if sys.byteorder != "little":
        samples.byteswap()
    return samples


def compare(native_path, i386_path):
    """(identical?, description, largest sample difference or None)."""
    if not os.path.exists(native_path) or not os.path.exists(i386_path):
        return False, "missing", None
    a, b = open(native_path, "rb").read(), open(i386_path, "rb").read()
    if a == b:
        return True, "identical", 0.0
    parts_a, parts_b = chunks(a), chunks(b)
    other_a = [(t, body) for t, body in parts_a if t != b"data"]
    other_b = [(t, body) for t, body in parts_b if t != b"data"]
    x, y = float_samples(parts_a), float_samples(parts_b)
    if len(x) != len(y):
        return False, f"{len(x)} vs {len(y)} samples", None
    if other_a != other_b:
        return False, "header or metadata differ", None
    differing = [abs(p - q) for p, q in zip(x, y) if p != q]
    largest = max(differing)
    kind = f"within {ROUNDING_LIMIT:g}" if largest < ROUNDING_LIMIT else "differs"
    return False, f"{kind}: {len(differing)} samples, largest {largest:.2g}", largest


def render_all(jobs, count):
    """Runs every (command, outdir) job at once: the emulated ones are slow
    and single-threaded. True when all of them succeeded."""
    running = []
    for command, outdir in jobs:
        shutil.rmtree(outdir, ignore_errors=True)
        running.append((command, subprocess.Popen(
            command + [outdir, "--count", str(count)],
            stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)))
    ok = True
    for command, process in running:
        _, errors = process.communicate()
        if process.returncode != 0:
            print(f"render failed ({process.returncode}): {' '.join(command)}\n{errors}",
                  file=sys.stderr)
            ok = False
    return ok


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--work", required=True)
    parser.add_argument("--count", type=int,
                        default=int(os.environ.get("ZM_CORPUS_COUNT", "24")))
    parser.add_argument("--emulator", default="")
    for name in ("native_driver", "native_lib", "native_portable",
                 "i386_driver", "i386_lib", "i386_portable"):
        parser.add_argument(name)
    args = parser.parse_args()
    emulator = [args.emulator] if args.emulator else []
    work = os.path.abspath(args.work)

    sides = {
        "native": [args.native_driver],
        "i386": emulator + [args.i386_driver],
    }
    libraries = {
        "portable": {"native": args.native_portable, "i386": args.i386_portable},
        "libc": {"native": args.native_lib, "i386": args.i386_lib},
    }
    jobs = [(driver + [os.path.abspath(per_side[side])], os.path.join(work, pair, side))
            for pair, per_side in libraries.items() for side, driver in sides.items()]
    if not render_all(jobs, args.count):
        return 1

    names = sorted(os.listdir(os.path.join(work, "portable", "native")))
    rows, portable_faults = [], 0
    libc = {"identical": 0, "close": 0, "diverge": 0, "other length": 0}
    libc_largest = 0.0
    for name in names:
        results = {pair: compare(os.path.join(work, pair, "native", name),
                                 os.path.join(work, pair, "i386", name))
                   for pair in libraries}
        portable_faults += not results["portable"][0]
        same, _, largest = results["libc"]
        if same:
            libc["identical"] += 1
        elif largest is None:
            libc["other length"] += 1
        else:
            libc["close" if largest < ROUNDING_LIMIT else "diverge"] += 1
            libc_largest = max(libc_largest, largest)
        rows.append((name[:-len(".wav")], results["portable"][1], results["libc"][1]))

    width = max(len(r[0]) for r in rows)
    lines = [f"{'design':<{width}}  {'portable math':<15}  C library"]
    lines += [f"{name:<{width}}  {portable:<15}  {libc}" for name, portable, libc in rows]
    lines.append("")
    lines.append(f"portable math: {len(rows) - portable_faults} of {len(rows)} designs identical"
                 + ("" if portable_faults == 0 else f"; {portable_faults} DIFFER (a 32-bit fault)"))
    lines.append(f"C library: {libc['identical']} identical, {libc['close']} within "
                 f"{ROUNDING_LIMIT:g} of full scale, {libc['diverge']} diverge (largest "
                 f"difference {libc_largest:.2g} of full scale), {libc['other length']} "
                 "of another length or layout")
    report = "\n".join(lines) + "\n"
    sys.stdout.write(report)
    with open(os.path.join(work, "report.txt"), "w") as out:
        out.write(report)
    return 1 if portable_faults or not rows else 0


if __name__ == "__main__":
    sys.exit(main())
