#!/usr/bin/env bash
# Runs a Windows program under wine64 with the exit code passed through.
# CTest uses this as the emulator of the Windows test build. WINEPREFIX is
# taken from the environment (scripts/test-all.sh makes a fresh one); when
# unset, a prefix per user in the temporary folder is used.
set -euo pipefail

wine=${ZM_WINE:-}
if [[ -z $wine ]]; then
  for candidate in wine64 /usr/lib/wine/wine64 /usr/lib64/wine/wine64 wine; do
    if command -v "$candidate" >/dev/null 2>&1; then
      wine=$(command -v "$candidate")
      break
    fi
  done
fi
if [[ -z $wine ]]; then
  echo "wine-run.sh: wine64 not found (Debian package wine64)" >&2
  exit 127
fi

export WINEDEBUG=${WINEDEBUG:--all}
export WINEPREFIX=${WINEPREFIX:-${TMPDIR:-/tmp}/zm-wine-$(id -u)}
# No Mono or Gecko installer prompts on a headless machine.
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
mkdir -p "$WINEPREFIX"
exec "$wine" "$@"
