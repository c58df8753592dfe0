#!/usr/bin/env bash
# Checks the 32-bit Windows zm.dll for what a host relies on:
#   - a PE32 image for i386,
#   - exactly the exports of cmake/exports.txt, by undecorated name,
#   - imports from Windows system DLLs only (no MinGW runtime DLLs),
#   - every export that calls on realigns the stack first, as hosts may
#     call with only 4-byte alignment.
# Usage: scripts/check-pe.sh path/to/zm.dll [exports.txt]
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
dll=${1:?usage: check-pe.sh zm.dll [exports.txt]}
list=${2:-$here/../cmake/exports.txt}
objdump=${OBJDUMP:-i686-w64-mingw32-objdump}

failures=0
fail() {
  echo "check-pe: $*" >&2
  failures=$((failures + 1))
}

headers=$("$objdump" -p "$dll")

grep -q 'file format pei-i386' <<<"$headers" || fail "not a pei-i386 image"
grep -Eq '^Magic[[:space:]]+010b' <<<"$headers" || fail "not a PE32 (32-bit) image"

expected=$(grep -Ev '^[[:space:]]*(#|$)' "$list" | sort)
names=$(sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/p' <<<"$headers" |
  sed -nE 's/^[[:space:]]*\[ *[0-9]+\] +([^ ]+)$/\1/p' | sort)
if [[ $names != "$expected" ]]; then
  fail "exported names differ from $list:"
  diff <(echo "$expected") <(echo "$names") >&2 || true
fi
count=$(sed -nE 's/^[[:space:]]*Export Address Table[[:space:]]+([0-9a-fA-F]+)$/\1/p' <<<"$headers" | head -n1)
if [[ $((16#${count:-0})) -ne $(wc -l <<<"$expected") ]]; then
  fail "export address table has $((16#${count:-0})) entries (exports by ordinal only?)"
fi

# Windows' own DLLs; anything else would have to be shipped beside zm.dll.
system_dll='^(kernel32|msvcrt|ucrtbase|user32|advapi32|ntdll|shell32|ole32|oleaut32|ws2_32|bcrypt|api-ms-win-.*)\.dll$'
while read -r dll_name; do
  [[ -z $dll_name ]] && continue
  if ! grep -Eqi "$system_dll" <<<"$dll_name"; then
    fail "imports from non-system DLL $dll_name"
  fi
done < <(sed -nE 's/^[[:space:]]*DLL Name: (.+)$/\1/p' <<<"$headers")

# Stack realignment: GNU compilers emit `and $-16,%esp` in the prologue of
# a function with force_align_arg_pointer (or -mincoming-stack-boundary=2)
# that needs an aligned frame. A leaf without calls needs none.
symbols=$("$objdump" -t "$dll")
if grep -q ' _ZM_getVersion$' <<<"$symbols"; then
  for name in $expected; do
    body=$("$objdump" -d --no-show-raw-insn --disassemble="_$name" "$dll" |
      sed -n "/<_$name>:/,\$p")
    if grep -Eq '\scall' <<<"$body"; then
      before_call=$(sed -n '1,/\scall/p' <<<"$body")
      grep -Eq 'and +\$0xfffffff0,%esp' <<<"$before_call" ||
        fail "$name calls on without realigning the stack"
    fi
  done
else
  echo "check-pe: no symbol table, stack realignment not checked" >&2
fi

if ((failures > 0)); then
  echo "check-pe: $dll FAILED ($failures problems)" >&2
  exit 1
fi
echo "check-pe: $dll OK (pei-i386, $(wc -l <<<"$expected") exports, system imports only)"
