#!/usr/bin/env bash
# Builds the release files a user downloads into build/packages/:
#   cryoweaver_<version>_amd64.deb          (both programs, desktop entry, icon, manual pages)
#   cryoweaver-<version>-windows-x64.zip    (cryoweaver.exe, cryoweaver-cli.exe, README, copyright)
# Usage: scripts/package.sh [deb|zip|all]   (default all)
# Then checks them: lintian must accept the .deb without an error or a warning,
# the .deb is unpacked into a clean folder (dpkg -x) and its programs and manual
# pages run from there; the zip must hold exactly its four files.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
what=${1:-all}
out=build/packages
mkdir -p "$out"
jobs=$(( $(nproc) < 2 ? $(nproc) : 2 ))
version=$(sed -n 's/^project(Cryoweaver VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)

step() { printf '\n== %s\n' "$*"; }
fail() { printf 'package: %s\n' "$*" >&2; exit 1; }

if [ "$what" = deb ] || [ "$what" = all ]; then
  step "Debian package"
  start=$SECONDS
  build=build/release
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCRYOWEAVER_TESTS=OFF >/dev/null
  cmake --build "$build" -j "$jobs"
  (cd "$build" && cpack -G DEB -B "$root/$out" >/dev/null)
  deb=$out/cryoweaver_${version}_amd64.deb
  [ -f "$deb" ] || fail "missing $deb"
  dpkg-deb -f "$deb" Package Version Architecture Depends
  changed=$(zcat "$build/packaging/changelog.gz" | sed -n '1s/^cryoweaver (\([^)]*\)).*/\1/p')
  [ "$changed" = "$version" ] || fail "packaging/changelog starts at $changed; add an entry for $version"
  # Debian's own check of the package; it warns, among others, of a missing
  # copyright file, changelog or manual page, and of a manual page with errors.
  lintian --fail-on error,warning "$deb" || fail "lintian does not accept $deb"

  # Installed into a clean folder, the programs must start from there.
  unpacked=$out/deb-contents
  rm -rf "$unpacked"
  dpkg -x "$deb" "$unpacked"
  expected="./usr/bin/cryoweaver
./usr/bin/cryoweaver-cli
./usr/share/applications/cryoweaver.desktop
./usr/share/doc/cryoweaver/README.md
./usr/share/doc/cryoweaver/changelog.gz
./usr/share/doc/cryoweaver/copyright
./usr/share/icons/hicolor/256x256/apps/cryoweaver.png
./usr/share/man/man1/cryoweaver-cli.1.gz
./usr/share/man/man1/cryoweaver.1.gz"
  [ "$(cd "$unpacked" && find . -type f | sort)" = "$expected" ] || fail "unexpected contents: $(cd "$unpacked" && find . -type f)"
  dpkg-deb -f "$deb" Depends | grep -q libqt6widgets6 || fail "the package does not depend on Qt"
  dpkg-deb -f "$deb" Depends | grep -q zlib1g || fail "the package does not depend on zlib"
  "$unpacked/usr/bin/cryoweaver" --version | grep -qx "cryoweaver $version" || fail "cryoweaver --version"
  "$unpacked/usr/bin/cryoweaver-cli" --version
  # man finds both pages by name, and cryoweaver-cli's holds the --help of the
  # program beside it.
  for page in cryoweaver cryoweaver-cli; do
    MANPATH=$unpacked/usr/share/man MANWIDTH=80 man "$page" >"$out/$page.txt" 2>/dev/null \
      || fail "man $page found no manual page"
  done
  grep -q "^NAME" "$out/cryoweaver.txt" || fail "man cryoweaver"
  help_line=$("$unpacked/usr/bin/cryoweaver-cli" --help | sed -n 2p)
  grep -qF -- "$help_line" "$out/cryoweaver-cli.txt" || fail "man cryoweaver-cli lacks the --help"
  sample=$(mktemp -d)
  "$unpacked/usr/bin/cryoweaver-cli" sample "$sample/world" >/dev/null
  "$unpacked/usr/bin/cryoweaver-cli" list --staidx "$sample/world/StaIdx0.mul" \
    --statics "$sample/world/Statics0.mul" 100 200 | grep -q '^Item #6: ' || fail "cryoweaver-cli list"
  "$unpacked/usr/bin/cryoweaver-cli" render --staidx "$sample/world/StaIdx0.mul" \
    --statics "$sample/world/Statics0.mul" --scale 8 "$sample/map.png" >/dev/null || fail "cryoweaver-cli render"
  # The window starts and shows itself on Qt's offscreen platform.
  QT_QPA_PLATFORM=offscreen XDG_CONFIG_HOME=$sample timeout 5 "$unpacked/usr/bin/cryoweaver" >/dev/null 2>&1 \
    && fail "the window exited by itself" || [ $? = 124 ] || fail "the window did not start"
  rm -rf "$sample"
  echo "$deb checked in $((SECONDS - start)) s"
fi

if [ "$what" = zip ] || [ "$what" = all ]; then
  step "Windows zip"
  start=$SECONDS
  build=build/mingw
  cmake -S . -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" \
    -DCRYOWEAVER_GUI=ON -DCRYOWEAVER_TESTS=ON -DCRYOWEAVER_WERROR=ON >/dev/null
  cmake --build "$build" -j "$jobs" --target cryoweaver cryoweaver-cli
  (cd "$build" && cpack -G ZIP -B "$root/$out" >/dev/null)
  zip=$out/cryoweaver-${version}-windows-x64.zip
  [ -f "$zip" ] || fail "missing $zip"
  listing=$(cmake -E tar tf "$zip" | sort)
  [ "$listing" = "cryoweaver-$version-windows-x64/README.md
cryoweaver-$version-windows-x64/copyright.txt
cryoweaver-$version-windows-x64/cryoweaver-cli.exe
cryoweaver-$version-windows-x64/cryoweaver.exe" ] || fail "unexpected zip contents: $listing"
  echo "$zip checked in $((SECONDS - start)) s"
fi
ls -l "$out"/*.deb "$out"/*.zip 2>/dev/null || true
