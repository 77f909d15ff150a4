#!/usr/bin/env bash
# The includes of the shipped code run one way, down the tree's top-level folders: app/ over
# runtime/ over platform/ over base/, which includes nothing of the project but itself. A file
# may include its own folder's headers and those of any folder below its own; inside a layer's
# folders (the runtime libraries, their object table and memory, platform/ and its two sides)
# the includes between folders must form no cycle. Prints each include that runs the other way,
# and each cycle, and fails when there is one.
# usage: tests/layering_check.sh [SOURCE_DIR]
set -u
cd "${1:-$(dirname "$0")/..}" || exit 2

layers=(app runtime platform base)  # the top-level folders, top first

# The position of a file's layer, counted from the top; -1 for a file outside the layers.
layer_of() {
  local i
  for i in "${!layers[@]}"; do
    [[ $1 == "${layers[$i]}"/* ]] && { echo "$i"; return; }
  done
  echo -1
}

bad=0 edges=()
while IFS=: read -r file _ include; do
  header=$(sed -E 's/^[^"]*"([^"]+)".*/\1/' <<<"$include")
  [ -e "$header" ] || continue  # a system or test header
  from=$(dirname "$file") to=$(dirname "$header")
  [ "$from" = "$to" ] && continue
  up=$(layer_of "$file") down=$(layer_of "$header")
  if [ "$down" -lt "$up" ]; then
    echo "upward include: $file includes $header"
    bad=1
  elif [ "$down" -eq "$up" ]; then
    edges+=("$from $to")
  fi
done < <(grep -rn --include='*.cpp' --include='*.h' '^#include "' "${layers[@]}")

# Between the folders of one layer only a graph without cycles will do.
if [ ${#edges[@]} -gt 0 ] && ! printf '%s\n' "${edges[@]}" | sort -u | tsort >/dev/null 2>&1; then
  echo "a cycle between the folders of one layer:"
  printf '  %s\n' "${edges[@]}" | sort -u
  bad=1
fi
[ $bad -eq 0 ] && echo "ok: every include runs down the layers, with no cycle inside one"
exit $bad
