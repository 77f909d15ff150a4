#!/usr/bin/env bash
# Makes this build's package twice and checks it: the two are the same bytes; the .deb passes
# lintian (when it is installed) with no error or warning, depends on a
# minimum libc6, and unpacked into a scratch root its program converts a copy of the sample
# site; the .zip holds the program, the README and the licence.
# usage: package_check.sh BUILD_DIR SOURCE_DIR [RUNNER...]
set -u
build=$1 source=$2; shift 2
scratch=$(mktemp -d /tmp/pagehop-package.XXXXXX)
trap 'rm -rf "$scratch"' EXIT

for out in out again; do
  cpack --config "$build/CPackConfig.cmake" -B "$scratch/$out" >"$scratch/cpack.log" 2>&1 ||
    { cat "$scratch/cpack.log"; exit 1; }
done
for package in "$scratch"/out/*.deb "$scratch"/out/*.zip; do
  [ -f "$package" ] || continue
  cmp "$package" "$scratch/again/$(basename "$package")" ||
    { echo "FAIL: two builds of $(basename "$package") differ"; exit 1; }
done

deb=$(ls "$scratch"/out/*.deb 2>/dev/null | head -1)
zip=$(ls "$scratch"/out/*.zip 2>/dev/null | head -1)
if [ -n "$deb" ]; then
  checked="lintian-clean, "
  if command -v lintian >/dev/null; then
    lintian -I "$deb" >"$scratch/lintian.txt" 2>&1
    if [ $? -ne 0 ] || grep -qE '^[EW]: ' "$scratch/lintian.txt"; then
      cat "$scratch/lintian.txt"; echo "FAIL: lintian"; exit 1
    fi
  else
    checked="not checked with lintian (not installed), "
  fi
  depends=$(dpkg-deb -f "$deb" Depends)
  [[ $depends =~ ^libc6\ \(\>=\ [0-9.]+\)$ ]] || { echo "FAIL: Depends: $depends"; exit 1; }
  dpkg-deb -x "$deb" "$scratch/root" || exit 1
  for file in man/man1/pagehop.1.gz doc/pagehop/copyright doc/pagehop/changelog.gz; do
    [ -f "$scratch/root/usr/share/$file" ] || { echo "FAIL: no /usr/share/$file"; exit 1; }
  done
  cp -R "$source/examples/site" "$scratch/site"
  (cd "$scratch/site" && "$scratch/root/usr/bin/pagehop" >"$scratch/out.txt") || exit 1
  grep -qx "Made with pagehop" "$scratch/out.txt" || { echo "FAIL: no closing line"; exit 1; }
  for page in "$scratch"/site/*.html; do
    [ -f "${page%.html}.php" ] || { echo "FAIL: ${page%.html}.php missing"; exit 1; }
  done
  echo "ok: $(basename "$deb") (Depends: $depends) is reproducible, ${checked}installs" \
    "pagehop with its manual page, copyright and changelog, and converts the sample site"
elif [ -n "$zip" ]; then
  listing=$(cmake -E tar tf "$zip")
  for name in pagehop.exe README.md LICENSE; do
    echo "$listing" | grep -q "/$name\$" || { echo "FAIL: $name not in $(basename "$zip")"; exit 1; }
  done
  echo "ok: $(basename "$zip") is reproducible and holds pagehop.exe, README.md and LICENSE"
else
  echo "FAIL: cpack made no package"; exit 1
fi
