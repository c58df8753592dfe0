#!/usr/bin/python3
"""Workloads A, B and C of bench/workloads.h in pyroomacoustics, for the
record beside fast-mode.md's speed table: the same plan, rays, impulse
length, sample rate and stopping level, traced by its ray tracer alone (no
image sources, no air), in 2D as our plan is.

    PYTHONPATH=/path/to/pyroomacoustics /usr/bin/python3 bench/pyroomacoustics_speed.py [--rounds 3]

Its materials take energy absorption and a scattering coefficient; ours an
amplitude reflection and a blur angle: 1 - 0.8 absorption matches, the
scattering does not translate and is set to the same number. Our 1 m
receiver strip becomes a receiver circle 1 m across. Prints the best of the
rounds per workload, in seconds of compute_rir (one thread: its tracer has
no other).
"""

import argparse
import math
import time

import numpy as np
import pyroomacoustics as pra


def star():
    corners = []
    for i in range(140):
        a = 2 * math.pi * i / 140
        r = 9.0 * (1.0 + 0.25 * math.sin(5 * a) + 0.04 * (((i * 7919) % 11) - 5) / 5.0)
        corners.append((r * math.cos(a), r * math.sin(a)))
    return corners


WORKLOADS = {
    # corners, scattering, rays, seconds, source, receiver
    "A": ([(0, 0), (20, 0), (20, 15), (0, 15)], 0.1, 100000, 2.0, (5, 7), (14, 9)),
    "B": ([(0, 0), (20, 0), (20, 15), (0, 15)], 0.0, 100000, 2.0, (5, 7), (14, 9)),
    "C": (star(), 0.1, 20000, 1.0, (-3, 1), (2.5, 0)),
}


def run(corners, scattering, rays, seconds, source, receiver):
    room = pra.Room.from_corners(np.array(corners, dtype=float).T, fs=44100, max_order=0,
                                 materials=pra.Material(0.2, scattering), ray_tracing=True,
                                 air_absorption=False)
    # Amplitude 1e-4, our stopping level, is energy 1e-8.
    room.set_ray_tracing(n_rays=rays, receiver_radius=0.5, energy_thres=1e-8,
                         time_thres=seconds, hist_bin_size=0.004)
    room.add_source(list(source))
    room.add_microphone(np.array(receiver, dtype=float).reshape(2, 1))
    start = time.perf_counter()
    room.compute_rir()
    return time.perf_counter() - start


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--rounds", type=int, default=3)
    args = parser.parse_args()
    for letter, workload in WORKLOADS.items():
        best = min(run(*workload) for _ in range(args.rounds))
        print(f"{letter} pyroomacoustics {best:.3f} s")


if __name__ == "__main__":
    main()
