#!/usr/bin/env bash
# Installs every Debian package that building, testing and the demo need.
# Idempotent and non-interactive; run as root on a fresh Debian 12 machine.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config git
  clang clang-format libclang-rt-14-dev
  qt6-base-dev qt6-base-dev-tools qt6-translations-l10n libgl-dev libxcb1-dev
  libgtest-dev libgmock-dev strace
  nettle-dev
  exfatprogs exfat-fuse ntfs-3g fuse3 libfuse3-dev stress-ng
  libarchive-dev libarchive-tools lhasa
  mdbtools mdbtools-dev libglib2.0-dev
  fonts-ipafont-gothic
  xvfb xauth xdotool x11-utils imagemagick
  nodejs
  locales
  openbox
  desktop-file-utils
  dbus-daemon dbus-bin systemd
  debhelper dpkg-dev fakeroot lintian appstream man-db groff-base
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "bootstrap: missing packages: ${missing[*]} (run as root to install them)" >&2
    exit 1
  fi
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# The independent Jet reader that the database tests compare our writer's files with.
if [ ! -d "$(dirname "$0")/../tools/mdb-reader/node_modules" ]; then
  npm ci --prefix "$(dirname "$0")/../tools/mdb-reader" --no-audit --no-fund
fi
