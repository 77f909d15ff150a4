#!/usr/bin/env bash
# Makes this build's package and checks what it installs: the .deb is unpacked into a scratch
# root and its program converts a copy of the sample site; the .zip holds the program, the
# README and the licence.
# usage: package_check.sh BUILD_DIR SOURCE_DIR [RUNNER...]
set -u
build=$1 source=$2; shift 2
scratch=$(mktemp -d /tmp/pagehop-package.XXXXXX)
trap 'rm -rf "$scratch"' EXIT

cpack --config "$build/CPackConfig.cmake" -B "$scratch/out" >"$scratch/cpack.log" 2>&1 ||
  { cat "$scratch/cpack.log"; exit 1; }

deb=$(ls "$scratch"/out/*.deb 2>/dev/null | head -1)
zip=$(ls "$scratch"/out/*.zip 2>/dev/null | head -1)
if [ -n "$deb" ]; then
  dpkg-deb -x "$deb" "$scratch/root" || exit 1
  [ -f "$scratch/root/usr/share/man/man1/pagehop.1" ] || { echo "FAIL: no manual page"; exit 1; }
  cp -R "$source/examples/site" "$scratch/site"
  (cd "$scratch/site" && "$scratch/root/usr/bin/pagehop" >"$scratch/out.txt") || exit 1
  grep -qx "Made with pagehop" "$scratch/out.txt" || { echo "FAIL: no closing line"; exit 1; }
  for page in "$scratch"/site/*.html; do
    [ -f "${page%.html}.php" ] || { echo "FAIL: ${page%.html}.php missing"; exit 1; }
  done
  echo "ok: $(basename "$deb") installs pagehop and its manual page, and converts the sample site"
elif [ -n "$zip" ]; then
  listing=$(cmake -E tar tf "$zip")
  for name in pagehop.exe README.md LICENSE; do
    echo "$listing" | grep -q "/$name\$" || { echo "FAIL: $name not in $(basename "$zip")"; exit 1; }
  done
  echo "ok: $(basename "$zip") holds pagehop.exe, README.md and LICENSE"
else
  echo "FAIL: cpack made no package"; exit 1
fi
