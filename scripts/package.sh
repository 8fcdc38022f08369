#!/usr/bin/env bash
# Builds the Debian package (Release) into ./build-pkg (or $VANTORY_PKG_DIR) and checks
# the desktop files, the AppStream metadata and the package contents.
# Installs its own tools (desktop-file-utils, appstream, dpkg-dev, file) when missing.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${VANTORY_PKG_DIR:-$root/build-pkg}"
jobs="$(nproc 2>/dev/null || echo 2)"

"$root/scripts/deps.sh"

tools=(desktop-file-utils appstream dpkg-dev file)
missing=()
for p in "${tools[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing missing packages: ${missing[*]}"
  sudo_cmd=()
  if [ "$(id -u)" -ne 0 ]; then
    sudo_cmd=(sudo)
  fi
  export DEBIAN_FRONTEND=noninteractive
  "${sudo_cmd[@]}" apt-get update -qq
  "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

echo "== desktop files"
desktop-file-validate "$root/packaging/vantory.desktop" "$root/packaging/vantory-neutral.desktop"
echo "== AppStream metadata"
appstreamcli validate --no-net "$root"/packaging/*.metainfo.xml

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release \
  -DVANTORY_BUILD_TESTS=OFF -DVANTORY_BUILD_BENCH=OFF -DVANTORY_FUZZ=OFF -DVANTORY_SANITIZE=OFF
cmake --build "$build" -j "$jobs" --target vantory vantory-neutral vantory-cli

rm -f "$build"/vantory_*.deb
(cd "$build" && cpack -G DEB)
shopt -s nullglob
debs=("$build"/vantory_*.deb)
if [ ${#debs[@]} -ne 1 ]; then
  echo "expected one vantory_*.deb in $build, found ${#debs[@]}" >&2
  exit 1
fi
deb="${debs[0]}"

echo "== $deb"
dpkg-deb --info "$deb"
dpkg-deb --contents "$deb"

# Check what the package really holds, unpacked, the way a software centre sees it.
stage="$build/pkg-check"
rm -rf "$stage"
dpkg-deb -x "$deb" "$stage"
for f in usr/bin/vantory usr/bin/vantory-neutral usr/bin/vantory-cli \
  usr/share/applications/vantory.desktop usr/share/applications/vantory-neutral.desktop \
  usr/share/metainfo/org.vantory.vantory.metainfo.xml \
  usr/share/icons/hicolor/48x48/apps/vantory.png \
  usr/share/icons/hicolor/128x128/apps/vantory.png \
  usr/share/icons/hicolor/scalable/apps/vantory.svg \
  usr/lib/udev/rules.d/70-vantory.rules; do
  if [ ! -s "$stage/$f" ]; then
    echo "missing from the package: /$f" >&2
    exit 1
  fi
done
for rule in 'SUBSYSTEM=="hidraw", ATTRS{idVendor}=="0505", TAG+="uaccess"' \
  'SUBSYSTEM=="usb", ATTRS{idVendor}=="0ab1", TAG+="uaccess"'; do
  if ! grep -qxF "$rule" "$stage/usr/lib/udev/rules.d/70-vantory.rules"; then
    echo "the udev rules are not the expected ones: $rule" >&2
    exit 1
  fi
done
for field in Depends Recommends; do
  value="$(dpkg-deb -f "$deb" "$field")"
  echo "$field: $value"
  if [ -z "$value" ]; then
    echo "the package has no $field" >&2
    exit 1
  fi
done
dpkg-deb -f "$deb" Recommends | grep -qw fonts-wqy-microhei
dpkg-deb -f "$deb" Recommends | grep -qw libqt5sql5-psql
for lib in libqt5widgets5 libqt5charts5 libhidapi-hidraw0 libqt5sql5-sqlite; do
  if ! dpkg-deb -f "$deb" Depends | grep -qw "$lib"; then
    echo "Depends lacks $lib" >&2
    exit 1
  fi
done
echo "== installed desktop files and metadata"
desktop-file-validate "$stage"/usr/share/applications/*.desktop
appstreamcli validate-tree --no-net "$stage"
echo "package ok: $deb"
