#!/usr/bin/env bash
# The Windows build, on Linux: installs what is missing, cross-builds both programs with MinGW-w64
# (statically linked: checks that they import Windows' own DLLs only), runs the tests under Wine,
# runs a whole update on the simulated module under Wine, and makes the zip package.
#   scripts/test-windows.sh [BUILD_FOLDER]     default build-windows; CI uses build-ci/windows
# Set JOBS to change the parallelism (default 2). The zip is left in BUILD_FOLDER/package/.
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-build-windows}
jobs=${JOBS:-2}
./scripts/install-deps.sh --windows

# An X display from before Wine starts to the end of the run: Wine's desktop process starts with
# the first program and keeps the display it found then, and without one no later program of the
# run could make a window. Only the warm-up sees it; the tests run without (a console program given
# a display gets a console window of its own, and now and then Wine failed to start one), and the
# window tests bring displays of their own (tests/ui/with_display.sh).
if [ -z "${DISPLAY:-}" ]; then
  exec tests/ui/with_display.sh "$0" "$@"
fi

step() { printf '\n=== %s ===\n' "$*"; }

# Wine keeps its C: drive and registry in a prefix of this build's own. No Mono or Gecko: nothing
# here needs them, and a new prefix would otherwise offer to install them.
mkdir -p "$build"
build=$(cd "$build" && pwd)
export WINEPREFIX="$build/wineprefix"
mkdir -p "$WINEPREFIX"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export CTEST_OUTPUT_ON_FAILURE=1

# One Wine server for the whole run, started and warmed first: the first program a cold Wine runs
# sets the prefix up and starts Wine's own services, and a test started then once passed its
# output pipes to them and hung ctest for five minutes. A warm-up that fails (a reset connection
# to a server still starting) is tried again.
step "Wine"
wineserver -p
trap 'wineserver -k 2>/dev/null || true' EXIT
warm=0
for attempt in 1 2 3; do
  if timeout 300 wine cmd /c exit </dev/null >/dev/null 2>&1; then
    warm=1
    break
  fi
  echo "Wine did not start (attempt $attempt); trying again"
  sleep 5
done
[ "$warm" -eq 1 ] || { echo "Wine does not start in $WINEPREFIX" >&2; exit 1; }
wine --version

step "cross-build for Windows"
cmake -S . -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw64.cmake \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKFW_WERROR=ON -DKFW_RTMIDI=OFF -DKFW_GUI=ON
cmake --build "$build" -j"$jobs"

# The first listing of WinMM's devices in a new prefix loads Wine's MIDI driver, which took over a
# minute here; meanwhile no other program of the prefix could make a window, and the window tests
# failed. One listing now, before the tests, takes that cost alone.
timeout 300 wine "$build/cli/kfwupdate.exe" ports </dev/null >/dev/null 2>&1 || true

step "tests under Wine"
(unset DISPLAY; ctest --test-dir "$build" -j"$jobs" --timeout 600)

step "a whole update on the simulated module, under Wine"
timeout 300 wine "$build/cli/kfwupdate.exe" update samples/demo.kfw --in sim --out sim </dev/null

step "package"
rm -rf "$build/package"
(cd "$build" && cpack -G ZIP -B package)
zip=$(ls "$build"/package/*.zip)
contents="$build/package/contents"
mkdir -p "$contents"
(cd "$contents" && cmake -E tar xf "$zip")
echo "$zip:"
(cd "$contents" && find . -type f | sort)
expected=(kfwupdate.exe kfwupdate-gui.exe README.md LICENSE.txt THIRD-PARTY-NOTICES.txt
  samples/demo.kfw)
for needed in "${expected[@]}"; do
  [ -n "$(find "$contents" -path "*/$needed")" ] || { echo "the package lacks $needed" >&2; exit 1; }
done
# The license, and a notice for each library linked in (the check below shows that nothing else is
# left to a DLL): a line that each one's notice holds.
license_and_notices=(
  "LICENSE.txt|Copyright (c) 2026 The kfwupdate developers"
  "THIRD-PARTY-NOTICES.txt|Copyright (c) 2013-2022 Niels Lohmann"
  "THIRD-PARTY-NOTICES.txt|GCC RUNTIME LIBRARY EXCEPTION"
  "THIRD-PARTY-NOTICES.txt|Copyright (c) 2009-2016 the mingw-w64 project"
  "THIRD-PARTY-NOTICES.txt|Copyright (c) 2011-2016 mingw-w64 project"
)
for entry in "${license_and_notices[@]}"; do
  file=$(find "$contents" -path "*/${entry%%|*}")
  line=${entry#*|}
  grep -Fxq -- "$line" "$file" || { echo "${entry%%|*} lacks the line: $line" >&2; exit 1; }
  echo "${entry%%|*}: $line"
done
# Statically linked: a program that needs a MinGW DLL (libstdc++, libgcc, libwinpthread) would
# not start on a machine without MinGW.
while IFS= read -r program; do
  imports=$(x86_64-w64-mingw32-objdump -p "$program" | sed -n 's/^[[:space:]]*DLL Name: //p')
  echo "$(basename "$program") imports:" $imports
  foreign=$(echo "$imports" | grep -viE '^(kernel32|msvcrt|user32|gdi32|comctl32|comdlg32|shell32|advapi32|ole32|oleaut32|winmm|uxtheme|ws2_32|api-ms-win-.*)\.dll$' || true)
  if [ -n "$foreign" ]; then
    echo "$(basename "$program") needs DLLs that Windows does not have:" $foreign >&2
    exit 1
  fi
done < <(find "$contents" -iname '*.exe')

step "Windows: all passed"
