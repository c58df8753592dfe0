#!/bin/sh
# Runs every fuzz target for a short while, each seeded with a scratch copy
# of its corpus, and fails when any of them finds a crash.
#   fuzz/run-short.sh BUILD_DIR SECONDS
set -u
if [ $# -ne 2 ]; then
  echo "usage: $0 BUILD_DIR SECONDS" >&2
  exit 2
fi
build=$(cd "$1" && pwd) || exit 2
seconds=$2
here=$(cd "$(dirname "$0")" && pwd)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT INT TERM

status=0
for target in fuzz_hrc_decode fuzz_load_design fuzz_load_material fuzz_hrc_roundtrip; do
  binary=$build/fuzz/$target
  if [ ! -x "$binary" ]; then
    echo "$target: not built ($binary)" >&2
    status=1
    continue
  fi
  corpus=$scratch/$target
  mkdir -p "$corpus"
  if [ -d "$here/corpus/$target" ]; then
    cp "$here/corpus/$target"/* "$corpus"/ 2>/dev/null
  fi
  log=$scratch/$target.log
  if (cd "$scratch" && "$binary" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -print_final_stats=1 "$corpus" >"$log" 2>&1); then
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    speed=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
    echo "$target: ok, $runs runs, $speed exec/s"
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
