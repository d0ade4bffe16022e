#!/usr/bin/env bash
# Renders the program's icon (packaging/icons/*.svg) into the PNG sizes of the
# hicolor theme that the package installs. The PNGs are kept in the
# repository; run this after changing the SVG.
set -euo pipefail
cd "$(dirname "$0")/../packaging/icons"
for size in 16 32 48 64 128 256; do
  rsvg-convert -w "$size" -h "$size" org.zarvik.ZarvikConfig.svg -o "org.zarvik.ZarvikConfig-$size.png"
done
