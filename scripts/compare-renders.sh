#!/usr/bin/env bash
# Compares the output of two builds of the engine byte for byte.
# Usage: scripts/compare-renders.sh OLD_LIB NEW_LIB [--zm OLD_ZM NEW_ZM]
#   OLD_LIB, NEW_LIB  the shared libraries (libzm.so) of the two builds
#   --zm              also compare the two builds' zm tools: each example
#                     converted to a design file and back to JSON, the plan
#                     and impulse-response SVGs, `zm info` and
#                     `zm analyze --json` of every rendered file
# Renders the generated corpus of bench/render_corpus.cpp (built here from
# this tree) and the three examples, converted to design files by a zm tool
# (OLD_ZM with --zm; else $ZM_TOOL, or the tools/zm beside NEW_LIB or
# OLD_LIB), through both libraries in 32-bit float. Prints one row per
# output (identical, or how it differs: the largest sample difference
# relative to full scale) and exits 1 when anything differs.
# Environment: ZM_CORPUS_COUNT (default 24), ZM_CORPUS_SEED (default 1),
# ZM_COMPARE_DIR (work folder, kept; default a fresh folder under /tmp,
# removed when everything is identical), CXX (default g++).
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
usage() {
  echo "usage: scripts/compare-renders.sh OLD_LIB NEW_LIB [--zm OLD_ZM NEW_ZM]" >&2
  exit 2
}
(($# == 2 || $# == 5)) || usage
old_lib=$(realpath "$1")
new_lib=$(realpath "$2")
old_zm="" new_zm=""
if (($# == 5)); then
  [[ $3 == --zm ]] || usage
  old_zm=$(realpath "$4")
  new_zm=$(realpath "$5")
fi
for f in "$old_lib" "$new_lib" ${old_zm:+"$old_zm" "$new_zm"}; do
  [[ -f $f ]] || { echo "compare-renders: $f does not exist" >&2; exit 2; }
done

# The tool that turns the JSON examples into design files for both builds.
converter=${old_zm:-${ZM_TOOL:-}}
if [[ -z $converter ]]; then
  for candidate in "$(dirname "$new_lib")/../tools/zm" "$(dirname "$old_lib")/../tools/zm"; do
    if [[ -x $candidate ]]; then
      converter=$(realpath "$candidate")
      break
    fi
  done
fi
[[ -n $converter ]] || { echo "compare-renders: no zm tool found; set ZM_TOOL" >&2; exit 2; }

keep=${ZM_COMPARE_DIR:+1}
work=${ZM_COMPARE_DIR:-$(mktemp -d /tmp/zm-compare.XXXXXX)}
mkdir -p "$work"
work=$(realpath "$work")
rm -rf "${work:?}"/{old,new,designs,examples,tool}
mkdir -p "$work"/{designs,examples,tool/old,tool/new}
cp "$root"/examples/*.json "$work/examples/"

# The driver of this tree, compiled on its own: it needs only the header.
driver=$work/render_corpus
"${CXX:-g++}" -std=c++20 -O2 -ffp-contract=off -Wall -Wextra -Wpedantic -I "$root/include" \
  "$root/bench/render_corpus.cpp" -o "$driver" -ldl

designs=()
for json in "$work"/examples/*.json; do
  name=$(basename "$json" .json)
  "$converter" convert "$json" "$work/designs/$name.zmd"
  designs+=("$work/designs/$name.zmd")
done

corpus=(--count "${ZM_CORPUS_COUNT:-24}" --seed "${ZM_CORPUS_SEED:-1}")
status=0
echo "== rendering through $old_lib"
"$driver" "$old_lib" "$work/old" "${corpus[@]}" "${designs[@]}" >"$work/old.txt" || status=1
echo "== rendering through $new_lib"
"$driver" "$new_lib" "$work/new" "${corpus[@]}" "${designs[@]}" >"$work/new.txt" || status=1
((status == 0)) || echo "compare-renders: a render failed (see above)" >&2

# Pairs to compare, one "label<TAB>old<TAB>new" per line.
pairs=$work/pairs.txt
: >"$pairs"
for f in "$work"/old/*.wav "$work"/new/*.wav; do
  [[ -e $f ]] && basename "$f"
done | sort -u | while read -r wav; do
  printf '%s\t%s\t%s\n' "${wav%.wav}" "$work/old/$wav" "$work/new/$wav" >>"$pairs"
done

if [[ -n $old_zm ]]; then
  # tool SIDE NAME ARGS...: runs one build's zm in the work folder, so that
  # the paths it prints are the same for both, and keeps its stdout, its
  # stderr and its exit status in tool/SIDE/NAME.txt.
  tool() {
    local side=$1 name=$2 zm rc=0
    shift 2
    [[ $side == old ]] && zm=$old_zm || zm=$new_zm
    local log=$work/tool/$side/$name.txt
    (cd "$work" && "$zm" "$@") >"$log" 2>"$log.err" || rc=$?
    { echo "--- stderr" && cat "$log.err" && echo "--- exit $rc"; } >>"$log"
    rm "$log.err"
    ((rc == 0)) || { echo "compare-renders: $side zm $* failed (exit $rc)" >&2; status=1; }
  }
  for side in old new; do
    for json in "$work"/examples/*.json; do
      x=$(basename "$json" .json)
      tool "$side" "convert-$x" convert "examples/$x.json" "tool/$side/$x.zmd"
      tool "$side" "convert-back-$x" convert "tool/$side/$x.zmd" "tool/$side/$x.json"
      tool "$side" "plan-$x" plot plan "examples/$x.json" "tool/$side/plan-$x.svg"
      tool "$side" "info-$x" info "examples/$x.json"
      tool "$side" "ir-$x" plot ir "old/$x.wav" "tool/$side/ir-$x.svg"
    done
    # Every rendered file, measured by both tools from the same input.
    for wav in "$work"/old/*.wav; do
      x=$(basename "$wav" .wav)
      tool "$side" "analyze-$x" analyze --json "old/$x.wav"
    done
  done
  for f in "$work"/tool/old/*; do
    printf 'zm %s\t%s\t%s\n' "$(basename "$f")" "$f" "$work/tool/new/$(basename "$f")" >>"$pairs"
  done
fi

/usr/bin/python3 - "$pairs" <<'EOF' || status=1
import os, struct, sys
from array import array

def wave(data):
    """(channels, bits, float?, samples) of a RIFF/WAVE file, or None."""
    if data[:4] != b"RIFF" or data[8:12] != b"WAVE":
        return None
    at, fmt = 12, None
    while at + 8 <= len(data):
        tag, size = data[at:at + 4], struct.unpack_from("<I", data, at + 4)[0]
        body = data[at + 8:at + 8 + size]
        if tag == b"fmt ":
            code, channels, _, _, _, bits = struct.unpack_from("<HHIIHH", body)
            if code == 0xFFFE:
                code = struct.unpack_from("<H", body, 24)[0]
            fmt = (channels, bits, code == 3)
        elif tag == b"data" and fmt:
            channels, bits, is_float = fmt
            if is_float and bits == 32:
                samples = array("f", body)
            elif is_float and bits == 64:
                samples = array("d", body)
            elif bits == 8:
                samples = [(b - 128) / 128.0 for b in body]
            elif bits in (16, 24, 32):
                n = bits // 8
                samples = [int.from_bytes(body[i:i + n], "little", signed=True) / 2.0 ** (bits - 1)
                           for i in range(0, len(body) - n + 1, n)]
            else:
                return None
            return channels, bits, is_float, samples
        at += 8 + size + (size & 1)
    return None

def describe(old, new):
    a, b = wave(old), wave(new)
    if a is None or b is None:
        return "differs"
    if a[:3] != b[:3] or len(a[3]) != len(b[3]):
        return "differs: %d ch %d samples vs %d ch %d samples" % (a[0], len(a[3]), b[0], len(b[3]))
    largest = max((abs(x - y) for x, y in zip(a[3], b[3]) if x != y), default=0.0)
    if largest == 0.0:
        return "differs: samples equal, header or metadata not"
    return "differs: largest difference %.3g of full scale" % largest

rows, differing = [], 0
for line in open(sys.argv[1]):
    label, old, new = line.rstrip("\n").split("\t")
    if not os.path.exists(old) or not os.path.exists(new):
        result = "missing in " + ("old" if not os.path.exists(old) else "new")
    else:
        a, b = open(old, "rb").read(), open(new, "rb").read()
        result = "identical" if a == b else (describe(a, b) if old.endswith(".wav") else "differs")
    differing += result != "identical"
    rows.append((label, result))
width = max((len(r[0]) for r in rows), default=10)
for label, result in rows:
    print(f"{label:<{width}}  {result}")
print(f"\n{len(rows)} outputs compared: {len(rows) - differing} identical, {differing} differ")
sys.exit(1 if differing or not rows else 0)
EOF

if ((status == 0)) && [[ -z $keep ]]; then
  rm -rf "$work"
else
  echo "compare-renders: outputs kept in $work"
fi
exit $status
