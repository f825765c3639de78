#!/usr/bin/env bash
# Redraws the README's pictures in docs/ (the demo window, and its credential list with codes
# shown), drawn on Qt's offscreen platform in the C locale. The GUI suite compares the program
# with them, so redraw and commit them whenever the window's look changes.
set -euo pipefail
cd "$(dirname "$0")/.."

BUILD_DIR=${TOKVANE_BUILD_DIR:-build}
[ -f "$BUILD_DIR/CMakeCache.txt" ] || cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$BUILD_DIR" -j2 --target tokvane_screenshot
mkdir -p docs
LC_ALL=C LANGUAGE= QT_QPA_PLATFORM=offscreen QT_SCALE_FACTOR=1 "$BUILD_DIR/app/tokvane_screenshot" docs
