#!/usr/bin/env bash
# Times the reference workloads A-D of bench/speed_workloads.cpp through two
# revisions of the engine, side by side, and checks that both write the same
# output bytes.
# Usage: bench/compare-speed.sh BASE_REV [NEW_REV]   (NEW_REV default HEAD)
# Each revision is built (Release, library only) in a temporary worktree;
# the driver is compiled from this tree, so the same code times both. Every
# round runs each workload once through each build, alternating which build
# goes first; the table shows the median seconds and before/after.
# Environment: ZM_SPEED_ROUNDS (default 5), ZM_SPEED_ONLY (default ABCD),
# ZM_JOBS (default 2), ZM_SPEED_DIR (work folder, kept; default a fresh
# folder under /tmp, removed at the end), CXX (default g++). ZM_THREADS
# passes through to both builds (the older one may ignore it).
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
(($# == 1 || $# == 2)) || { echo "usage: bench/compare-speed.sh BASE_REV [NEW_REV]" >&2; exit 2; }
base_rev=$(git -C "$root" rev-parse --verify "$1^{commit}")
new_rev=$(git -C "$root" rev-parse --verify "${2:-HEAD}^{commit}")
rounds=${ZM_SPEED_ROUNDS:-5}
only=${ZM_SPEED_ONLY:-ABCD}
jobs=${ZM_JOBS:-2}

keep=${ZM_SPEED_DIR:+1}
work=${ZM_SPEED_DIR:-$(mktemp -d /tmp/zm-speed.XXXXXX)}
mkdir -p "$work"
work=$(realpath "$work")
cleanup() {
  for side in base new; do
    [[ -d $work/$side/src ]] && git -C "$root" worktree remove --force "$work/$side/src"
  done
  [[ -n $keep ]] || rm -rf "$work"
}
trap cleanup EXIT

# build SIDE REV: the shared library of REV, at $work/SIDE/libzm.so.
build() {
  local side=$1 rev=$2 dir=$work/$1
  rm -rf "$dir"
  mkdir -p "$dir"
  git -C "$root" worktree add --detach "$dir/src" "$rev" >/dev/null
  cmake -S "$dir/src" -B "$dir/build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DZM_BUILD_TESTS=OFF \
    -DZM_BUILD_TOOLS=OFF -DZM_INSTALL=OFF >"$dir/configure.log"
  cmake --build "$dir/build" -j "$jobs" --target zm >"$dir/build.log"
  ln -sf "$dir/build/src/libzm.so" "$dir/libzm.so"
}
echo "== building base $base_rev and new $new_rev"
build base "$base_rev"
build new "$new_rev"

driver=$work/speed_workloads
"${CXX:-g++}" -std=c++20 -O2 -ffp-contract=off -Wall -Wextra -Wpedantic -I "$root/include" \
  "$root/bench/speed_workloads.cpp" -o "$driver" -ldl

echo "== output bytes"
status=0
for side in base new; do
  mkdir -p "$work/$side/out"
  "$driver" "$work/$side/libzm.so" --only "$only" --out "$work/$side/out" >/dev/null
done
for ((i = 0; i < ${#only}; ++i)); do
  w=${only:i:1}
  if cmp -s "$work/base/out/$w.wav" "$work/new/out/$w.wav"; then
    echo "$w identical"
  else
    echo "$w DIFFERS"
    status=1
  fi
done

echo "== timing, $rounds rounds"
for ((r = 0; r < rounds; ++r)); do
  for ((i = 0; i < ${#only}; ++i)); do
    w=${only:i:1}
    order=(base new)
    ((r % 2 == 0)) || order=(new base)
    for side in "${order[@]}"; do
      "$driver" "$work/$side/libzm.so" --only "$w" | sed "s/^/$side /" >>"$work/times.txt"
    done
  done
done

/usr/bin/python3 - "$work/times.txt" "$only" <<'EOF'
import statistics, sys
times = {}
for line in open(sys.argv[1]):
    side, workload, seconds = line.split()
    times.setdefault((side, workload), []).append(float(seconds))
print(f"{'workload':>8} {'before s':>9} {'after s':>9} {'ratio':>7}")
for w in sys.argv[2]:
    before = statistics.median(times[("base", w)])
    after = statistics.median(times[("new", w)])
    print(f"{w:>8} {before:9.3f} {after:9.3f} {before / after:6.2f}x")
EOF
exit $status
