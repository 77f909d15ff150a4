#!/usr/bin/env bash
# The includes of the shipped code run one way: app/ over the runtime libraries
# (runtime/strings, files, fs, console), which have no cycle between their folders, over
# runtime/memory/, over platform/ (its sides include only platform/ and runtime/base/), over
# runtime/base/, which includes nothing of the project but itself. Prints each include that runs
# the other way and fails when there is one.
# usage: tests/layering_check.sh [SOURCE_DIR]
set -u
cd "${1:-$(dirname "$0")/..}" || exit 2

# The layer of a folder: a file may include its own folder's headers and lower layers'.
rank() {
  case $1 in
    app) echo 4 ;;
    runtime/strings | runtime/files | runtime/fs | runtime/console) echo 3 ;;
    runtime/memory) echo 2 ;;
    platform | platform/*) echo 1 ;;
    runtime/base) echo 0 ;;
    *) echo -1 ;;
  esac
}
# platform/posix and platform/win32 are one layer with platform/sys.h.
folder_of() { local d; d=$(dirname "$1"); [[ $d == platform/* ]] && d=platform; echo "$d"; }

bad=0 edges=()
while IFS=: read -r file _ include; do
  header=$(sed -E 's/^[^"]*"([^"]+)".*/\1/' <<<"$include")
  [ -e "$header" ] || continue  # a system or test header
  from=$(folder_of "$file") to=$(folder_of "$header")
  [ "$from" = "$to" ] && continue
  if [ "$(rank "$to")" -ge "$(rank "$from")" ] && ! { [ "$(rank "$from")" = 3 ] && [ "$(rank "$to")" = 3 ]; }; then
    echo "upward include: $file includes $header"
    bad=1
  fi
  [ "$(rank "$from")" = 3 ] && [ "$(rank "$to")" = 3 ] && edges+=("$from $to")
done < <(grep -rn --include='*.cpp' --include='*.h' '^#include "' app runtime platform)

# Between the runtime libraries only a graph without cycles will do.
if [ ${#edges[@]} -gt 0 ] && ! printf '%s\n' "${edges[@]}" | sort -u | tsort >/dev/null 2>&1; then
  echo "a cycle between the runtime libraries:"
  printf '  %s\n' "${edges[@]}" | sort -u
  bad=1
fi
[ $bad -eq 0 ] && echo "ok: every include runs down the layers, with no cycle between the runtime libraries"
exit $bad
