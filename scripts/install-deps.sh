#!/usr/bin/env bash
# Installs every Debian 12 package Tokvane needs to build, run and test.
# Idempotent: packages already present are skipped by apt; the index is refreshed once per run.
set -euo pipefail

PACKAGES=(
  build-essential cmake ninja-build pkg-config git
  qt6-base-dev qt6-base-private-dev qt6-tools-dev qt6-tools-dev-tools qt6-l10n-tools libgl-dev
  libqt6opengl6-dev
  libpcsclite-dev pcscd vsmartcard-vpcd
  libhidapi-dev
  libssl-dev
  libtinyxml2-dev
  libzxing-dev libstb-dev qrencode oathtool
  libudev-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-14-dev
  xvfb xauth fonts-dejavu-core
  weston qt6-wayland
  gettext locales fonts-noto-cjk
  dpkg-dev file lintian desktop-file-utils appstream mandoc man-db
)

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ "${#missing[@]}" -eq 0 ]; then
  echo "install-deps: every package is already installed"
  exit 0
fi

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update
$SUDO apt-get install -y --no-install-recommends "${missing[@]}"
