#!/usr/bin/env bash
# Builds and tests every configuration of the project, one after the other:
#   release  Release build with tools and benchmarks (built, not run); all tests
#   asan     Debug build with AddressSanitizer + UBSan; all tests
#   tsan     Optimised build with ThreadSanitizer; all tests (the whole
#            suite takes about a minute there, so no subset is needed)
#   mingw32  zm.dll for 32-bit Windows; checks of its PE image
#   mingw64  Windows test suite (64-bit) run under wine64 in a fresh prefix
#   i386     32-bit x86 Linux build with the code generation of zm.dll: the
#            test suite run under qemu-i386, and the design corpus rendered
#            beside a native build (report in build/linux-i386/tests/i386)
#   fuzz     libFuzzer targets, each run briefly from its seed corpus
#   web      the workbench page in WebAssembly, tested in headless chromium
#            against a native build of the tool (and of the engine with the
#            portable math functions, for byte-for-byte renders)
# and, only when asked for by name:
#   fuzz-long  the fuzz targets run for long (ZM_FUZZ_LONG_SECONDS each,
#            default 3600; ZM_FUZZ_TARGETS to choose some), at low priority,
#            their grown corpus kept in build/fuzz/corpus-long
#   fast-equivalence  fast mode against the exact path: 20 seeds of every
#            reference design in both modes, and the rooms with a height
#            against the 3D tracer (scripts/fast-equivalence.py; ZM_FAST_DOCS=1
#            also rewrites the tables and the plot in docs/)
# Usage: scripts/test-all.sh [stage...]   (default: all but the two above, in that order)
# Environment: ZM_JOBS (default 2), ZM_FUZZ_SECONDS (default 60 per target).
# Every stage runs even when an earlier one failed; the exit status is
# nonzero when any stage failed.
set -uo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"

jobs=${ZM_JOBS:-2}
fuzz_seconds=${ZM_FUZZ_SECONDS:-60}
stages=("$@")
((${#stages[@]})) || stages=(release asan tsan mingw32 mingw64 i386 fuzz web)

passed=()
failed=()
started=$SECONDS

log() { printf '\n=== %s\n' "$*"; }

# run NAME COMMAND...: one step of a stage; returns the command's status.
run() {
  local name=$1
  shift
  log "$name: $*"
  "$@"
  local rc=$?
  ((rc == 0)) || echo "--- $name failed (exit $rc)" >&2
  return $rc
}

stage_release() {
  run "release configure" cmake --preset release -DZM_BUILD_BENCH=ON &&
    run "release build" cmake --build build/release -j "$jobs" &&
    run "release tests" ctest --test-dir build/release --output-on-failure --timeout 900
}

stage_asan() {
  export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
  export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
  run "asan configure" cmake --preset asan &&
    run "asan build" cmake --build build/asan -j "$jobs" &&
    run "asan tests" ctest --test-dir build/asan --output-on-failure --timeout 1800
}

stage_tsan() {
  export TSAN_OPTIONS=${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1}
  run "tsan configure" cmake --preset tsan &&
    run "tsan build" cmake --build build/tsan -j "$jobs" &&
    run "tsan tests" ctest --test-dir build/tsan --output-on-failure --timeout 1800
}

stage_mingw32() {
  run "mingw32 configure" cmake --preset mingw32 &&
    run "mingw32 build" cmake --build build/mingw32 -j "$jobs" &&
    run "mingw32 PE check" bash scripts/check-pe.sh build/mingw32/src/zm.dll
}

stage_mingw64() {
  run "mingw64 configure" cmake --preset mingw64-tests &&
    run "mingw64 build" cmake --build build/mingw64-tests -j "$jobs" || return 1

  # A fresh prefix for every run, so nothing from an earlier run or from
  # the user's own wine setup leaks into the tests.
  local prefix rc
  prefix=$(mktemp -d "${TMPDIR:-/tmp}/zm-wine.XXXXXX")
  export WINEPREFIX=$prefix WINEDEBUG=-all
  run "wine prefix" bash cmake/wine-run.sh wineboot --init
  run "mingw64 tests (wine)" ctest --test-dir build/mingw64-tests --output-on-failure --timeout 900
  rc=$?
  local wine_dir wineserver
  wine_dir=$(dirname "$(command -v wine64 || echo /usr/lib/wine/wine64)")
  for wineserver in "$wine_dir/wineserver" "$wine_dir/wineserver64" wineserver; do
    if command -v "$wineserver" >/dev/null 2>&1; then
      "$wineserver" -k 2>/dev/null
      break
    fi
  done
  rm -rf "$prefix"
  unset WINEPREFIX
  return $rc
}

stage_i386() {
  # Not in this build: the zm tool and its tests (libsndfile and the tool's
  # other libraries are not installed for i386), the check of the output
  # files by outside readers (Python's wave module and sndfile-info run
  # natively; the render comparison holds the i386 files to the native
  # ones instead) and the packaging test (its consumer project is built
  # by the host compiler). ZM_CORPUS_COUNT sets the number of designs.
  local report=build/linux-i386/tests/i386/renders/report.txt
  rm -f "$report"
  run "i386 configure" cmake --preset linux-i386 &&
    run "i386 build" cmake --build build/linux-i386 -j "$jobs" &&
    run "i386 tests (qemu-i386)" ctest --test-dir build/linux-i386 --output-on-failure \
      --timeout 900 -j "$jobs"
  local rc=$?
  if [[ -f $report ]]; then
    log "i386 renders beside the native build"
    cat "$report"
  fi
  return $rc
}

stage_fuzz() {
  run "fuzz configure" cmake --preset fuzz &&
    run "fuzz build" cmake --build build/fuzz -j "$jobs" &&
    run "fuzz short runs" bash fuzz/run-short.sh build/fuzz "$fuzz_seconds"
}

stage_web() {
  run "web configure" cmake --preset wasm &&
    run "web build" cmake --build build/wasm -j "$jobs" &&
    run "web native tool" cmake --preset tool &&
    run "web native tool build" cmake --build build/tool -j "$jobs" --target zm_cli &&
    run "web native portable engine" cmake -S tests/i386/native -B build/web-native -G Ninja \
      -DCMAKE_BUILD_TYPE=Release &&
    run "web native portable engine build" cmake --build build/web-native -j "$jobs" \
      --target zm_portable_math &&
    run "web npm" npm ci --prefix web --no-audit --no-fund &&
    run "web tests" bash -c 'cd web && node --no-experimental-fetch --test tests/'
}

stage_fuzz_long() {
  # shellcheck disable=SC2086 # the target list is split on purpose
  run "fuzz configure" cmake --preset fuzz &&
    run "fuzz build" cmake --build build/fuzz -j "$jobs" &&
    ZM_FUZZ_CORPUS=$root/build/fuzz/corpus-long run "fuzz long runs" \
      nice bash fuzz/run-short.sh build/fuzz "${ZM_FUZZ_LONG_SECONDS:-3600}" ${ZM_FUZZ_TARGETS:-}
}

stage_fast_equivalence() {
  local docs=()
  [[ ${ZM_FAST_DOCS:-0} == 1 ]] && docs=(--docs "$root/docs")
  run "release configure" cmake --preset release &&
    run "release build" cmake --build build/release -j "$jobs" --target zm zmtool &&
    ZM_LIBRARY_PATH=$root/build/release/src:$root/build/release/tools \
      PYTHONPATH=$root/python MPLBACKEND=Agg \
      run "fast equivalence" /usr/bin/python3 scripts/fast-equivalence.py --control "${docs[@]}"
}

for stage in "${stages[@]}"; do
  if ! declare -F "stage_${stage//-/_}" >/dev/null; then
    echo "test-all: unknown stage '$stage'" >&2
    failed+=("$stage")
    continue
  fi
  stage_start=$SECONDS
  log "stage $stage"
  if "stage_${stage//-/_}"; then
    passed+=("$stage")
    echo "--- stage $stage passed in $((SECONDS - stage_start)) s"
  else
    failed+=("$stage")
    echo "--- stage $stage FAILED after $((SECONDS - stage_start)) s" >&2
  fi
done

echo
echo "test-all: ${#stages[@]} stages in $((SECONDS - started)) s"
((${#passed[@]})) && echo "  passed: ${passed[*]}"
((${#failed[@]})) && echo "  failed: ${failed[*]}"
echo "stages: ${#passed[@]} passed, ${#failed[@]} failed"
((${#failed[@]} == 0))
