#!/usr/bin/env bash
# End-to-end runs of a built pagehop in scratch folders: console lines and target bytes.
# usage: tests/e2e/run.sh --program PATH --edition v0.1|v0.2 --platform posix|win32
#                         [--fault-library PATH] [--scratch DIR] [-- RUNNER...]
# Every run of the program goes through the RUNNER when one is given: the wine wrapper for the
# Windows program (its output then goes through a pipe, so it arrives as UTF-8 with CR LF line
# ends), or valgrind for the Linux program. The cases that need the fault-injection library
# (tests/fault) run when it is given and no runner is.
set -u
program= edition= platform= runner=() fault_library= scratch_in=/tmp
while [ $# -gt 0 ]; do
  case $1 in
    --program) program=$(realpath "$2"); shift 2 ;;
    --edition) edition=$2; shift 2 ;;
    --platform) platform=$2; shift 2 ;;
    --fault-library) fault_library=$(realpath "$2"); shift 2 ;;
    --scratch) scratch_in=$2; shift 2 ;;  # where the cases' folders are made
    --) shift; runner=("$@"); break ;;
    *) echo "run.sh: unknown argument $1" >&2; exit 2 ;;
  esac
done
[ -x "$program" ] || { echo "run.sh: no program at '$program'" >&2; exit 2; }
# The cases run in folders of their own, so a runner given by a relative path is made absolute.
[ ${#runner[@]} -gt 0 ] && [[ ${runner[0]} == */* ]] && runner[0]=$(realpath "${runner[0]}")

here=$(cd "$(dirname "$0")" && pwd)
scratch=$(mktemp -d "$scratch_in/pagehop-e2e.XXXXXX")
chmod 755 "$scratch"
trap 'chmod -R u+rwx "$scratch" 2>/dev/null; rm -rf "$scratch"' EXIT

eol=$'\n'
[ "$platform" = win32 ] && eol=$'\r\n'
passed=0 failed=0
case_name= case_dir= case_failed=0

# --- helpers ---------------------------------------------------------------------------------

begin() {  # begin NAME: a fresh folder for one case
  case_name=$1 case_failed=0
  case_dir=$scratch/$((passed + failed))-${1//[^A-Za-z0-9]/_}
  mkdir -p "$case_dir"
  chmod 777 "$case_dir"
}

fail() {
  echo "FAIL [$case_name] $*"
  case_failed=1
}

pass() {  # ends a case
  if [ $case_failed -eq 0 ]; then
    passed=$((passed + 1))
    echo "ok   [$case_name]"
  else
    failed=$((failed + 1))
  fi
}

# A run that does not end within the limit has hung.
limit=(timeout -k 5 120)

run() {  # run [ARGS...]: runs the program in the case's folder; output in $case_dir.out
  (cd "$case_dir" && "${limit[@]}" "${runner[@]}" "$program" "$@" </dev/null >"$case_dir.out" \
    2>"$case_dir.err")
  local status=$?
  [ $status -eq 0 ] || fail "exit status $status"
}

run_as_nobody() {  # as run, without root's privileges, so permissions count
  (cd "$case_dir" && setpriv --reuid=nobody --regid=nogroup --clear-groups -- \
    "${limit[@]}" "${runner[@]}" "$program" "$@" </dev/null >"$case_dir.out" 2>"$case_dir.err")
  local status=$?
  [ $status -eq 0 ] || fail "exit status $status"
}

with_faults() {  # with_faults [VAR=VALUE...] -- [ARGS...]: run with the fault library preloaded
  local settings=("LD_PRELOAD=$fault_library")
  while [ $# -gt 0 ] && [ "$1" != -- ]; do settings+=("$1"); shift; done
  shift
  (cd "$case_dir" && env "${settings[@]}" "${limit[@]}" "$program" "$@" </dev/null \
    >"$case_dir.out" 2>"$case_dir.err")
  local status=$?
  [ $status -eq 0 ] || fail "exit status $status"
}

paused_faults() {  # paused_faults COMMAND [VAR=VALUE...] -- [ARGS...]: with_faults, with the
  # run paused at the call that PAGEHOP_PAUSE names while COMMAND changes the case's folder
  local action=$1; shift
  rm -f "$case_dir.pause"
  with_faults PAGEHOP_PAUSE_FILE="$case_dir.pause" "$@" &
  local job=$! i
  for ((i = 0; i < 1000; i++)); do [ -e "$case_dir.pause" ] && break; sleep 0.01; done
  [ -e "$case_dir.pause" ] || fail "the run did not pause"
  (cd "$case_dir" && eval "$action")
  rm -f "$case_dir.pause"
  wait $job
}

lines() {  # lines LINE...: the bytes of console or target lines with this build's line end
  local l
  for l in "$@"; do printf '%s%s' "$l" "$eol"; done
}

expect_output() {  # expect_output LINE...: the whole console output
  if ! cmp -s <(lines "$@") "$case_dir.out"; then
    fail "console output differs"
    diff <(lines "$@" | cat -A) <(cat -A "$case_dir.out") | cut -c1-160 | sed "s/^/    /" | head -20
  fi
}

expect_file() {  # expect_file NAME LINE...: a target's bytes
  local name=$1; shift
  if [ ! -f "$case_dir/$name" ]; then fail "$name missing"; return; fi
  if ! cmp -s <(lines "$@") "$case_dir/$name"; then
    fail "$name differs"
    diff <(lines "$@" | cat -A) <(cat -A "$case_dir/$name") | cut -c1-160 | sed "s/^/    /" | head -20
  fi
}

expect_bytes() {  # expect_bytes NAME FILE: a target equal to a reference file
  cmp -s "$2" "$case_dir/$1" || fail "$1 differs from $(basename "$2")"
}

expect_exists() { [ -e "$case_dir/$1" ] || fail "$1 should exist"; }
expect_absent() { [ ! -e "$case_dir/$1" ] || fail "$1 should not exist"; }

# --- the texts of this edition ---------------------------------------------------------------

sep=$(printf '=%.0s' {1..41})
if [ "$edition" = v0.1 ]; then
  opening=("pagehop v0.1" "Copy .html to .php including changing internal links in current folder.")
else
  opening=("pagehop v0.2" "  Copying .html to .php including changing internal links in current folder.")
  renaming=("pagehop v0.2" "  Renaming .html to .php including changing internal links to .php in current folder.")
fi
closing=("" "Made with pagehop")
cancelled=".php files are open, program cancelled."

# shellcheck source=tests/e2e/cases.sh
. "$here/cases.sh"

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
