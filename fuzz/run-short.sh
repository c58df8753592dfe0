#!/bin/sh
# Runs fuzz targets (default: all) for a while each, seeded with a copy of
# their corpus, and fails when any of them finds a crash. Prints per target
# the executions, speed and coverage (libFuzzer's cov: edges, ft: features).
#   fuzz/run-short.sh BUILD_DIR SECONDS [TARGET...]
# ZM_FUZZ_CORPUS=DIR keeps each target's grown corpus in DIR/TARGET (and
# starts from it next time) instead of a scratch copy.
set -u
if [ $# -lt 2 ]; then
  echo "usage: $0 BUILD_DIR SECONDS [TARGET...]" >&2
  exit 2
fi
build=$(cd "$1" && pwd) || exit 2
seconds=$2
shift 2
targets=${*:-fuzz_hrc_decode fuzz_load_design fuzz_load_material fuzz_hrc_roundtrip fuzz_process fuzz_design_json}
here=$(cd "$(dirname "$0")" && pwd)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT INT TERM

status=0
for target in $targets; do
  binary=$build/fuzz/$target
  if [ ! -x "$binary" ]; then
    echo "$target: not built ($binary)" >&2
    status=1
    continue
  fi
  corpus=${ZM_FUZZ_CORPUS:+$ZM_FUZZ_CORPUS/$target}
  corpus=${corpus:-$scratch/$target}
  mkdir -p "$corpus"
  if [ -d "$here/corpus/$target" ]; then
    cp "$here/corpus/$target"/* "$corpus"/ 2>/dev/null
  fi
  # The JSON reader starts from the example designs.
  if [ "$target" = fuzz_design_json ]; then
    cp "$here/../examples"/*.json "$corpus"/
  fi
  log=$scratch/$target.log
  if (cd "$scratch" && ZM_FUZZ_STATS=1 "$binary" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -print_final_stats=1 "$corpus" >"$log" 2>&1); then
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    speed=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
    coverage=$(grep -o 'cov: [0-9]* ft: [0-9]*' "$log" | tail -n 1)
    echo "$target: ok, $runs runs, $speed exec/s, $coverage"
    grep '^fuzz_process:' "$log"
  else
    echo "$target: FAILED" >&2
    tail -n 40 "$log" >&2
    mkdir -p "$build/fuzz-findings"
    cp "$scratch"/crash-* "$scratch"/leak-* "$scratch"/timeout-* "$scratch"/oom-* \
      "$build/fuzz-findings"/ 2>/dev/null
    status=1
  fi
done
exit $status
