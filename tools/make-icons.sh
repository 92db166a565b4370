#!/usr/bin/env bash
# Renders resources/vq320-updater.svg into the PNG sizes the hicolor icon theme expects, under
# resources/icons/<size>.png. Rerun after changing the SVG and commit the PNGs (needs rsvg-convert,
# Debian package librsvg2-bin; the build itself does not).
set -euo pipefail
cd "$(dirname "$0")/.."
command -v rsvg-convert >/dev/null || { echo "make-icons: install librsvg2-bin" >&2; exit 1; }
mkdir -p resources/icons
for size in 16 22 24 32 48 64 128 256; do
    rsvg-convert -w "$size" -h "$size" resources/vq320-updater.svg -o "resources/icons/$size.png"
done
