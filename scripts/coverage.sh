#!/usr/bin/env bash
# Line and branch coverage of src/ and tools/ by the whole test suite, the
# Python tests of the zm tool included (the instrumented zm writes its
# counts when it exits).
# Usage: scripts/coverage.sh [BUILD_DIR]   (default: build/coverage)
# Configures a gcc build with --coverage -O0 -g (counters updated atomically:
# worker threads would otherwise leave counts gcovr cannot parse; tests and
# tools on, no benchmarks or fuzzers), builds it, clears old counts, runs ctest and
# prints a summary from gcovr (Debian package gcovr). Branches that exist
# only for exceptions thrown by callees are not counted (gcovr's
# --exclude-throw-branches), nor those the compiler proved unreachable.
# Environment: ZM_JOBS (default 2). Exits non-zero when a step fails; the
# summary is printed even when some tests fail.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${1:-$root/build/coverage}
jobs=${ZM_JOBS:-2}
command -v gcovr >/dev/null || { echo "coverage: gcovr is not installed" >&2; exit 1; }

cmake -S "$root" -B "$build" -G Ninja \
  -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_C_COMPILER=gcc -DCMAKE_CXX_COMPILER=g++ \
  -DCMAKE_C_FLAGS="--coverage -fprofile-update=atomic -O0 -g" \
  -DCMAKE_CXX_FLAGS="--coverage -fprofile-update=atomic -O0 -g" \
  -DCMAKE_EXE_LINKER_FLAGS=--coverage -DCMAKE_SHARED_LINKER_FLAGS=--coverage \
  -DPython3_EXECUTABLE=/usr/bin/python3 \
  -DZM_BUILD_TESTS=ON -DZM_BUILD_TOOLS=ON -DZM_BUILD_BENCH=OFF -DZM_BUILD_FUZZ=OFF \
  -DZM_SANITIZE=OFF
cmake --build "$build" -j "$jobs"

find "$build" -name '*.gcda' -delete
tests_rc=0
ctest --test-dir "$build" -j "$jobs" --output-on-failure --timeout 1800 || tests_rc=$?

summary=$build/coverage-summary.json
gcovr --root "$root" --filter "$root/src/" --filter "$root/tools/" -j "$jobs" \
  --exclude-throw-branches --exclude-unreachable-branches \
  --json-summary "$summary" "$build"

/usr/bin/python3 - "$summary" <<'EOF'
import json, sys
files = json.load(open(sys.argv[1]))["files"]
def row(name, picked):
    lc = sum(f["line_covered"] for f in picked); lt = sum(f["line_total"] for f in picked)
    bc = sum(f["branch_covered"] for f in picked); bt = sum(f["branch_total"] for f in picked)
    pct = lambda c, t: 100.0 * c / t if t else 0.0
    print(f"{name:<8} {pct(lc, lt):6.1f}% {lc:>6}/{lt:<6} {pct(bc, bt):6.1f}% {bc:>6}/{bt:<6}")
print(f"{'area':<8} {'lines':>7} {'covered/total':<13} {'branches':>7} {'covered/total':<13}")
row("src/", [f for f in files if f["filename"].startswith("src/")])
row("tools/", [f for f in files if f["filename"].startswith("tools/")])
row("total", files)
EOF
if ((tests_rc != 0)); then
  echo "coverage: some tests failed (ctest exit $tests_rc)" >&2
  exit "$tests_rc"
fi
