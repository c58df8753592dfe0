"""A quick look at fast mode's room against the exact path's: a few seeds and
bounds wide enough for them; scripts/fast-equivalence.py is the full study."""

import math
import os
import runpy
import types

SOURCE = os.environ.get("ZM_SOURCE_DIR", os.path.join(os.path.dirname(__file__), "..", ".."))
study = types.SimpleNamespace(
    **runpy.run_path(os.path.join(SOURCE, "scripts", "fast-equivalence.py")))

# Three times the full study's bounds, and never tighter than four standard
# errors of the difference: a biased tracer (a lost reflection order, a
# wrong absorption or spreading) shows far beyond that; chance does not.
LOOSE = {figure: (kind, 3 * limit) for figure, (kind, limit) in study.BOUNDS.items()}


def test_fast_mode_gives_the_exact_paths_room_within_a_few_seeds():
    designs = study.reference_designs()
    seeds = [study.FIRST_SEED + i for i in range(5)]
    failures = []
    # The studio (specular and absorbing patches, two cardioids) and the
    # star of 140 walls (non-convex, scattering).
    for name in ("small-studio", "C"):
        result = study.study(designs[name], seeds)
        failures += [f"{name}: {f}" for f in study.judge(
            result, bounds=LOOSE, spread=(0, math.inf), decay_db=1.5, noise=4)]
    assert not failures
