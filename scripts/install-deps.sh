#!/usr/bin/env bash
# Installs, from Debian 12's packages, everything the project needs to build, test and run:
# compilers and CMake, GoogleTest, clang with libFuzzer, RtMidi, ALSA and JACK (with the jackd2
# server the JACK tests start), nlohmann-json for --json (header-only: the Windows cross build
# reads the same headers), Qt 6 Widgets with its SVG plugins (the window's icon is an SVG), Xvfb
# for the screenshots, and what the manual pages, the bash completion's test and the Debian
# packages need (help2man, man-db, bash-completion; dpkg-dev for dpkg-shlibdeps; lintian,
# desktop-file-utils and appstream to check them).
#   --windows  also what the Windows build needs (scripts/test-windows.sh): MinGW-w64 with POSIX
#              threads, Wine to run the tests and the programs, and for the window's smoke test
#              under Xvfb, xdotool, the X11 apps and ImageMagick.
#   --web      also what the web build needs (scripts/test-web.sh): Emscripten (with its clang,
#              lld, binaryen and acorn), Node to run the tests, and for the page's tests headless
#              Chromium with its WebDriver and Selenium to drive it.
# Packages already present are left as they are; nothing is installed when all are there.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  googletest libgtest-dev libgmock-dev
  clang libclang-rt-14-dev
  librtmidi-dev libasound2-dev libjack-jackd2-dev jackd2
  nlohmann-json3-dev
  qt6-base-dev libgl-dev libqt6svg6
  xvfb xauth
  help2man man-db bash-completion
  dpkg-dev lintian desktop-file-utils appstream
)
windows_packages=(
  g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix
  wine wine64
  xvfb xdotool x11-apps imagemagick
)
web_packages=(
  emscripten node-acorn nodejs
  chromium chromium-driver python3-selenium
)

case "${1:-}" in
  "") ;;
  --windows) packages+=("${windows_packages[@]}") ;;
  --web) packages+=("${web_packages[@]}") ;;
  *) echo "usage: $0 [--windows | --web]" >&2; exit 64 ;;
esac

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
    missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
echo "installing: ${missing[*]}"
$sudo apt-get update -qq
# jackd2 asks whether to enable real-time scheduling; answer for it.
echo "jackd2 jackd/tweak_rt_limits boolean false" | $sudo debconf-set-selections
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
