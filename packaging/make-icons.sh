#!/usr/bin/env bash
# Renders the icon's drawing into the files the programs and packages use.
# Needs ImageMagick (Debian package imagemagick); the results are committed.
set -euo pipefail
cd "$(dirname "$0")/.."
convert=/usr/bin/convert
# The rounded square is filled with a gradient, then the drawing goes over it.
"$convert" -size 256x256 gradient:'#5fb4e8-#1d5e9c' -write mpr:ice +delete \
  -size 256x256 xc:none -tile mpr:ice -draw 'roundrectangle 8,8 247,247 40,40' +tile \
  -draw "$(grep -v '^#' packaging/cryoweaver.mvg)" packaging/cryoweaver.png
"$convert" packaging/cryoweaver.png -define icon:auto-resize=256,64,48,32,24,16 win32/cryoweaver.ico
