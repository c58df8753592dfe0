#!/usr/bin/env bash
# The house count of tests against code: non-blank lines of C, C++, Python
# and JavaScript source and header files. Code is src/, include/, tools/, the
# Python package (python/, its tests apart) and web/ (its tests apart); tests
# are tests/, fuzz/, python/tests/ and web/'s tests (files under a test/ or
# tests/ folder, or named *.test.*). bench/ counts as neither.
# Prints the lines per folder, the totals and the ratio of test lines to code
# lines, which the house keeps at most 0.35.
# Usage: scripts/line-counts.sh [ROOT]   (default: the checkout holding this script)
set -euo pipefail

root=${1:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)}
cd "$root"

# files DIR...: every counted source file under the DIRs that exist, leaving
# out caches, build trees and installed packages.
files() {
  local dir
  for dir in "$@"; do
    [[ -d $dir ]] || continue
    find "$dir" \( -name __pycache__ -o -name build -o -name '*.egg-info' -o -name node_modules \
      -o -name dist \) -prune -o -type f \( -name '*.c' -o -name '*.h' -o -name '*.cc' \
      -o -name '*.cpp' -o -name '*.hpp' -o -name '*.inc' -o -name '*.py' -o -name '*.js' \
      -o -name '*.mjs' -o -name '*.cjs' \) -print
  done
}

# The kind of each file: "test" or "code".
{
  files src include tools python web | awk '
    /^python\/tests\// { print "test\t" $0; next }
    /^web\// && (/\/tests?\// || /\.test\.[^\/]*$/) { print "test\t" $0; next }
    { print "code\t" $0 }'
  files tests fuzz | sed 's/^/test\t/'
} | sort -t $'\t' -k2 | awk -F '\t' '
  {
    kind = $1; path = $2; n = 0
    while ((getline line < path) > 0) if (line ~ /[^[:space:]]/) n++
    close(path)
    # Folder: the first two levels (src/tracer, tools/lib), or the top one
    # for files that lie directly in it.
    parts = split(path, p, "/")
    folder = (parts > 2) ? p[1] "/" p[2] : p[1]
    key = folder "\t" kind
    if (!(key in lines)) { order[++keys] = key; name[key] = folder; kindOf[key] = kind }
    lines[key] += n; count[key]++
    total[kind] += n
  }
  END {
    printf "%-24s %5s %7s  %s\n", "folder", "files", "lines", "kind"
    for (i = 1; i <= keys; i++) {
      k = order[i]
      printf "%-24s %5d %7d  %s\n", name[k], count[k], lines[k], kindOf[k]
    }
    printf "\ncode lines  %6d  (src, include, tools, python, web)\n", total["code"]
    printf "test lines  %6d  (tests, fuzz, python/tests, web tests)\n", total["test"]
    printf "test/code   %6.2f\n", total["code"] ? total["test"] / total["code"] : 0
  }'
