#!/usr/bin/env bash
# Installs what is missing, then builds and runs every test as CI does:
#   1. a normal build (warnings are errors), all tests, and its Debian packages made and tried
#      (scripts/test-package.sh);
#   2. AddressSanitizer + UndefinedBehaviorSanitizer, all tests but the window's;
#   3. ThreadSanitizer, all tests but the window's (the races it reports inside libjack's own
#      lock-free ring are suppressed, tests/tsan.supp says why);
#   4. clang with libFuzzer, each fuzz target for FUZZ_SECONDS (default 60);
#   5. the Windows build: cross-built with MinGW-w64, tests and an update under Wine, the zip
#      (scripts/test-windows.sh);
#   6. the web build: the core in WebAssembly with Emscripten, its tests under Node
#      (scripts/test-web.sh).
# Build trees go under build-ci/. Set JOBS to change the parallelism (default 2).
set -euo pipefail
cd "$(dirname "$0")/.."

jobs=${JOBS:-2}
fuzz_seconds=${FUZZ_SECONDS:-60}
./scripts/install-deps.sh

step() { printf '\n=== %s ===\n' "$*"; }

export QT_QPA_PLATFORM=offscreen
export CTEST_OUTPUT_ON_FAILURE=1

step "normal build"
cmake -S . -B build-ci/normal -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKFW_WERROR=ON
cmake --build build-ci/normal -j"$jobs"
ctest --test-dir build-ci/normal -j"$jobs" --timeout 600

step "Debian packages of the normal build"
./scripts/test-package.sh build-ci/normal

step "address and undefined-behaviour sanitizers"
cmake -S . -B build-ci/asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKFW_WERROR=ON \
  -DKFW_SANITIZE=address,undefined -DKFW_GUI=OFF
cmake --build build-ci/asan -j"$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build-ci/asan -j"$jobs" --timeout 900

step "thread sanitizer"
cmake -S . -B build-ci/tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKFW_WERROR=ON \
  -DKFW_SANITIZE=thread -DKFW_GUI=OFF
cmake --build build-ci/tsan -j"$jobs"
# The suppressions by an absolute name: the programs the tests start run in a scratch directory.
TSAN_OPTIONS="halt_on_error=1 suppressions=$PWD/tests/tsan.supp" \
  ctest --test-dir build-ci/tsan -j"$jobs" --timeout 900

step "fuzzing, ${fuzz_seconds} s a target"
CC=clang CXX=clang++ cmake -S . -B build-ci/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DKFW_FUZZ=ON -DKFW_TESTS=OFF -DKFW_GUI=OFF -DKFW_RTMIDI=OFF
cmake --build build-ci/fuzz -j"$jobs"
for target in build-ci/fuzz/fuzz/fuzz_*; do
  [ -x "$target" ] || continue
  name=$(basename "$target")
  corpus="build-ci/fuzz/corpus-$name"
  mkdir -p "$corpus"
  step "fuzz $name"
  "$target" -max_total_time="$fuzz_seconds" -print_final_stats=1 "$corpus" "fuzz/corpus/${name#fuzz_}"
done

step "Windows"
JOBS="$jobs" ./scripts/test-windows.sh build-ci/windows

step "web"
JOBS="$jobs" ./scripts/test-web.sh build-ci/web

step "all passed"
