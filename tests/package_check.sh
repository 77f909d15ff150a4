#!/usr/bin/env bash
# Makes this build's package and checks it: another builder gets the same bytes from the same
# sources (nobody, when run as root, else the same user, building a private copy in another
# folder under umask 077 and another time zone); the .deb passes lintian (when it is installed)
# with no error or warning, depends on a minimum libc6, and unpacked into a scratch root its
# program converts a copy of the sample site; the .zip holds the program, the README and the
# licence.
# usage: package_check.sh BUILD_DIR SOURCE_DIR CMAKE_OPTION...
#   CMAKE_OPTION: the options that configured BUILD_DIR (generator, build type, edition,
#   toolchain or compilers), given again to the second builder with SOURCE_DIR made its copy.
set -u
build=$1 source=$2; shift 2
scratch=$(mktemp -d /tmp/pagehop-package.XXXXXX)
trap 'rm -rf "$scratch"' EXIT

# This build's package, as its builder makes it, under Debian's usual umask.
(umask 022 && cpack --config "$build/CPackConfig.cmake" -B "$scratch/out") >"$scratch/cpack.log" 2>&1 ||
  { cat "$scratch/cpack.log"; echo "FAIL: cpack"; exit 1; }

# The second builder: a copy of the sources (no build trees), private as a clone under umask 077
# would be, beside a .git file that leads to the same repository, so that the commit time is
# read as the first builder reads it. Its build folder lies where this one lies, relative to the
# sources, since the program's paths are relative to them.
other=() who="the same user"
if [ "$(id -u)" -eq 0 ] && id nobody >/dev/null 2>&1 && command -v setpriv >/dev/null; then
  other=(setpriv --reuid=nobody --regid="$(id -g nobody)" --clear-groups)
  who=nobody
fi
copy=$scratch/other/src
rel=$(realpath -m --relative-to="$source" "$build")
[[ $rel == ..* || $rel == /* ]] && rel=build/package
mkdir -p "$copy"
tar -C "$source" --exclude=./build --exclude="./$rel" --exclude=./.git -cf - . | tar -C "$copy" -xf - ||
  { echo "FAIL: copying the sources"; exit 1; }
if gitdir=$(git -C "$source" rev-parse --absolute-git-dir 2>/dev/null); then
  echo "gitdir: $gitdir" >"$copy/.git"
fi
chmod -R go-rwx "$scratch/other"
if [ ${#other[@]} -gt 0 ]; then
  chown -R nobody: "$scratch/other" && chmod 711 "$scratch" || exit 1
  # A repository nobody may not read leaves it no commit time: both then take the one read here.
  if [ -f "$copy/.git" ] &&
     ! "${other[@]}" git -c safe.directory="$copy" -C "$copy" log -1 >/dev/null 2>&1; then
    export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git -C "$source" log -1 --format=%ct)}
  fi
fi
options=()
for option in "$@"; do options+=("${option//"$source"/"$copy"}"); done
(cd "$copy" && "${other[@]}" env HOME="$scratch/other" TZ=IST-5:30 bash -c '
  umask 077
  cmake -S . -B "$1" -DPAGEHOP_TESTS=OFF "${@:3}" && cmake --build "$1" &&
    cpack --config "$1/CPackConfig.cmake" -B "$2"' - "$rel" "$scratch/other/out" "${options[@]}") \
  >"$scratch/other.log" 2>&1 </dev/null || { cat "$scratch/other.log"; echo "FAIL: second build"; exit 1; }

same=
for package in "$scratch"/out/*.deb "$scratch"/out/*.zip; do
  [ -f "$package" ] || continue
  name=$(basename "$package") twin=$scratch/other/out/$(basename "$package")
  if ! cmp "$package" "$twin"; then
    diff <(cmake -E tar tvf "$package") <(cmake -E tar tvf "$twin")
    echo "FAIL: $name differs when $who builds it under umask 077"; exit 1
  fi
  same="$name ($(stat -c %s "$package") bytes, sha256 $(sha256sum "$package" | cut -c1-16)…)"
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
  echo "ok: $same is the same when $who builds it, ${checked}depends on $depends, installs" \
    "pagehop with its manual page, copyright and changelog, and converts the sample site"
elif [ -n "$zip" ]; then
  listing=$(cmake -E tar tf "$zip")
  for name in pagehop.exe README.md LICENSE; do
    echo "$listing" | grep -q "/$name\$" || { echo "FAIL: $name not in $(basename "$zip")"; exit 1; }
  done
  echo "ok: $same is the same when $who builds it and holds pagehop.exe, README.md and LICENSE"
else
  echo "FAIL: cpack made no package"; exit 1
fi
