#!/usr/bin/env bash
# Cross-builds the core, cryoweaver-cli, the window (cryoweaver.exe) and their
# tests for 64-bit Windows with mingw-w64, then runs the tests, the window's
# test on a private X display (Xvfb) and a command-line smoke run under Wine.
# Usage: scripts/windows-test.sh [native cryoweaver-cli to compare the smoke run with]
# Fails when the build or any test fails. Where Wine is missing or cannot start
# at all, it says what failed and passes with the cross-build alone, unless
# CRYOWEAVER_REQUIRE_WINE=1.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
native_cli=${1:-}

build=build/mingw
jobs=$(( $(nproc) < 2 ? $(nproc) : 2 ))

step() { printf '\n== %s\n' "$*"; }
fail() { printf 'windows-test: %s\n' "$*" >&2; exit 1; }

step "Cross-building for Windows in $build"
start=$SECONDS
# -O2: GCC 12 warns falsely (-Wrestrict) inside std::string at -O3.
cmake -S . -B "$build" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" \
  -DCRYOWEAVER_GUI=ON -DCRYOWEAVER_TESTS=ON -DCRYOWEAVER_WERROR=ON >/dev/null
cmake --build "$build" -j "$jobs" --target cryoweaver-cli cryoweaver core_tests windows_tests form_tests \
  win32_window_tests
echo "built in $((SECONDS - start)) s"

cli_exe=$root/$build/cli/cryoweaver-cli.exe
test_exes=("$root/$build/tests/core_tests.exe" "$root/$build/tests/windows/windows_tests.exe"
  "$root/$build/tests/form/form_tests.exe")
window_test=$root/$build/tests/win32/win32_window_tests.exe
for exe in "$cli_exe" "$root/$build/win32/cryoweaver.exe" "${test_exes[@]}" "$window_test"; do
  [ -f "$exe" ] || fail "missing $exe"
done

wine=$(command -v wine64 || command -v wine || true)
[ -z "$wine" ] && [ -x /usr/lib/wine/wine64 ] && wine=/usr/lib/wine/wine64
wineserver=$(command -v wineserver || true)
[ -z "$wineserver" ] && [ -x /usr/lib/wine/wineserver64 ] && wineserver=/usr/lib/wine/wineserver64
[ -z "$wineserver" ] && [ -x /usr/lib/wine/wineserver ] && wineserver=/usr/lib/wine/wineserver

no_wine() {
  printf 'windows-test: WINDOWS TESTS NOT RUN: %s\n' "$*" >&2
  printf 'windows-test: the Windows programs compiled and linked; only the build was checked\n' >&2
  [ "${CRYOWEAVER_REQUIRE_WINE:-0}" = 1 ] && exit 1
  exit 0
}
[ -n "$wine" ] || no_wine "no wine64 or wine program (Debian package wine64)"

# A private prefix beside the build, so nothing of the user's Wine is touched.
export WINEPREFIX=$root/$build/wineprefix
export WINEDEBUG=-all
# No Mono or Gecko installer at first start; they are not needed.
export WINEDLLOVERRIDES="mscoree,mshtml="
# Arguments reach Wine as UTF-8 only under a UTF-8 locale.
export LC_ALL=C.UTF-8
unset DISPLAY WAYLAND_DISPLAY
stop_wine() { [ -n "$wineserver" ] && "$wineserver" -k >/dev/null 2>&1 || true; }
xvfb_pid=
stop_all() {
  stop_wine
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
}
trap stop_all EXIT

# The window's test needs a display: a private one, started before Wine so
# that Wine's desktop uses it. A Wine session left running in the prefix
# would keep the display it started with; it is ended first.
if [ -n "$wineserver" ] && [ -d "$WINEPREFIX" ]; then
  "$wineserver" -k >/dev/null 2>&1 || true
  "$wineserver" -w >/dev/null 2>&1 || true
fi
if command -v Xvfb >/dev/null; then
  mkdir -p "$root/$build"
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$root/$build/xvfb.display" 2>"$root/$build/xvfb.log" &
  xvfb_pid=$!
  for _ in $(seq 50); do [ -s "$root/$build/xvfb.display" ] && break; sleep 0.1; done
  if [ -s "$root/$build/xvfb.display" ]; then
    export DISPLAY=:$(cat "$root/$build/xvfb.display")
  else
    echo "windows-test: Xvfb did not start (log: $build/xvfb.log)" >&2
  fi
fi

step "Starting Wine ($("$wine" --version 2>/dev/null || echo unknown version)) in $WINEPREFIX"
start=$SECONDS
if [ ! -f "$WINEPREFIX/.cryoweaver-ready" ]; then
  rm -rf "$WINEPREFIX"
  if ! timeout 180 "$wine" wineboot --init >"$root/$build/wineboot.log" 2>&1; then
    tail -n 20 "$root/$build/wineboot.log" >&2 || true
    no_wine "'wine wineboot --init' failed or took longer than 180 s (log: $build/wineboot.log)"
  fi
  touch "$WINEPREFIX/.cryoweaver-ready"
fi
if [ ! -f "$WINEPREFIX/.cryoweaver-x11" ]; then
  # Windows that Wine frames and draws itself: with no window manager on the
  # private display, hiding a managed window waits seconds for one.
  # Right after the prefix is made, Wine may still be settling: a setting
  # that does not take is tried again, and again on the next run.
  set_values=0
  for value in Managed Decorated; do
    for attempt in 1 2 3; do
      if timeout 60 "$wine" reg add 'HKCU\Software\Wine\X11 Driver' /v "$value" /d N /f >/dev/null 2>&1; then
        set_values=$((set_values + 1))
        break
      fi
      echo "windows-test: setting the X11 driver's $value value failed (try $attempt of 3)" >&2
      sleep 2
    done
  done
  if [ "$set_values" = 2 ]; then
    touch "$WINEPREFIX/.cryoweaver-x11"
  fi
fi
# From here on Wine runs: whatever fails is a failure of the Windows build.
if ! probe=$(timeout 120 "$wine" "$cli_exe" --version 2>&1); then
  fail "cryoweaver-cli.exe --version did not run under Wine: $probe"
fi
echo "$probe" | tr -d '\r'
echo "Wine ready in $((SECONDS - start)) s"

status=0
for exe in "${test_exes[@]}"; do
  step "Running $(basename "$exe") under Wine"
  start=$SECONDS
  if timeout 900 "$wine" "$exe" --gtest_brief=1 --gtest_color=no 2>&1 | tr -d '\r'; then
    echo "$(basename "$exe") passed in $((SECONDS - start)) s"
  else
    echo "$(basename "$exe") FAILED (or timed out) after $((SECONDS - start)) s" >&2
    status=1
  fi
done

step "Running the window's test under Wine"
if [ -n "${DISPLAY:-}" ]; then
  start=$SECONDS
  if timeout 300 "$wine" "$window_test" --gtest_brief=1 --gtest_color=no 2>&1 | tr -d '\r'; then
    echo "$(basename "$window_test") passed in $((SECONDS - start)) s"
  else
    echo "$(basename "$window_test") FAILED (or timed out) after $((SECONDS - start)) s" >&2
    status=1
  fi
else
  echo "windows-test: THE WINDOW'S TEST WAS NOT RUN: no Xvfb (Debian package xvfb)" >&2
  [ "${CRYOWEAVER_REQUIRE_WINE:-0}" = 1 ] && status=1
fi

step "Command-line smoke run under Wine"
start=$SECONDS
smoke=$root/$build/smoke
rm -rf "$smoke"
mkdir -p "$smoke"
# A non-ASCII folder shows that arguments arrive as Unicode.
world=$smoke/wörld
out=$smoke/out
err=$smoke/err

# Runs a program; its exit status goes to $rc, its output (CR LF as LF) to
# $out and $err, and both are shown.
invoke() {
  rc=0
  "$@" >"$out.raw" 2>"$err.raw" || rc=$?
  tr -d '\r' <"$out.raw" >"$out"
  tr -d '\r' <"$err.raw" >"$err"
  rm -f "$out.raw" "$err.raw"
  cat "$out" "$err"
}
run() { invoke timeout 120 "$wine" "$cli_exe" "$@"; }
check() {
  if ! eval "$1"; then
    printf 'smoke check failed: %s\n' "$1" >&2
    # The last run's output, which a quiet run did not show.
    printf 'exit %s; its output and errors:\n' "$rc" >&2
    cat "$out" "$err" >&2
    status=1
  fi
}
files=(--staidx "$world/StaIdx0.mul" --statics "$world/Statics0.mul")
items() { grep -c '^Item #' "$out" || true; }
type255() { grep -c '^TYPE 255' "$world/UOX3.wsc" || true; }

echo "\$ cryoweaver-cli sample wörld"
run sample "$world"
check '[ $rc = 0 ] && [ "$(grep -c "^Wrote " "$out")" = 3 ]'
check '[ "$(stat -c %s "$world/StaIdx0.mul")" = 4718592 ] && [ "$(stat -c %s "$world/Statics0.mul")" = 63 ]'
check '[ "$(type255)" = 3 ]'
cp -r "$world" "$smoke/sample-copy"

echo "\$ cryoweaver-cli sample wörld   (again: must refuse)"
run sample "$world"
check '[ $rc = 1 ] && grep -q "already exists; the sample never overwrites a file" "$err"'
check 'diff -r -x "*.cryoweaver-lock" "$world" "$smoke/sample-copy" >/dev/null'

echo "\$ cryoweaver-cli list ... 100 200"
run list "${files[@]}" 100 200
check '[ $rc = 0 ] && [ "$(items)" = 6 ]'
check 'grep -qx "Item #1: Item ID = 0E ED, X = 803, Y = 1605, Z = -5, Color = 00 00" "$out"'

echo "\$ cryoweaver-cli melt ... 100 200   (index read-only: must fail, nothing changed)"
chmod a-w "$world/StaIdx0.mul"
run melt "${files[@]}" --wsc "$world/UOX3.wsc" 100 200
chmod u+w "$world/StaIdx0.mul"
check '[ $rc = 1 ] && grep -qxF "cryoweaver-cli: $world/StaIdx0.mul: File access denied." "$err"'
check 'diff -r -x "*.cryoweaver-lock" "$world" "$smoke/sample-copy" >/dev/null'

echo "\$ cryoweaver-cli melt ... 100 200"
run melt "${files[@]}" --wsc "$world/UOX3.wsc" 100 200
check '[ $rc = 0 ] && grep -qx "Melting completed!" "$out"'
check '[ "$(type255)" = 9 ]'
run list "${files[@]}" 100 200 >/dev/null
check '[ $rc = 0 ] && [ "$(items)" = 0 ]'

echo "\$ cryoweaver-cli freeze ..."
run freeze "${files[@]}" --wsc "$world/UOX3.wsc"
check '[ $rc = 0 ] && grep -qx "Freezing completed!" "$out"'
check '[ "$(type255)" = 0 ] && [ "$(stat -c %s "$world/Statics0.mul")" = 140 ]'
run list "${files[@]}" 100 200 >/dev/null
check '[ $rc = 0 ] && [ "$(items)" = 6 ]'

echo "\$ cryoweaver-cli undo ...   (takes back the freeze, from copies of the kept files)"
run undo "${files[@]}" --wsc "$world/UOX3.wsc"
check '[ $rc = 0 ] && grep -qx "Undo completed!" "$out"'
check '[ "$(type255)" = 9 ] && [ "$(stat -c %s "$world/Statics0.mul")" = 63 ]'

echo "\$ cryoweaver-cli list --staidx missing\\StaIdx0.mul ..."
run list --staidx 'missing\StaIdx0.mul' --statics "$world/Statics0.mul" 0 0
check '[ $rc = 1 ] && grep -qxF "cryoweaver-cli: missing\\StaIdx0.mul: File not found." "$err"'
check '[ "$(ls "$smoke")" = "$(printf "err\nout\nsample-copy\nwörld")" ]'
# Nothing is left but the files, the lock files beside them and the history.
check '[ "$(ls -A "$world" | grep -v "\.cryoweaver-lock$")" = "$(printf ".cryoweaver-history\nStaIdx0.mul\nStatics0.mul\nUOX3.wsc")" ]'
check '[ "$(ls -A "$world" | grep -c "^\..*\.cryoweaver-lock$")" = 3 ]'

# The same run natively must leave the same bytes and print the same lines.
if [ -n "$native_cli" ]; then
  echo "\$ (sample, list, melt, freeze, list, render natively and under Wine, compared byte for byte)"
  [ -x "$native_cli" ] || fail "no native program $native_cli"
  sequence() {
    local runner=$1 d=$2
    local f=(--staidx "$d/StaIdx0.mul" --statics "$d/Statics0.mul")
    {
      "$runner" sample "$d"; echo "exit $rc"
      "$runner" list "${f[@]}" 100 200; echo "exit $rc"
      "$runner" melt "${f[@]}" --wsc "$d/UOX3.wsc" 100 200; echo "exit $rc"
      "$runner" freeze "${f[@]}" --wsc "$d/UOX3.wsc"; echo "exit $rc"
      "$runner" list "${f[@]}" 100 200; echo "exit $rc"
      "$runner" render "${f[@]}" --wsc "$d/UOX3.wsc" --area 790,1590,830,1620 --grid "$d/map.png"; echo "exit $rc"
    } | sed "s|$d|WORLD|g"
  }
  native_run() { invoke "$native_cli" "$@"; }
  native=$smoke/native
  rm -rf "$world"
  sequence native_run "$native" >"$smoke/native.log"
  sequence run "$world" >"$smoke/windows.log"
  check 'diff "$smoke/native.log" "$smoke/windows.log"'
  for f in StaIdx0.mul Statics0.mul UOX3.wsc map.png; do
    check 'cmp "$native/$f" "$world/$f"'
  done
fi
echo "smoke run done in $((SECONDS - start)) s"

if [ $status -ne 0 ]; then
  fail "Windows tests FAILED"
fi
step "All Windows tests passed under Wine"
