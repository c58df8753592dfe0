#!/bin/sh
# Runs fuzz targets (default: all) for a while each, seeded with a copy of
# their corpus, and fails when any of them finds a crash. Prints per target
# the executions, speed and coverage (libFuzzer's cov: edges, ft: features).
#   fuzz/run-short.sh BUILD_DIR SECONDS [TARGET...]
# ZM_FUZZ_CORPUS=DIR keeps each target's grown corpus in DIR/TARGET (and
# starts from it next time) instead of a scratch copy.
set -u
usage="usage: $0 BUILD_DIR SECONDS [TARGET...]"
build=$(cd "${1:?$usage}" && pwd) || exit 2
seconds=${2:?$usage}
shift 2
targets=${*:-fuzz_hrc_decode fuzz_load_design fuzz_load_material fuzz_process fuzz_design_json}
here=$(cd "$(dirname "$0")" && pwd)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT INT TERM

status=0
for target in $targets; do
  corpus=${ZM_FUZZ_CORPUS:+$ZM_FUZZ_CORPUS/$target}
  corpus=${corpus:-$scratch/$target}
  mkdir -p "$corpus"
  # Seeds: the target's own corpus; the JSON reader's are the example designs.
  cp "$here/corpus/$target"/* "$corpus"/ 2>/dev/null
  [ "$target" = fuzz_design_json ] && cp "$here/../examples"/*.json "$corpus"/
  log=$scratch/$target.log
  # A target that was not built fails here too, its log saying so.
  if (cd "$scratch" && "$build/fuzz/$target" -max_total_time="$seconds" -timeout=10 \
        -rss_limit_mb=2048 -print_final_stats=1 "$corpus" >"$log" 2>&1); then
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    speed=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
    coverage=$(grep -o 'cov: [0-9]* ft: [0-9]*' "$log" | tail -n 1)
    echo "$target: ok, $runs runs, $speed exec/s, $coverage"
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
