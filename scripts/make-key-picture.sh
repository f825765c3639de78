#!/usr/bin/env bash
# Draws the key picture of the skin (skin/R5.png) and the application icon (app/tokvane.png)
# with Qt's QPainter. The pictures are committed; run this only to change them.
set -euo pipefail
cd "$(dirname "$0")/.."
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
g++ -std=c++20 -O1 -fPIC tools/KeyPicture.cpp $(pkg-config --cflags --libs Qt6Gui) -o "$work/key-picture"
QT_QPA_PLATFORM=offscreen "$work/key-picture" 128 skin/R5.png
QT_QPA_PLATFORM=offscreen "$work/key-picture" 256 app/tokvane.png
echo "wrote skin/R5.png and app/tokvane.png"
