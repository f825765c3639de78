#!/usr/bin/env bash
# Builds the Debian package: the programs built for /usr with Debian's hardening flags in a build
# directory of their own, packed by CPack, and the .deb copied into build/ for
#   sudo apt install ./build/tokvane_*.deb
# Prints the path of the .deb on its last line.
set -euo pipefail
cd "$(dirname "$0")/.."

JOBS=${TOKVANE_JOBS:-2}
PACKAGE_DIR=${TOKVANE_PACKAGE_DIR:-build-deb}
OUT_DIR=${TOKVANE_BUILD_DIR:-build}

# The flags every Debian package is built with (fortified, stack-protected, PIE, full RELRO).
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cppflags=$(dpkg-buildflags --get CPPFLAGS)
cflags="$(dpkg-buildflags --get CFLAGS) $cppflags"
cxxflags="$(dpkg-buildflags --get CXXFLAGS) $cppflags"
ldflags=$(dpkg-buildflags --get LDFLAGS)

# The programs find their skin and VID/PID list under the install prefix compiled into them, so
# the package has a build of its own instead of repacking the /usr/local one in build/. Tests and
# benchmarks are not part of the package.
cmake -S . -B "$PACKAGE_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX=/usr \
  -DTOKVANE_BUILD_TESTS=OFF -DTOKVANE_BUILD_BENCH=OFF -DTOKVANE_BUILD_FUZZ=OFF \
  -DCMAKE_C_FLAGS="$cflags" -DCMAKE_CXX_FLAGS="$cxxflags" \
  -DCMAKE_EXE_LINKER_FLAGS="$ldflags" -DCMAKE_SHARED_LINKER_FLAGS="$ldflags" -DCMAKE_MODULE_LINKER_FLAGS="$ldflags"
cmake --build "$PACKAGE_DIR" -j"$JOBS"
rm -f "$PACKAGE_DIR"/tokvane_*.deb
cmake --build "$PACKAGE_DIR" --target package

debs=("$PACKAGE_DIR"/tokvane_*.deb)
[ "${#debs[@]}" -eq 1 ] && [ -f "${debs[0]}" ] || { echo "package: no single .deb in $PACKAGE_DIR" >&2; exit 1; }
mkdir -p "$OUT_DIR"
rm -f "$OUT_DIR"/tokvane_*.deb
cp "${debs[0]}" "$OUT_DIR/"
echo "$OUT_DIR/$(basename "${debs[0]}")"
