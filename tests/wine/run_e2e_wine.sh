#!/usr/bin/env bash
# Runs the end-to-end suite against wavwiden.exe under wine, expecting what a
# Windows console gives: CR LF for every "\n" on both streams, exit status -1
# seen as 255, output files byte for byte as on Linux; then the table of
# faults in place (fault_test.py). With a Linux build given as well, the two
# builds are also run side by side on the same inputs.
#
#   tests/wine/run_e2e_wine.sh [WAVWIDEN_EXE [LINUX_WAVWIDEN]]
#
# Defaults: build-win/wavwiden.exe, and no side-by-side run. WINEDEBUG, -all
# unless set, can show wine's own errors: WINEDEBUG=-all,err+all.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
exe=$(realpath "${1:-$root/build-win/wavwiden.exe}")
linux_bin=${2:+$(realpath "$2")}

if ! command -v wine >/dev/null || ! command -v wineserver >/dev/null; then
  echo "wine is missing: apt-get install wine wine64" >&2
  exit 1
fi
if [ ! -f "$exe" ]; then
  echo "no $exe: cross-build it first (see HACKING.md, Windows)" >&2
  exit 1
fi

# A prefix of its own for this run, made once; Mono and Gecko are not wanted.
scratch=$(mktemp -d)
export WINEPREFIX="$scratch/prefix"
export WINEDEBUG=${WINEDEBUG--all}
export WINEDLLOVERRIDES="mscoree,mshtml="
cleanup() {
  if [ -d "$WINEPREFIX" ]; then
    wineserver -k 2>/dev/null || true
    wineserver -w 2>/dev/null || true
    # The server's socket folder for this prefix, named by its device and inode.
    local server
    server=$(printf 'server-%x-%x' $(stat -c '%d %i' "$WINEPREFIX"))
    for dir in /tmp/wine-*/"$server"; do
      [ -d "$dir" ] && rm -rf "$dir" && rmdir "$(dirname "$dir")" 2>/dev/null
    done
  fi
  rm -rf "$scratch"
}
trap cleanup EXIT

# Debian's wine64 has no preloader to reserve its fixed addresses before the
# kernel places anything, so now and then a start fails at random with "failed
# to map the shared user data" and exit status 1. Without address space
# randomization the layout is the same every time and leaves them free.
wine="setarch --addr-no-randomize wine"

# A server kept up for the whole run, so that each test's start is quick.
mkdir "$WINEPREFIX"
wineserver -p
$wine wineboot -i >/dev/null 2>&1

# For fault_test.py: the shim that holds a run at each of its flushes.
cc -shared -fPIC -o "$scratch/stop_at_flush.so" "$here/stop_at_flush.c"
export WAVWIDEN_WINE_STOP="$scratch/stop_at_flush.so"

export WAVWIDEN_BIN="$exe"
export WAVWIDEN_WRAPPER="$wine"
export WAVWIDEN_EOL=crlf
status=0
python3 -m unittest discover -s "$root/tests/e2e" -p '*_test.py' || status=1
WAVWIDEN_LINUX_BIN="$linux_bin" python3 -m unittest discover -s "$here" -p '*_test.py' || status=1
exit $status
