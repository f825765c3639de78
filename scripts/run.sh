#!/usr/bin/env bash
# The README's run command: installs what is needed, builds, and starts Tokvane. With --demo, or
# when no key of a configured vendor is plugged in, Tokvane starts in demo mode with its built-in
# virtual key; otherwise it uses pcscd and the hidraw devices. Other arguments go to Tokvane.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh

BUILD_DIR=${TOKVANE_BUILD_DIR:-build}
cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$BUILD_DIR" -j2 --target tokvane

# Vendor IDs of the keys Tokvane looks for, from the shipped configuration (hex, without 0x).
configured_vendors() {
  grep -o 'VID="[^"]*"' packaging/Pid_Vid_Config.xml 2>/dev/null |
    sed -e 's/VID="//' -e 's/"//' -e 's/^0[xX]//' | tr 'A-F' 'a-f' | awk '{printf "%04s\n", $0}' | tr ' ' '0'
}

key_attached() {
  local vendor file
  for vendor in $(configured_vendors); do
    for file in /sys/bus/usb/devices/*/idVendor; do
      [ -r "$file" ] || continue
      [ "$(tr 'A-F' 'a-f' < "$file")" = "$vendor" ] && return 0
    done
  done
  return 1
}

args=("$@")
demo=no
for arg in "$@"; do [ "$arg" = "--demo" ] && demo=yes; done
if [ "$demo" = no ] && ! key_attached; then
  echo "run: no security key is plugged in; starting the demo mode (a built-in virtual key)"
  args=(--demo "${args[@]}")
fi

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "run: no display here; Tokvane runs on a virtual X server (Xvfb) and cannot be seen."
  echo "run: bash scripts/screenshot.sh shows what it looks like (docs/screenshot.png)."
  exec xvfb-run -a "$BUILD_DIR/app/tokvane" "${args[@]}"
fi
exec "$BUILD_DIR/app/tokvane" "${args[@]}"
