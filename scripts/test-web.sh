#!/usr/bin/env bash
# The web build: installs what is missing, builds the core in WebAssembly with Debian's Emscripten
# (one thread, no OS: the waits hand the thread to the event loop through Asyncify), and runs
# under Node every test that needs neither threads nor the OS, as the Windows build's run under
# Wine. Prints the size of the core's WebAssembly as the page will load it.
#   scripts/test-web.sh [BUILD_FOLDER]     default build-web; CI uses build-ci/web
# Set JOBS to change the parallelism (default 2).
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-build-web}
jobs=${JOBS:-2}
./scripts/install-deps.sh --web

step() { printf '\n=== %s ===\n' "$*"; }
export CTEST_OUTPUT_ON_FAILURE=1

step "build for the web"
cmake -S . -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-emscripten.cmake \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKFW_WERROR=ON
cmake --build "$build" -j"$jobs"

step "tests under Node"
ctest --test-dir "$build" -j"$jobs" --timeout 600

# The session program links the core and the window's logic and nothing else: its WebAssembly,
# without the debugging information of this build type, is what a page loads of the core.
step "size of the core's WebAssembly"
wasm="$build/tests/web/kfw_web_session.wasm"
stripped="$build/tests/web/kfw_web_session.stripped.wasm"
wasm-opt --strip-debug "$wasm" -o "$stripped"
printf '%s: %s bytes as built, %s without debugging information, %s compressed (gzip -9)\n' \
  "$(basename "$wasm")" "$(stat -c %s "$wasm")" "$(stat -c %s "$stripped")" \
  "$(gzip -9 -c "$stripped" | wc -c)"

step "web: all passed"
