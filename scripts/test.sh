#!/usr/bin/env bash
# Installs what is missing, checks the format of every C++ file, builds the
# test configuration (warnings as errors, AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs every test, then cross-builds the core,
# the command line and the window for Windows and tests them under Wine, and
# last builds and checks the release packages.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh test

# Unformatted code fails at once, before anything is built.
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  mapfile -t sources < <(git ls-files '*.cpp' '*.h')
  if ! clang-format-14 --dry-run -Werror "${sources[@]}"; then
    echo "test.sh: the files above are not formatted; run: clang-format-14 -i \$(git ls-files '*.cpp' '*.h')" >&2
    exit 1
  fi
else
  echo "test.sh: not a git checkout, so the format check is skipped" >&2
fi

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
