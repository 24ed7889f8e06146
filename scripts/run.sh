#!/usr/bin/env bash
# Installs what is missing, builds Cryoweaver and starts its window.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh run

build=build/release
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCRYOWEAVER_TESTS=OFF
cmake --build "$build"

if [ -x "$build/app/cryoweaver" ]; then
  exec "$build/app/cryoweaver" "$@"
fi
exec "$build/cli/cryoweaver-cli" "$@"
