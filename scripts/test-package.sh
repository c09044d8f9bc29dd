#!/usr/bin/env bash
# Makes the Debian packages and tries them as a user gets them:
#   1. cpack -G DEB in a build tree: the one given, or build-ci/package (configured and built here);
#   2. lintian (an error fails; warnings are shown), desktop-file-validate, appstreamcli validate;
#   3. the packages unpacked (dpkg-deb -x) into a temporary root: each file where Debian wants it,
#      the license and the third-party notices in them, the window's --help without a display,
#      and a whole update of the unpacked sample image on the simulated module by the unpacked
#      kfwupdate.
# Usage: scripts/test-package.sh [BUILD_DIR]    (test-all.sh passes its normal build)
set -euo pipefail
cd "$(dirname "$0")/.."

build=$(realpath -m "${1:-build-ci/package}")
jobs=${JOBS:-2}
app_id=io.github.kfwupdate.kfwupdate

step() { printf '\n--- %s ---\n' "$*"; }

if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKFW_WERROR=ON -DKFW_TESTS=OFF
fi
cmake --build "$build" -j"$jobs"

step "cpack -G DEB"
packages=$build/packages
rm -rf "$packages"
cpack --config "$build/CPackConfig.cmake" -G DEB -B "$packages"
rm -rf "$packages/_CPack_Packages"
debs=("$packages"/*.deb)
for deb in "${debs[@]}"; do
  printf '%s: ' "$(basename "$deb")"
  dpkg-deb -f "$deb" Depends
done

step "lintian"
# Run as root (in a container), lintian says so on standard error; that is not a finding.
lintian --fail-on error "${debs[@]}" 2> >(grep -v 'running with root privileges' >&2)

root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
for deb in "${debs[@]}"; do dpkg-deb -x "$deb" "$root"; done

step "the files, where Debian wants them"
expected=(
  usr/bin/kfwupdate
  usr/share/man/man1/kfwupdate.1.gz
  usr/share/bash-completion/completions/kfwupdate
  usr/share/doc/kfwupdate/README.md
  usr/share/doc/kfwupdate/copyright
  usr/share/doc/kfwupdate/THIRD-PARTY-NOTICES
  usr/share/doc/kfwupdate/changelog.Debian.gz
  usr/share/doc/kfwupdate/examples/demo.kfw
)
gui=false
[ -e "$packages/kfwupdate-gui_"*.deb ] && gui=true
if $gui; then
  expected+=(
    usr/bin/kfwupdate-gui
    usr/share/man/man1/kfwupdate-gui.1.gz
    "usr/share/applications/$app_id.desktop"
    "usr/share/icons/hicolor/scalable/apps/$app_id.svg"
    "usr/share/metainfo/$app_id.metainfo.xml"
    usr/share/doc/kfwupdate-gui/copyright
    usr/share/doc/kfwupdate-gui/changelog.Debian.gz
  )
fi
for file in "${expected[@]}"; do
  if [ ! -f "$root/$file" ]; then
    echo "missing from the packages: /$file"
    exit 1
  fi
  echo "/$file"
done

step "the license and the third-party notices"
# grep -F -x -q: a whole line, as written.
has_line() {
  grep -Fxq -- "$2" "$root/$1" || { echo "/$1 lacks the line: $2"; exit 1; }
  echo "/$1: $2"
}
copyrights=(usr/share/doc/kfwupdate/copyright)
$gui && copyrights+=(usr/share/doc/kfwupdate-gui/copyright)
for copyright in "${copyrights[@]}"; do
  has_line "$copyright" "Copyright: 2026 The kfwupdate developers"
  has_line "$copyright" "License: Expat"
done
# nlohmann-json is compiled into kfwupdate: its copyright and its license.
notices=usr/share/doc/kfwupdate/THIRD-PARTY-NOTICES
has_line "$notices" "Copyright (c) 2013-2022 Niels Lohmann"
has_line "$notices" "The above copyright notice and this permission notice shall be included in all"

if $gui; then
  step "desktop-file-validate"
  desktop-file-validate "$root/usr/share/applications/$app_id.desktop"
  echo "accepted"

  step "appstreamcli validate"
  appstreamcli validate --no-net "$root/usr/share/metainfo/$app_id.metainfo.xml"

  step "kfwupdate-gui --help without a display"
  env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$root/usr/bin/kfwupdate-gui" --help |
    sed -n 1p
fi

step "the unpacked kfwupdate updates the simulated module with the unpacked sample"
(cd "$root" && ./usr/bin/kfwupdate update usr/share/doc/kfwupdate/examples/demo.kfw \
  --in sim --out sim)

step "packages made and tried: $packages"
