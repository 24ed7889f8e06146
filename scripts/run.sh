#!/usr/bin/env bash
# Installs what is missing, builds Cryoweaver and starts its window.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh run

build=build/release
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCRYOWEAVER_TESTS=OFF
cmake --build "$build"

# A server without a display gets the command line instead of the window.
if [ "$(uname -s)" = Linux ] && [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "No display found: the window needs one. The command line is $build/cli/cryoweaver-cli:"
  exec "$build/cli/cryoweaver-cli" --help
fi
exec "$build/app/cryoweaver" "$@"
