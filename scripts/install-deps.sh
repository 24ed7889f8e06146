#!/usr/bin/env bash
# Installs the Debian packages that Cryoweaver needs and that are missing.
# Usage: scripts/install-deps.sh run|test
# Idempotent: when everything is present it installs nothing and needs no network.
set -euo pipefail

purpose=${1:-run}
packages=(g++ cmake ninja-build qt6-base-dev fonts-dejavu-core)
# The map picture: stb's PNG writer (header only) and zlib.
packages+=(libstb-dev zlib1g-dev)
# JSON (header-only, so the Windows cross-build uses it too).
packages+=(nlohmann-json3-dev)
# xxHash, header-only (XXH_INLINE_ALL), so the Windows cross-build uses the same header.
packages+=(libxxhash-dev)
if [ "$purpose" = test ]; then
  packages+=(libgtest-dev googletest libbenchmark-dev)
  # The format check: the project's style is clang-format 14's.
  packages+=(clang-format-14)
  # The Windows cross-build and Wine to run its tests.
  packages+=(g++-mingw-w64-x86-64 libz-mingw-w64-dev wine64)
  # A private display for the Windows window's test under Wine; dpkg-shlibdeps
  # for the Debian package's dependencies.
  packages+=(xvfb dpkg-dev)
  # Debian's own check of the Debian package.
  packages+=(lintian)
  # The fuzz targets: clang with libFuzzer and the sanitizers' runtimes.
  packages+=(clang-14 libclang-rt-14-dev)
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
as_root=()
[ "$(id -u)" -ne 0 ] && as_root=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${as_root[@]}" apt-get update -q
"${as_root[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
