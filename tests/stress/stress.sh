#!/usr/bin/env bash
# Stress runs of the Linux programs: many pages, huge pages and lines, long names, a deep current
# directory, pages that are no regular files, and pages that change while they are converted.
# Each run must end with status 0 within its time limit, and every page must still be there
# unless its target is complete.
# usage: tests/stress/stress.sh --program PATH --program-v02 PATH [--light] [--scratch DIR]
#   --light    smaller sizes (10,000 pages, 64 MB pages, no line at or over the reader's limit),
#              for every test run; the full sizes take a few minutes and about 7 GB of scratch
#              space and 2 GB of memory
#   --scratch  where the huge pages go (default: /dev/shm when it has room, else /tmp)
set -u
program= program_v02= light=0 scratch_root=
while [ $# -gt 0 ]; do
  case $1 in
    --program) program=$(realpath "$2"); shift 2 ;;
    --program-v02) program_v02=$(realpath "$2"); shift 2 ;;
    --light) light=1; shift ;;
    --scratch) scratch_root=$2; shift 2 ;;
    *) echo "stress.sh: unknown argument $1" >&2; exit 2 ;;
  esac
done
[ -x "$program" ] && [ -x "$program_v02" ] || { echo "stress.sh: need both programs" >&2; exit 2; }

if [ -z "$scratch_root" ]; then
  scratch_root=/tmp
  free_shm=$(df -Pk /dev/shm 2>/dev/null | awk 'NR == 2 { print $4 }')
  [ "${free_shm:-0}" -gt $((8 * 1024 * 1024)) ] && scratch_root=/dev/shm
fi
scratch=$(mktemp -d "$scratch_root/pagehop-stress.XXXXXX")
trap 'rm -rf "$scratch"' EXIT

if [ $light -eq 1 ]; then
  many=10000 big_mb=64 line_mb=16 change_mb=64 save_runs=200
else
  many=100000 big_mb=2100 line_mb=600 change_mb=400 save_runs=1000
fi
save_seconds=300  # the saves case stops after this long, however many runs it made
sep=$(printf '=%.0s' {1..41})
passed=0 failed=0 case_failed=0 case_name= dir=

begin() {
  case_name=$1 case_failed=0 started=$(date +%s%N) note=
  dir=$scratch/case
  rm -rf "$dir"
  mkdir -p "$dir"
}
fail() { echo "FAIL [$case_name] $*"; case_failed=1; }
pass() {
  local ms=$((($(date +%s%N) - started) / 1000000))
  if [ $case_failed -eq 0 ]; then
    passed=$((passed + 1))
    printf 'ok   [%s] %d.%01d s%s\n' "$case_name" $((ms / 1000)) $((ms % 1000 / 100)) "$note"
  else
    failed=$((failed + 1))
  fi
  rm -rf "$dir"
}

# convert [--v02] [ARGS...]: runs a program in the case's folder with a time limit.
convert() {
  local p=$program
  [ "${1:-}" = --v02 ] && { p=$program_v02; shift; }
  (cd "$dir" && timeout -k 5 600 "$p" "$@" </dev/null >"$scratch/out" 2>"$scratch/err")
  local status=$?
  [ $status -eq 124 ] || [ $status -eq 137 ] && fail "hang"
  [ $status -gt 128 ] && [ $status -ne 137 ] && fail "crash (signal $((status - 128)))"
  [ $status -ne 0 ] && [ $status -le 128 ] && [ $status -ne 124 ] && fail "exit status $status"
  return 0
}

# expect_converted SOURCE TARGET: the target is the source with every ".html" rewritten, CR LF
# and a missing last line end made LF.
expect_converted() {
  if ! sed -e 's/\r$//' -e 's/\.html/.php/g' -e '$a\' "$1" | cmp -s - "$2"; then
    fail "$(basename "$2") is not the conversion of $(basename "$1")"
  fi
}

# expect_prefix ORIGINAL TARGET: the target is the conversion of a leading part of the original
# (a page that changed while it was read); its last line may be cut short.
expect_prefix() {
  local size last
  size=$(stat -c %s "$2")
  last=$(tail -n 1 "$2" | wc -c)
  if ! sed -e 's/\.html/.php/g' "$1" | cmp -s -n $((size - last)) - "$2"; then
    fail "$(basename "$2") is not the conversion of a leading part of $(basename "$1")"
  fi
}

# expect_holds BYTES ORIGINAL TARGET: the target holds the conversion of at least the first
# BYTES of the original (its whole lines), so nothing that the page held then is lost.
expect_holds() {
  local part
  part=$(head -c "$1" "$2" | sed -e 's/\.html/.php/g' | head -n -1 | wc -c)
  if [ "$(stat -c %s "$3")" -lt "$part" ] ||
     ! head -c "$1" "$2" | sed -e 's/\.html/.php/g' | head -n -1 | cmp -s -n "$part" - "$3"; then
    fail "$(basename "$3") lacks what the page held"
  fi
}

count_files() { find "$dir" -maxdepth 1 -name "$1" | wc -l; }

# --- many pages --------------------------------------------------------------------------------

make_many() {
  seq -f '<a href="p%06g.html">next</a> plain text' 1 "$many" >"$scratch/lines"
  (cd "$dir" && split -l 1 -d -a 6 --additional-suffix=.html "$scratch/lines" p)
  rm "$scratch/lines"
}

begin "$many small pages, copy mode"
make_many
convert
[ "$(count_files '*.php')" -eq "$many" ] || fail "$(count_files '*.php') targets, not $many"
[ "$(grep -c -x "$sep" "$scratch/out")" -eq "$many" ] || fail "not one separator a page"
grep -q 'Write failed' "$scratch/out" && fail "a write failed"
[ "$(cd "$dir" && find . -name '*.php' -print0 | sort -z | xargs -0 cat | md5sum)" = \
  "$(cd "$dir" && find . -name '*.html' -print0 | sort -z | xargs -0 cat | sed 's/\.html/.php/g' | md5sum)" ] ||
  fail "the targets are not the conversions of their pages"
pass

begin "$many small pages, rename mode"
make_many
convert --v02 /r
[ "$(count_files '*.php')" -eq "$many" ] || fail "$(count_files '*.php') targets, not $many"
[ "$(count_files '*.html')" -eq 0 ] || fail "$(count_files '*.html') pages left"
seq -f '<a href="p%06g.php">next</a> plain text' 1 "$many" | md5sum >"$scratch/want"
[ "$(cd "$dir" && find . -name '*.php' -print0 | sort -z | xargs -0 cat | md5sum)" = "$(cat "$scratch/want")" ] ||
  fail "the targets are not the conversions of the pages"
pass

# --- huge pages and lines ----------------------------------------------------------------------

begin "a page of $big_mb MB, rename mode"
yes '<p>A line of text with a <a href="next.html">link</a> and caf\xc3\xa9.</p>' |
  head -c $((big_mb * 1024 * 1024 + 12345)) >"$dir/big.html"
printf '\n' >>"$dir/big.html"
cp "$dir/big.html" "$scratch/big.orig"
convert --v02 /r
[ -e "$dir/big.html" ] && fail "the page was not renamed"
expect_converted "$scratch/big.orig" "$dir/big.php"
rm -f "$scratch/big.orig"
pass

begin "a single line of $line_mb MB"
{ head -c $((line_mb * 1024 * 1024)) /dev/zero | tr '\0' 'a'; printf 'x.html'; } >"$dir/line.html"
convert --v02 /r
[ -e "$dir/line.html" ] && fail "the page was not renamed"
cp "$dir/line.php" "$scratch/line.php"
{ head -c $((line_mb * 1024 * 1024)) /dev/zero | tr '\0' 'a'; printf 'x.php\n'; } | cmp -s - "$scratch/line.php" ||
  fail "line.php is not the conversion"
rm -f "$scratch/line.php"
pass

if [ $light -eq 0 ]; then
  begin "a line longer than the reader takes (1100 MB) is reported and kept"
  head -c 1100000000 /dev/zero | tr '\0' 'a' >"$dir/huge.html"
  convert --v02 /r
  grep -q -x 'Write failed : huge.php' "$scratch/out" || fail "no write failure reported"
  [ "$(stat -c %s "$dir/huge.html" 2>/dev/null)" = 1100000000 ] || fail "the page was not kept"
  pass

  # A line of exactly the reader's limit is within it, with a line end after it or at the end of
  # the page; its target is the page with an LF at the end.
  for ending in LF none; do
    begin "a line of exactly the reader's limit (1,072,693,248 bytes) converts, line end: $ending"
    head -c 1072693248 /dev/zero | tr '\0' 'a' >"$dir/edge.html"
    [ $ending = LF ] && printf '\n' >>"$dir/edge.html"
    convert
    grep -q 'Write failed' "$scratch/out" && fail "reported as failed"
    sed -e '$a\' "$dir/edge.html" | cmp -s - "$dir/edge.php" || fail "edge.php is not the conversion"
    pass
  done
fi

# --- names and folders -------------------------------------------------------------------------

begin "names of 255 bytes"
long=$(printf 'n%.0s' {1..250})
euro=$(printf '\xe2\x82\xac%.0s' {1..83})  # 249 bytes of three-byte characters
printf 'a <a href="%s.html">x</a>\n' "$euro" >"$dir/$long.html"
printf 'b\n' >"$dir/$euro.html"
convert --v02 /r
expect_converted <(printf 'a <a href="%s.html">x</a>\n' "$euro") "$dir/$long.php"
[ -f "$dir/$euro.php" ] || fail "the page of three-byte characters was not converted"
[ "$(count_files '*.html')" -eq 0 ] || fail "a page was left"
grep -q -F "Created : $long.php" "$scratch/out" || fail "creation line of the long name"
pass

begin "a current directory deeper than 4096 bytes"
# Made and entered one level at a time: the whole path is longer than the system takes at once.
component=$(printf 'd%.0s' {1..200})
(
  cd "$dir" || exit 2
  for _ in $(seq 1 22); do mkdir "$component" && cd "$component" || exit 2; done
  printf 'to <a href="b.html">b</a>\n' >a.html
  timeout 60 "$program_v02" /r </dev/null >"$scratch/out" 2>&1 || exit 3
  [ -e a.html ] || [ -e a.php ] || exit 4
  if [ -e a.php ]; then
    printf 'to <a href="b.php">b</a>\n' | cmp -s - a.php && [ ! -e a.html ] || exit 5
  fi
)
case $? in
  0) note=" ($(grep -c '^Created' "$scratch/out") page converted)" ;;
  3) fail "the program failed or hung" ;;
  4) fail "the page is lost" ;;
  5) fail "a.php is not the conversion, or the page was not renamed" ;;
  *) fail "could not make the folders" ;;
esac
pass

# --- pages that are not regular files ----------------------------------------------------------

begin "a page that is a FIFO, with and without a writer, or a device"
mkfifo "$dir/fifo.html" "$dir/busy.html"
sleep 30 >"$dir/busy.html" &  # a writer that holds the FIFO open
writer=$!
ln -s /dev/zero "$dir/zero.html"
ln -s /dev/urandom "$dir/random.html"
[ "$(id -u)" -eq 0 ] && mknod "$dir/device.html" c 1 3  # /dev/null's own node
printf 'x\n' >"$dir/plain.html"
convert --v02 /r
kill $writer 2>/dev/null
wait $writer 2>/dev/null
[ "$(grep -c '^Created' "$scratch/out")" -eq 1 ] || fail "only the plain page is converted"
for p in fifo busy zero random device; do
  [ -e "$dir/$p.php" ] && fail "$p.php was created"
  [ "$p" = device ] && [ "$(id -u)" -ne 0 ] && continue
  [ -e "$dir/$p.html" ] || [ -L "$dir/$p.html" ] || fail "$p.html is gone"
done
pass

# --- pages that change while they are converted ------------------------------------------------

make_changing() {
  yes '<p>Some text and a <a href="other.html">link</a>.</p>' | head -c $((change_mb * 1024 * 1024)) >"$dir/page.html"
  cp "$dir/page.html" "$scratch/original"
}

# change_while_converting MODE ACTION: starts the program, changes the page once it is being
# read, and waits for the program.
change_while_converting() {
  local mode=$1 action=$2 p=$program
  local args=()
  [ "$mode" = rename ] && { p=$program_v02; args=(/r); }
  (cd "$dir" && exec timeout -k 5 600 "$p" "${args[@]}" </dev/null >"$scratch/out" 2>"$scratch/err") &
  local job=$!
  # Change the page once the target is being written, so the change falls within the copy.
  for _ in $(seq 1 500); do [ -s "$dir/page.php" ] && break; sleep 0.002; done
  if kill -0 $job 2>/dev/null; then note=" (changed during the copy)"; else note=" (changed after it)"; fi
  case $action in
    grow) yes '<p>Appended <a href="late.html">late</a>.</p>' | head -c $((64 * 1024 * 1024)) >>"$dir/page.html" ;;
    shrink) truncate -c -s $((change_mb * 1024 * 1024 / 4)) "$dir/page.html" ;;
    disappear) rm -f "$dir/page.html" ;;
  esac
  wait $job
  local status=$?
  [ $status -eq 0 ] || fail "exit status $status"
}

for mode in copy rename; do
  begin "a page that grows while it is converted, $mode mode"
  make_changing
  change_while_converting $mode grow
  # Whatever the page held before it grew is in the target, whether or not the page is kept.
  yes '<p>Appended <a href="late.html">late</a>.</p>' | head -c $((64 * 1024 * 1024)) |
    cat "$scratch/original" - >"$scratch/grown"
  expect_prefix "$scratch/grown" "$dir/page.php"
  expect_holds "$(stat -c %s "$scratch/original")" "$scratch/original" "$dir/page.php"
  [ $mode = copy ] && { cmp -s "$dir/page.html" "$scratch/grown" || fail "the page changed"; }
  pass

  begin "a page that shrinks while it is converted, $mode mode"
  make_changing
  change_while_converting $mode shrink
  expect_prefix "$scratch/original" "$dir/page.php"
  # What the page still held is in the target, or the page is still there.
  if [ -e "$dir/page.html" ]; then
    cmp -s -n $((change_mb * 1024 * 1024 / 4)) "$dir/page.html" "$scratch/original" || fail "the page changed"
  else
    expect_holds $((change_mb * 1024 * 1024 / 4)) "$scratch/original" "$dir/page.php"
  fi
  pass

  begin "a page that disappears while it is converted, $mode mode"
  make_changing
  change_while_converting $mode disappear
  # The open page is still read to its end: its target is whole.
  expect_converted "$scratch/original" "$dir/page.php"
  pass
done

# --- a page saved again and again while rename runs delete it --------------------------------

# An editor saves p.html in a tight loop, each text by renaming it over the page: by exchanging
# the two names (renameat2 with RENAME_EXCHANGE, system call 316 on x86-64), so that it gets
# back the text it replaced and prints it, or, while the page's name is free, by taking it
# (RENAME_NOREPLACE). Meanwhile rename runs convert and delete the page, one after the other.
# Every text saved must be found again: replaced by the next save, converted by a run (its echo),
# under the page's name at the end, or under an aside name that a run reported. A text found in
# none of these was deleted by a run that had not converted it.
editor='
  use Errno qw(ENOENT EEXIST);
  my ($stop, $new, $page, $saved) = (shift, ".p.new", "p.html", 0);
  $| = 1;
  for (my $i = 1; !-e $stop; $i++) {
    open(my $f, ">", $new) or die "$new: $!";
    print $f "edit $i .html\n";
    close $f;
    while (1) {
      if (syscall(316, -100, $new, -100, $page, 2) == 0) {
        open(my $old, "<", $new) or die "$new: $!";
        print <$old>;
        unlink $new;
        last;
      }
      die "exchange: $!" unless $! == ENOENT;
      last if syscall(316, -100, $new, -100, $page, 1) == 0;
      die "rename: $!" unless $! == EEXIST;
    }
    $saved = $i;
  }
  print "saved $saved\n";
'
begin "a page saved by renaming over it during $save_runs rename runs"
: >"$scratch/converted"
(cd "$dir" && exec perl -e "$editor" "$scratch/stop" >"$scratch/replaced") &
editor_job=$!
runs=0 until=$(($(date +%s) + save_seconds))
while [ $runs -lt $save_runs ] && [ "$(date +%s)" -lt $until ]; do
  convert --v02 /r
  cat "$scratch/out" >>"$scratch/converted"
  runs=$((runs + 1))
done
touch "$scratch/stop"
wait $editor_job || fail "the editor failed"
saved=$(sed -n 's/^saved //p' "$scratch/replaced")
asides=$(grep -c '^Kept aside : ' "$scratch/converted")
{ sed -n 's/^edit \([0-9]*\) \.html$/\1/p' "$scratch/replaced" "$dir/p.html" "$dir"/.pagehop-* 2>/dev/null
  sed -n 's/^edit \([0-9]*\) \.php$/\1/p' "$scratch/converted"; } | sort -u >"$scratch/found"
lost=$(seq 1 "${saved:-0}" | sort | comm -23 - "$scratch/found" | wc -l)
[ "$lost" -eq 0 ] || fail "$lost of $saved saves lost"
[ "${saved:-0}" -gt "$runs" ] || fail "only ${saved:-0} saves in $runs runs"
note=" ($runs runs, ${saved:-0} saves, $(grep -c '^Created' "$scratch/converted") conversions, $asides set aside)"
rm -f "$scratch/stop" "$scratch/replaced" "$scratch/converted" "$scratch/found"
pass

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
