#!/usr/bin/env bash
# The web build: installs what is missing, builds the core and the page in WebAssembly with
# Debian's Emscripten (one thread, no OS: the waits hand the thread to the event loop through
# Asyncify), runs under Node every test that needs neither threads nor the OS (as the Windows
# build's run under Wine), and the page's tests in headless Chromium. Then prints the figures:
# the sizes of what is delivered, the WebAssembly build's benchmark beside the native one's, and
# the page's own (its load, a real-time update, what a hidden tab does).
#   scripts/test-web.sh [BUILD_FOLDER]     default build-web; CI uses build-ci/web
# Set JOBS to change the parallelism (default 2). The native benchmark is taken from
# $KFW_NATIVE_BUILD when it names a build folder with bench/kfw_update_bench, else built in
# BUILD_FOLDER/native. KFW_WEB_QUICK=1 leaves the hidden tab's runs (about two minutes) out.
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

# The page's tests in Chromium run one at a time (they share the resource lock "chromium"),
# beside the tests under Node.
step "tests under Node, and the page's in headless Chromium"
ctest --test-dir "$build" -j"$jobs" --timeout 600

step "what is delivered"
page="$build/web/site/index.html"
printf '%s: %s bytes, %s compressed (gzip -9): the whole page, its WebAssembly inside\n' \
  "$page" "$(stat -c %s "$page")" "$(gzip -9 -c "$page" | wc -c)"
# The session program links the core and the window's logic and nothing else: its WebAssembly,
# without the debugging information of this build type, is what a page loads of the core.
wasm="$build/tests/web/kfw_web_session.wasm"
stripped="$build/tests/web/kfw_web_session.stripped.wasm"
wasm-opt --strip-debug "$wasm" -o "$stripped"
printf '%s: %s bytes as built, %s without debugging information, %s compressed (gzip -9)\n' \
  "$(basename "$wasm")" "$(stat -c %s "$wasm")" "$(stat -c %s "$stripped")" \
  "$(gzip -9 -c "$stripped" | wc -c)"
printf 'screenshots: %s\n' "$(ls "$build"/tests/web/web-*.png | tr '\n' ' ')"

step "benchmark: the WebAssembly build under Node beside the native build"
native=${KFW_NATIVE_BUILD:-$build/native}
if [ ! -x "$native/bench/kfw_update_bench" ]; then
  cmake -S . -B "$native" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKFW_GUI=OFF \
    -DKFW_TESTS=OFF -DKFW_WERROR=ON > /dev/null
  cmake --build "$native" -j"$jobs" --target kfw_update_bench > /dev/null
fi
node "$build/bench/kfw_update_bench.js" --virtual | tee "$build/bench/web-bench.txt"
"$native/bench/kfw_update_bench" --virtual > "$build/bench/native-bench.txt"
/usr/bin/python3 - "$build/bench/native-bench.txt" "$build/bench/web-bench.txt" <<'EOF'
import re, sys
def rows(path):
    found = {}
    for line in open(path):
        match = re.match(r"(.{29}) +(\d+) .*\| *(\d+) +(\d+)$", line.rstrip())
        if match:
            durations = re.findall(r"\d+\.\d+", line)
            found[match.group(1).strip()] = (durations, int(match.group(3)), int(match.group(4)))
    return found
native, web = rows(sys.argv[1]), rows(sys.argv[2])
print("\nThe same cases, native and WebAssembly: durations in the module's time, and the")
print("wall-clock time each simulation took (normal, fast):")
print(f"{'case':29} | {'durations':>14} | {'native (ms)':>11} | {'WebAssembly under Node (ms)':>27}")
same = True
for case, (durations, normal, fast) in native.items():
    other = web.get(case)
    equal = other is not None and other[0] == durations
    same = same and equal
    print(f"{case:29} | {'the same' if equal else 'DIFFERENT':>14} | {normal:5} {fast:5} | "
          f"{other[1] if other else 0:13} {other[2] if other else 0:13}")
sys.exit(0 if same and len(web) == len(native) else 1)
EOF

step "benchmark: the page in headless Chromium"
export KFW_WEB_SITE="$PWD/$build/web/site"
export KFW_WEB_TEST_MODULE="$PWD/$build/tests/web/kfw_web_test_module.js"
export KFW_WEB_STAND_IN="$PWD/tests/web/webmidi_stand_in.js"
quick=()
[ "${KFW_WEB_QUICK:-}" = 1 ] && quick=(--quick)
/usr/bin/python3 -W ignore bench/page_bench.py --virtual-table "$build/bench/web-bench.txt" \
  "${quick[@]}"

step "web: all passed"
