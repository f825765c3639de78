#!/usr/bin/env bash
# Makes docs/screenshot.png: the main window in demo mode, drawn on Qt's offscreen platform.
set -euo pipefail
cd "$(dirname "$0")/.."

BUILD_DIR=${TOKVANE_BUILD_DIR:-build}
[ -f "$BUILD_DIR/CMakeCache.txt" ] || cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$BUILD_DIR" -j2 --target tokvane_screenshot
mkdir -p docs
QT_QPA_PLATFORM=offscreen "$BUILD_DIR/app/tokvane_screenshot" docs/screenshot.png
echo "wrote docs/screenshot.png"
