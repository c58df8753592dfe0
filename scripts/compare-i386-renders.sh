#!/usr/bin/env bash
# Renders the generated design corpus of bench/render_corpus.cpp through a
# native and an i386 build of the engine, in 32-bit float, and compares the
# two files of every design byte for byte. Run by the render_compare_native
# test of the linux-i386 build (tests/i386).
#
# Usage: scripts/compare-i386-renders.sh WORK EMULATOR NATIVE_DRIVER NATIVE_PORTABLE \
#          I386_DRIVER I386_PORTABLE
#
# Each side renders with its libzm_portable_math.so: the engine linked with the
# same elementary functions (bench/portable_math.c), so that everything
# else is the engine's own arithmetic, which must give the same bytes on 32
# bits; any difference fails. (With each C library's own sin, cos, atan2, exp
# and log, the 32-bit and 64-bit glibc differ in the last bit about once in a
# thousand calls, and one such bit can send a ray past the other side of a
# corner, after which the rest of the run differs: no comparison to require.)
# Prints one row per design and writes the same report to WORK/report.txt.
# Environment: ZM_CORPUS_COUNT, the number of designs (default 24).
set -uo pipefail

(($# == 6)) || { sed -n '7,8p' "$0" >&2; exit 2; }
work=$1 emulator=$2
count=${ZM_CORPUS_COUNT:-24}
mkdir -p "$work"
work=$(realpath "$work")
rm -rf "${work:?}/native" "${work:?}/i386" "$work/report.txt"

# Both at once: the emulated side is slow and single-threaded.
"$3" "$(realpath "$4")" "$work/native" --count "$count" >/dev/null 2>"$work/native.err" &
native=$!
# shellcheck disable=SC2086 # an empty emulator runs the driver directly
$emulator "$5" "$(realpath "$6")" "$work/i386" --count "$count" >/dev/null 2>"$work/i386.err" &
i386=$!
failed=0
for side in native i386; do
  if ! wait "${!side}"; then
    echo "the $side renders failed:" >&2
    cat "$work/$side.err" >&2
    failed=1
  fi
done
((failed == 0)) || exit 1

{
  printf '%-40s  native against i386\n' design
  total=0 same=0
  for file in "$work"/native/*.wav; do
    [[ -e $file ]] || continue
    name=$(basename "$file" .wav)
    total=$((total + 1))
    other=$work/i386/$name.wav
    if cmp -s "$file" "$other"; then
      same=$((same + 1))
      printf '%-40s  identical\n' "${name:0:40}"
    elif [[ ! -f $other ]]; then
      printf '%-40s  no i386 file\n' "${name:0:40}"
    elif (($(stat -c %s "$file") != $(stat -c %s "$other"))); then
      printf '%-40s  %d against %d bytes\n' "${name:0:40}" "$(stat -c %s "$file")" \
        "$(stat -c %s "$other")"
    else
      printf '%-40s  differs in %d bytes\n' "${name:0:40}" "$(cmp -l "$file" "$other" | wc -l)"
    fi
  done
  printf '\n%d of %d designs identical\n' "$same" "$total"
} | tee "$work/report.txt"

# Every design identical, and at least one rendered.
tail -n 1 "$work/report.txt" | grep -Eq '^([1-9][0-9]*) of \1 designs identical$'
