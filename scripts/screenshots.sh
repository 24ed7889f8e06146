#!/usr/bin/env bash
# Takes the README's pictures of both windows: the Qt window (on Qt's offscreen
# platform) and the Windows window under Wine, each from its test.
# Needs the test build (scripts/test.sh), ImageMagick and xwd (Debian packages
# imagemagick and x11-apps).
set -euo pipefail
cd "$(dirname "$0")/.."
shots=$PWD/build/screenshots
rm -rf "$shots"
mkdir -p docs
mkdir -p "$shots"
export CRYOWEAVER_SCREENSHOTS=$shots
QT_QPA_PLATFORM=offscreen build/test/tests/gui/gui_window_tests eventsReachTheLogicAndItsDecisionsShow >/dev/null
scripts/windows-test.sh >/dev/null
/usr/bin/convert "$shots/qt-window.png" -strip docs/linux-window.png
for name in normal simple; do
  /usr/bin/convert "$shots/win32-$name.xwd" -strip "docs/windows-$name.png"
done
ls -l docs/*.png
