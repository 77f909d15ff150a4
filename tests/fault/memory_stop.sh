#!/usr/bin/env bash
# The stop for want of memory, in the middle of a run of the Linux program: every console line
# printed before it must have arrived (each line is written out as it is printed, and the stop
# skips the C library's exit). The string layer's allocations fail from the Nth on, for a few N
# spread over a clean run's count; each run must end with status 1 and its output must be a
# non-empty run of whole lines that a clean run begins with.
# usage: tests/fault/memory_stop.sh --program PATH --library PATH
set -u
program= library=
while [ $# -gt 0 ]; do
  case $1 in
    --program) program=$(realpath "$2"); shift 2 ;;
    --library) library=$(realpath "$2"); shift 2 ;;
    *) echo "memory_stop.sh: unknown argument $1" >&2; exit 2 ;;
  esac
done
scratch=$(mktemp -d /tmp/pagehop-memory-stop.XXXXXX)
trap 'rm -rf "$scratch"' EXIT
site=$(cd "$(dirname "$0")/../../examples/site" && pwd)

convert() {  # convert OUT [ENV...]: the program on a fresh copy of the sample site
  local out=$1; shift
  rm -rf "$scratch/site" && cp -r "$site" "$scratch/site"
  (cd "$scratch/site" && env LD_PRELOAD="$library" "$@" "$program" </dev/null >"$out" 2>/dev/null)
}

convert "$scratch/clean" PAGEHOP_FAULT_COUNTS="$scratch/counts" || { echo "FAIL: clean run"; exit 1; }
reallocs=$(awk '$1 == "realloc" { print $2 }' "$scratch/counts")
failed=0
for n in $((reallocs / 4)) $((reallocs / 2)) $((reallocs * 3 / 4)); do
  convert "$scratch/stopped" PAGEHOP_FAULT="realloc:$n" PAGEHOP_FAULT_STICKY=1
  status=$?
  got=$(wc -c <"$scratch/stopped")
  if [ $status -ne 1 ]; then
    echo "FAIL [realloc:$n on] exit status $status, not the memory stop"; failed=1
  elif [ "$got" -eq 0 ] || ! cmp -s "$scratch/stopped" <(head -c "$got" "$scratch/clean") ||
       [ "$(tail -c 1 "$scratch/stopped")" != "" ]; then
    echo "FAIL [realloc:$n on] the lines printed before the stop did not all arrive"; failed=1
  else
    echo "ok   [realloc:$n on] stopped after $(wc -l <"$scratch/stopped") whole lines"
  fi
done
exit $failed
