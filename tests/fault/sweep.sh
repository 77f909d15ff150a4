#!/usr/bin/env bash
# Fault sweep of the Linux program: for each C library function that the program's file,
# directory and memory code calls, and each N up to the number of calls that a clean run makes,
# the Nth call fails (once, then also from the Nth call on). Each run converts a fresh copy of
# a sample folder and must end with status 0 within the time limit, keep every page unless its
# target is complete, and report every incomplete target with "Write failed : <name>" (or end
# with the cancellation line right after announcing that target). One exception is allowed when
# an allocation fails: the string layer cannot go on without memory and stops the program with
# status 1 at once; then only the target it was writing may be incomplete, and no page is lost.
# usage: tests/fault/sweep.sh --program PATH --library PATH --mode copy|rename [--calls "f g ..."]
set -u
program= library= mode=copy
calls="read write lseek64 close ftruncate64 fsync open fstat lstat stat faccessat opendir readdir64
       fstatat64 getcwd unlink renameat2 rename link fchmod malloc calloc realloc"
while [ $# -gt 0 ]; do
  case $1 in
    --program) program=$(realpath "$2"); shift 2 ;;
    --library) library=$(realpath "$2"); shift 2 ;;
    --mode) mode=$2; shift 2 ;;
    --calls) calls=$2; shift 2 ;;
    *) echo "sweep.sh: unknown argument $1" >&2; exit 2 ;;
  esac
done
[ -x "$program" ] && [ -f "$library" ] || { echo "sweep.sh: no program or library" >&2; exit 2; }
args=()
[ "$mode" = rename ] && args=(/r)

here=$(cd "$(dirname "$0")" && pwd)
scratch=$(mktemp -d /tmp/pagehop-fault.XXXXXX)
trap 'rm -rf "$scratch"' EXIT
sample=$scratch/sample expected=$scratch/expected
mkdir "$sample" "$expected"

# The sample: the example site (UTF-8 and Latin-1 pages, LF and CR LF line ends), a page that
# takes several buffers with a character across a buffer boundary, and an empty page.
cp "$here"/../../examples/site/*.html "$sample/"
for i in $(seq 1 24); do
  printf '<p>%d' "$i"
  [ $((i % 3)) -eq 0 ] && printf ' <a href="page%d.html">next</a>' "$i"
  head -c 640 /dev/zero | tr '\0' 'x'
  printf ' \xc3\xa9t\xc3\xa9</p>\n'
done >"$sample/big.html"
# and one line longer than the reader's first working buffer
{ head -c 9000 /dev/zero | tr '\0' 'y'; printf ' end.html\n'; } >>"$sample/big.html"
: >"$sample/empty.html"
# and an earlier target, longer than the new one: written over and cut where it cannot be deleted
head -c 100000 /dev/zero | tr '\0' 'z' >"$sample/big.php"
# and a file that is no page: nothing may touch it
echo 'not a page: index.html' >"$sample/notes.txt"
pages=()
for f in "$sample"/*.html; do
  p=$(basename "$f")
  pages+=("$p")
  sed -e 's/\r$//' -e 's/\.html/.php/g' "$f" >"$expected/${p%.html}.php"
done
# Checksums of the pages and of their expected targets: one md5sum per run checks them all.
declare -A want
while read -r sum name; do want[$name]=$sum; done < <(cd "$sample" && md5sum -- *.html notes.txt;
                                                       cd "$expected" && md5sum -- *.php)
earlier=$(md5sum <"$sample/big.php")
earlier=${earlier%% *}

runs=0 failures=0 reported_complete=0 memory_stops=0
declare -A per_call

declare -A failed_calls kinds
fail() {
  failures=$((failures + 1))
  local call=${1%%:*} kind=${2##* }
  failed_calls[$call]=$((${failed_calls[$call]:-0} + 1))
  kinds[$kind]=$((${kinds[$kind]:-0} + 1))
  if [ "${failed_calls[$call]}" -le "${SWEEP_SHOW:-3}" ]; then
    echo "FAIL [$1] $2"
    tail -4 "$scratch/out" | cut -c1-100 | sed 's/^/    | /'
    [ -s "$scratch/err" ] && head -3 "$scratch/err" | cut -c1-100 | sed 's/^/    ! /'
  fi
}

# run_case LABEL [ENV...]: converts a fresh copy of the sample with the environment given.
run_case() {
  local label=$1; shift
  local dir=$scratch/case
  rm -rf "$dir"
  cp -r "$sample" "$dir"
  (cd "$dir" && timeout -k 5 "${SWEEP_TIMEOUT:-10}" env "$@" "$program" "${args[@]}" \
    </dev/null >"$scratch/out" 2>"$scratch/err")
  local status=$?
  runs=$((runs + 1))
  if [ $status -eq 124 ] || [ $status -eq 137 ]; then fail "$label" "timed out: hang"; return; fi
  if [ $status -gt 128 ]; then fail "$label" "signal $((status - 128)): crash"; return; fi
  local stopped=0
  if [ $status -eq 1 ] && [[ $label == @(malloc|calloc|realloc):* ]]; then
    stopped=1 memory_stops=$((memory_stops + 1))
  elif [ $status -ne 0 ]; then
    fail "$label" "exit status $status: status"
  fi

  local -A have=()
  local sum name
  while read -r sum name; do have[$name]=$sum; done < <(cd "$dir" && md5sum -- * 2>/dev/null)
  local out
  out=$'\n'$(<"$scratch/out")$'\n'
  # Cancelled right after announcing a target: that target is the last one created.
  # Stopped for want of memory: the target announced last may be the one it was writing.
  local cancelled_at=
  if [[ $out == *$'\n.php files are open, program cancelled.\n' ]]; then
    cancelled_at=${out%$'\n'*$'\n'}
    cancelled_at=${cancelled_at##*$'\nCreated : '}
  elif [ $stopped -eq 1 ] && [[ $out == *$'\nCreated : '* ]]; then
    cancelled_at=${out##*$'\nCreated : '}
    cancelled_at=${cancelled_at%%$'\n'*}
  fi
  [ "${have[notes.txt]-}" = "${want[notes.txt]}" ] && [ -z "${have[notes.php]-}" ] ||
    fail "$label" "notes.txt was converted or changed: not a page"
  # A page moved aside for its deletion is deleted, moved back or reported.
  local aside
  for aside in "$dir"/.pagehop-*; do
    [ -e "$aside" ] || continue
    [[ $out == *$'\nKept aside : '"${aside##*/}"$'\n'* ]] || fail "$label" "${aside##*/} left: hidden"
  done
  local p t complete
  for p in "${pages[@]}"; do
    t=${p%.html}.php complete=0
    [ "${have[$t]-}" = "${want[$t]}" ] && complete=1
    # an earlier target that the run did not reach
    [ "$t" = big.php ] && [ "${have[$t]-}" = "$earlier" ] && [ "${have[$p]-}" = "${want[$p]}" ] &&
      continue
    if [ -z "${have[$p]-}" ]; then
      [ "$mode" = rename ] && [ $complete -eq 1 ] || fail "$label" "$p deleted, its target incomplete: lost"
    elif [ "${have[$p]}" != "${want[$p]}" ]; then
      fail "$label" "$p was changed: changed"
    fi
    if [ -n "${have[$t]-}" ] && [ $complete -eq 0 ]; then
      if [[ $out != *$'\nWrite failed : '"$t"$'\n'* ]] && [ "$cancelled_at" != "$t" ]; then
        fail "$label" "$t is incomplete and not reported: unreported"
      fi
    elif [ $complete -eq 1 ] && [[ $out == *$'\nWrite failed : '"$t"$'\n'* ]]; then
      reported_complete=$((reported_complete + 1))  # cautious, not wrong: the page is kept
    fi
  done
}

# A clean run must convert every page, and gives the number of calls of each function.
run_case clean "LD_PRELOAD=$library" "PAGEHOP_FAULT_COUNTS=$scratch/counts"
for p in "${pages[@]}"; do
  cmp -s "$scratch/case/${p%.html}.php" "$expected/${p%.html}.php" || fail clean "${p%.html}.php differs"
  [ "$mode" = copy ] || [ ! -e "$scratch/case/$p" ] || fail clean "$p not renamed"
done
[ $failures -eq 0 ] || { echo "sweep.sh: the clean run failed"; exit 1; }
declare -A count
while read -r name n; do count[$name]=$n; done <"$scratch/counts"

for call in $calls; do
  n=${count[$call]:-0}
  for ((i = 1; i <= n; i++)); do
    run_case "$call:$i" "LD_PRELOAD=$library" "PAGEHOP_FAULT=$call:$i"
    run_case "$call:$i on" "LD_PRELOAD=$library" "PAGEHOP_FAULT=$call:$i" PAGEHOP_FAULT_STICKY=1
  done
  per_call[$call]=$n
done

echo "fault sweep, $mode mode, ${#pages[@]} pages: $runs runs, $failures failures"
for call in $calls; do
  printf '  %-12s N = 1..%-4s failures: %s\n' "$call" "${per_call[$call]}" "${failed_calls[$call]:-0}"
done
[ $failures -gt 0 ] && echo "  by kind:$(for k in "${!kinds[@]}"; do printf ' %s %s' "$k" "${kinds[$k]}"; done)"
echo "complete targets reported as failed (pages kept): $reported_complete"
echo "stops for want of memory (status 1, no page lost): $memory_stops"
[ $failures -eq 0 ]
