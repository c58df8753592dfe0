#!/usr/bin/env bash
# Non-blank lines of C, C++ and Python source and header files: code in
# src/, include/, tools/, bench/ and python/ (its tests apart), tests in
# tests/, fuzz/ and python/tests/; per folder, in total, and the ratio of
# test lines to code lines.
# Usage: scripts/line-counts.sh [ROOT]   (default: the checkout holding this script)
set -euo pipefail

root=${1:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)}
cd "$root"

# sources KIND DIR...: "KIND<TAB>path" for every source file under the DIRs
# that exist, leaving out caches, build trees and python/tests (counted as
# tests on its own).
sources() {
  local kind=$1 dir
  shift
  for dir in "$@"; do
    [[ -d $dir ]] || continue
    find "$dir" \( -name __pycache__ -o -name build -o -name '*.egg-info' -o -path python/tests ! -path "$dir" \) \
      -prune -o -type f \( -name '*.c' -o -name '*.h' -o -name '*.cc' -o -name '*.cpp' \
      -o -name '*.hpp' -o -name '*.inc' -o -name '*.py' \) -printf "$kind\t%p\n"
  done
}

{
  sources code src include tools bench python
  sources test tests fuzz python/tests
} | sort -t $'\t' -k2 | awk -F '\t' '
  {
    kind = $1; path = $2; n = 0
    while ((getline line < path) > 0) if (line ~ /[^[:space:]]/) n++
    close(path)
    # Folder: the first two levels (src/tracer), or the top one for files
    # that lie directly in it (tools/main.cpp).
    parts = split(path, p, "/")
    folder = (parts > 2) ? p[1] "/" p[2] : p[1]
    if (!(folder in lines)) order[++folders] = folder
    lines[folder] += n; files[folder]++; kindOf[folder] = kind
    total[kind] += n
  }
  END {
    printf "%-24s %5s %7s  %s\n", "folder", "files", "lines", "kind"
    for (i = 1; i <= folders; i++) {
      f = order[i]
      printf "%-24s %5d %7d  %s\n", f, files[f], lines[f], kindOf[f]
    }
    printf "\ncode lines  %6d  (src, include, tools, bench, python)\n", total["code"]
    printf "test lines  %6d  (tests, fuzz, python/tests)\n", total["test"]
    printf "test/code   %6.2f\n", total["code"] ? total["test"] / total["code"] : 0
  }'
