#!/usr/bin/env bash
# One bounded libFuzzer run of a target, from its seed corpus, leaving the seeds as they are.
# usage: tests/fuzz/run.sh FUZZER SEED_DIR SECONDS [LIBFUZZER_OPTIONS...]
# A finding fails the run; its input is kept beside the fuzzer as <target>-finding-* and
# printed in hex.
set -u
fuzzer=$1 seeds=$2 seconds=$3
shift 3
name=$(basename "$fuzzer")
work=$(mktemp -d "/tmp/pagehop-$name.XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir "$work/corpus" "$work/findings"

"$fuzzer" "$work/corpus" "$seeds" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=2048 \
  -artifact_prefix="$work/findings/" -print_final_stats=1 "$@" </dev/null >"$work/log" 2>&1
status=$?
grep -E '^(#[0-9]+ +DONE|stat::number_of_executed_units|stat::peak_rss_mb|Done )' "$work/log"
grep -E '^#[0-9]+' "$work/log" | tail -1
if [ $status -ne 0 ] || [ -n "$(ls "$work/findings")" ]; then
  echo "$name: FINDING (exit status $status)"
  grep -v -E '^#[0-9]+' "$work/log" | tail -60
  for f in "$work/findings"/*; do
    [ -e "$f" ] || continue
    cp "$f" "$(dirname "$fuzzer")/$name-finding-$(basename "$f")"
    echo "input $(basename "$f"):"
    head -c 512 "$f" | od -A d -t x1 | head -20
  done
  exit 1
fi
echo "$name: no finding in ${seconds} s"
