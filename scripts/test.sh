#!/usr/bin/env bash
# Installs what is missing, builds the test configuration (warnings as errors,
# AddressSanitizer and UndefinedBehaviorSanitizer) and runs every test, then
# cross-builds the core, the command line and the window for Windows and tests
# them under Wine, and last builds and checks the release packages.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh test

build=build/test
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DCRYOWEAVER_WERROR=ON -DCRYOWEAVER_SANITIZE=ON -DCRYOWEAVER_BENCH=ON
cmake --build "$build"

export QT_QPA_PLATFORM=offscreen
ctest --test-dir "$build" --output-on-failure -j "$(nproc)"

# The fuzz targets (clang, libFuzzer) once over their saved corpus.
scripts/fuzz.sh smoke

# The Windows build's smoke run must match this build's byte for byte.
scripts/windows-test.sh "$build/cli/cryoweaver-cli"

# The release files (.deb and Windows zip), checked as a user installs them.
scripts/package.sh all
