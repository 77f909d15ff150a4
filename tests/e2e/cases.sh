# The end-to-end cases, sourced by run.sh with its helpers and texts.
# shellcheck shell=bash disable=SC2154

# --- the flow --------------------------------------------------------------------------------

begin "two linked pages: the nine-line example"
printf '<a href="b.html">b</a>\nplain\n' >"$case_dir/a.html"
printf 'no link\n' >"$case_dir/b.html"
run
a_first=("${opening[@]}" "$sep" "Created : a.php" '<a href="b.php">b</a>' "$sep" "Created : b.php" "${closing[@]}")
b_first=("${opening[@]}" "$sep" "Created : b.php" "$sep" "Created : a.php" '<a href="b.php">b</a>' "${closing[@]}")
if ! cmp -s <(lines "${a_first[@]}") "$case_dir.out"; then expect_output "${b_first[@]}"; fi
expect_file a.php '<a href="b.php">b</a>' plain
expect_file b.php 'no link'
expect_exists a.html
expect_exists b.html
pass

begin "an empty folder prints the opening and the closing lines only"
run
expect_output "${opening[@]}" "${closing[@]}"
pass

begin "every occurrence in a line is replaced, in this case only"
printf 'x.html y.html\nA.HTML b.Html\nword.htmlx\n.html.html\n' >"$case_dir/p.html"
run
expect_output "${opening[@]}" "$sep" "Created : p.php" "x.php y.php" "word.phpx" ".php.php" "${closing[@]}"
expect_file p.php "x.php y.php" "A.HTML b.Html" "word.phpx" ".php.php"
pass

begin "line ends become this build's, and the last line gets one"
printf 'a\r\nb\rc\n\nd' >"$case_dir/p.html"
run
expect_file p.php a b c "" d
pass

begin "an empty page gives an empty target"
: >"$case_dir/e.html"
run
expect_output "${opening[@]}" "$sep" "Created : e.php" "${closing[@]}"
[ -f "$case_dir/e.php" ] && [ ! -s "$case_dir/e.php" ] || fail "e.php should be empty"
pass

begin "only the last extension goes; hidden pages are pages"
printf 'x\n' >"$case_dir/x.y.html"
run
expect_file x.y.php x
pass

begin "a directory named like a page is passed over without a separator"
mkdir "$case_dir/dir.html"
run
expect_output "${opening[@]}" "${closing[@]}"
pass

begin "an earlier target is replaced whole"
printf 'new\n' >"$case_dir/a.html"
printf 'a much longer old target\nwith two lines\n' >"$case_dir/a.php"
run
expect_file a.php new
pass

begin "a directory in the target's place cancels the run"
printf 'x\n' >"$case_dir/a.html"
mkdir "$case_dir/a.php"
run
expect_output "${opening[@]}" "$sep" "$cancelled"
expect_exists a.html
pass

begin "bytes that are not UTF-8 are copied as they are"
printf 'caf\xe9 <a href="men\xfc.html">\xe0 la carte</a>\n\xff\xfe\xc3\n' >"$case_dir/latin1.html"
printf 'caf\xe9 <a href="men\xfc.php">\xe0 la carte</a>%s\xff\xfe\xc3%s' "$eol" "$eol" >"$case_dir.want"
run
expect_bytes latin1.php "$case_dir.want"
printf 'caf\xe9 <a href="men\xfc.php">\xe0 la carte</a>%s' "$eol" >"$case_dir.echo"
grep -q -a -F -f "$case_dir.echo" "$case_dir.out" || fail "echo of the Latin-1 line differs"
pass

# A page's lines with zero bytes inside, at the start and end of a line, at the 4096-byte edge
# where the buffer is refilled, and at 16-byte block edges; EXT is the links' extension, EOL
# the line end.
zero_page() {
  printf 'a\0b<a href="x.%s">%s\0start.%s%send.%s\0%s' "$1" "$2" "$1" "$2" "$1" "$2"
  printf 'y%.0s' $(seq 4052)
  printf '\0\0edge.%s%sxxxxxxxxxxxxxxx\0xxxxxxxxxxxxxxx\0w.%s%s' "$1" "$2" "$1" "$2"
}
modes=(copy)
[ "$edition" = v0.2 ] && modes+=(rename)
for mode in "${modes[@]}"; do
  begin "zero bytes are characters of their lines ($mode mode)"
  zero_page html $'\n' >"$case_dir/z.html"
  zero_page php "$eol" >"$case_dir.want"
  switch=() start=("${opening[@]}")
  [ $mode = rename ] && switch=(/r) start=("${renaming[@]}")
  run "${switch[@]}"
  expect_bytes z.php "$case_dir.want"
  { lines "${start[@]}" "$sep" "Created : z.php"; cat "$case_dir.want"; lines "${closing[@]}"; } \
    >"$case_dir.echo"
  cmp -s "$case_dir.echo" "$case_dir.out" || fail "console output differs"
  if [ $mode = rename ]; then expect_absent z.html; else expect_exists z.html; fi
  pass
done

if [ "$edition" = v0.2 ]; then
  begin "rename mode keeps the two pages that share a target"
  printf 'one\n' >"$case_dir/.html"
  printf 'two\n' >"$case_dir/.html.html"
  run /r
  expect_exists .html
  expect_exists .html.html
  tr -d '\r' <"$case_dir/.html.php" | grep -qx -e one -e two ||
    fail ".html.php is neither page's conversion"
  pass
fi

# UTF-16 in each byte order: the mark, links, CR LF and a lone CR, a pair, a high surrogate
# without its pair and an odd last byte all reach the target, written in the page's order.
for order in LE BE; do
  begin "a UTF-16 page ($order) is converted in its own byte order"
  utf16() { iconv -f UTF-8 -t "UTF-16$order"; }
  # printf formats, as a shell variable cannot hold a zero byte
  if [ $order = LE ]; then mark='\xff\xfe' lone='\x00\xd8'; else mark='\xfe\xff' lone='\xd8\x00'; fi
  first=$'<a href="x.EXT">caf\xc3\xa9 \xf0\x9f\x98\x80</a>'
  { printf "$mark"; printf '%s\r\nplain\rlast.html' "${first/EXT/html}" | utf16
    printf "$lone"; printf 'X'; } >"$case_dir/u.html"
  { printf "$mark"; printf '%s%splain%slast.php' "${first/EXT/php}" "$eol" "$eol" | utf16
    printf "$lone"; printf '%s' "$eol" | utf16; printf 'X'; } >"$case_dir.want"
  run
  expect_bytes u.php "$case_dir.want"
  # The mark is the first line's first character; a high surrogate without its pair ends a line
  # on the console.
  expect_output "${opening[@]}" "$sep" "Created : u.php" $'\xef\xbb\xbf'"${first/EXT/php}" \
    last.php "${closing[@]}"
  pass
done

begin "UTF-8 text and a byte-order mark pass unchanged"
printf '\xef\xbb\xbf<p>Gr\xc3\xbc\xc3\x9fe \xe2\x86\x92 n\xc3\xa4chste.html \xf0\x9f\x98\x80</p>\n' >"$case_dir/u.html"
run
expect_file u.php $'\xef\xbb\xbf<p>Gr\xc3\xbc\xc3\x9fe \xe2\x86\x92 n\xc3\xa4chste.php \xf0\x9f\x98\x80</p>'
expect_output "${opening[@]}" "$sep" "Created : u.php" $'\xef\xbb\xbf<p>Gr\xc3\xbc\xc3\x9fe \xe2\x86\x92 n\xc3\xa4chste.php \xf0\x9f\x98\x80</p>' "${closing[@]}"
pass

begin "long lines of 3-byte and 4-byte characters pass whole to the target and the console"
euros=$(printf '%400s' '' | sed 's/ /\xe2\x82\xac/g')
smileys=$(printf '%300s' '' | sed 's/ /\xf0\x9f\x98\x80/g')
printf 'x%s\n<a href="a.html">%s\n%s\nb.html %s\n' "$euros" "$euros" "$smileys" "$smileys" >"$case_dir/wide.html"
run
expect_file wide.php "x$euros" "<a href=\"a.php\">$euros" "$smileys" "b.php $smileys"
expect_output "${opening[@]}" "$sep" "Created : wide.php" "<a href=\"a.php\">$euros" "b.php $smileys" "${closing[@]}"
pass

begin "a line far longer than the buffers is copied whole"
head -c 300000 /dev/zero | tr '\0' 'x' >"$case_dir/long.body"
{ cat "$case_dir/long.body"; printf 'a.html'; cat "$case_dir/long.body"; printf '\n'; } >"$case_dir/l.html"
{ cat "$case_dir/long.body"; printf 'a.php'; cat "$case_dir/long.body"; printf '%s' "$eol"; } >"$case_dir.want"
run
expect_bytes l.php "$case_dir.want"
pass

# --- names -----------------------------------------------------------------------------------

if [ "$platform" = posix ]; then
  begin "upper-case names are not pages; hidden ones are"
  printf 'x\n' >"$case_dir/PAGE.HTML"
  printf 'y\n' >"$case_dir/.x.html"
  run
  expect_output "${opening[@]}" "$sep" "Created : .x.php" "${closing[@]}"
  expect_file .x.php y
  expect_absent PAGE.php
  pass

  begin "a quotation mark in a name is an ordinary character"
  printf 'one\n' >"$case_dir/say.html"
  printf 'two\n' >"$case_dir/say\"hi.html"
  run
  expect_file say.php one
  expect_file 'say"hi.php' two
  pass

  begin "a name that is not UTF-8 is converted under its own bytes"
  printf 'x\n' >"$case_dir/$(printf 'caf\xe9').html"
  run
  expect_file "$(printf 'caf\xe9').php" x
  pass
else
  begin "upper-case names are pages too"
  printf 'x\n' >"$case_dir/PAGE.HTML"
  run
  expect_output "${opening[@]}" "$sep" "Created : PAGE.php" "${closing[@]}"
  expect_file PAGE.php x
  pass
fi

# --- failures --------------------------------------------------------------------------------

if [ "$platform" = posix ]; then
  begin "a folder that cannot be listed"
  chmod 311 "$case_dir"
  run_as_nobody
  expect_output "${opening[@]}" "No .html files found" "${closing[@]}"
  pass

  begin "an unreadable page prints its separator only"
  printf 'x\n' >"$case_dir/locked.html"
  chmod 000 "$case_dir/locked.html"
  run_as_nobody
  expect_output "${opening[@]}" "$sep" "${closing[@]}"
  expect_absent locked.php
  pass

  begin "a page that is a FIFO or a link to a directory is not read"
  mkfifo "$case_dir/fifo.html"
  mkdir "$case_dir/d"
  ln -s d "$case_dir/link.html"
  run
  expect_output "${opening[@]}" "$sep" "$sep" "${closing[@]}"
  pass

  begin "a target of the runner's own that survives its deletion loses its old tail and access"
  printf 'new\n' >"$case_dir/a.html"
  chmod 644 "$case_dir/a.html"
  printf 'a much longer old target\n' >"$case_dir/a.php"
  chown nobody:nogroup "$case_dir/a.php"
  chmod 666 "$case_dir/a.php"
  chmod 555 "$case_dir"
  (umask 022 && run_as_nobody)
  expect_file a.php new
  # what a new target of the page gets: not the page's group bits, as their groups differ
  [ "$(stat -c %a "$case_dir/a.php")" = 604 ] || fail "a.php has mode $(stat -c %a "$case_dir/a.php")"
  pass

  begin "a page that fails to read is reported and kept"
  ln -s /proc/self/mem "$case_dir/bad.html"  # a regular file whose first byte gives EIO
  if [ "$edition" = v0.2 ]; then run /r; start=("${renaming[@]}"); else run; start=("${opening[@]}"); fi
  expect_output "${start[@]}" "$sep" "Created : bad.php" "Write failed : bad.php" "${closing[@]}"
  expect_exists bad.html
  pass

  # The shell's file size limit with its default action, which would end the process: the
  # target that crosses it is reported and its page kept, and the run goes on.
  modes=(copy)
  [ "$edition" = v0.2 ] && modes+=(rename)
  for mode in "${modes[@]}"; do
    begin "a file size limit is a failed write that loses nothing ($mode mode)"
    head -c 300000 /dev/zero | tr '\0' 'y' | fold -w 100 >"$case_dir/big.html"
    printf 'small.html\n' >"$case_dir/small.html"
    cp "$case_dir/big.html" "$case_dir.orig"
    switch=() start=("${opening[@]}")
    [ $mode = rename ] && switch=(/r) start=("${renaming[@]}")
    (cd "$case_dir" && ulimit -f 64 && "${runner[@]}" "$program" "${switch[@]}" </dev/null \
      >"$case_dir.out" 2>"$case_dir.err") || fail "exit status $?"
    big=("$sep" "Created : big.php" "Write failed : big.php")
    small=("$sep" "Created : small.php" "small.php")
    if ! cmp -s <(lines "${start[@]}" "${big[@]}" "${small[@]}" "${closing[@]}") "$case_dir.out"; then
      expect_output "${start[@]}" "${small[@]}" "${big[@]}" "${closing[@]}"
    fi
    expect_bytes big.html "$case_dir.orig"
    expect_file small.php small.php
    if [ $mode = rename ]; then expect_absent small.html; else expect_exists small.html; fi
    pass
  done

  begin "a console whose reader has gone loses its lines, not the pages"
  for i in $(seq 1 50); do
    for j in $(seq 1 40); do printf '<a href="p%d.html">%d</a>\n' "$j" "$j"; done >"$case_dir/p$i.html"
  done
  (cd "$case_dir" && "${runner[@]}" "$program" </dev/null 2>"$case_dir.err" | head -c 100 >/dev/null
   exit "${PIPESTATUS[0]}") || fail "exit status $?"
  for i in $(seq 1 50); do
    sed 's/\.html/.php/' "$case_dir/p$i.html" | cmp -s - "$case_dir/p$i.php" ||
      { fail "p$i.php incomplete"; break; }
  done
  pass
fi

# --- the console -----------------------------------------------------------------------------

# A page line and a name with a terminal's controls: ESC (a title, a cleared screen, hidden
# text), a C1 control (U+009B acts as ESC [), DEL, BEL, a byte outside UTF-8, and in the name a
# line end that would forge a report line. A file or a pipe gets them byte for byte; a terminal
# is shown them as text and obeys none.
page_line=$'<p>\e]0;title\a \e[8m \xc2\x9b2J \x7f \xff x.html</p>'
echoed=$'<p>\e]0;title\a \e[8m \xc2\x9b2J \x7f \xff x.php</p>'
shown=$'<p>^[]0;title^G ^[[8m \xef\xbf\xbd2J ^? \xef\xbf\xbd x.php</p>'
if [ "$platform" = posix ]; then
  page=$'n\e[2J\x7f\xc2\x9b\nWrite failed : fake.html'
  name_shown=$'n^[[2J^?\xef\xbf\xbd^JWrite failed : fake.php'
else
  page=p.html name_shown=p.php
fi
begin "controls in a page line and a name go byte for byte into a pipe"
printf '%s\n' "$page_line" >"$case_dir/$page"
run
expect_output "${opening[@]}" "$sep" "Created : ${page%.html}.php" "$echoed" "${closing[@]}"
pass

# The run on a pseudo-terminal of its own (script). The terminal turns each line end into CR LF
# and wine's console adds cursor sequences of its own; both are taken out before comparing.
begin "controls in a page line and a name show as text on a terminal"
printf '%s\n' "$page_line" >"$case_dir/$page"
command=$(printf '%q ' "${runner[@]}" "$program")
(cd "$case_dir" && SHELL=/bin/bash "${limit[@]}" script -qec "$command" /dev/null </dev/null \
  >"$case_dir.tty" 2>"$case_dir.err") || fail "exit status $?"
LC_ALL=C sed $'s/\e\\[?25[lh]//g; s/\r*$//' "$case_dir.tty" >"$case_dir.out"
eol=$'\n' expect_output "${opening[@]}" "$sep" "Created : $name_shown" "$shown" "${closing[@]}"
pass

# Windows: a line on a redirected output is handed to the system, not flushed to the disk; a
# flush per line costs a disk write per line (wine's FlushFileBuffers is fsync).
if [ "$platform" = win32 ] && ! strace -f -o /dev/null true 2>/dev/null; then
  echo "skip [lines into a file are not flushed to the disk one by one]: strace cannot trace here"
elif [ "$platform" = win32 ]; then
  begin "lines into a file are not flushed to the disk one by one"
  for i in $(seq 1 200); do printf 'x%d.html\n' "$i"; done >"$case_dir/p.html"
  (cd "$case_dir" && "${limit[@]}" strace -f -qq -e trace=fsync,fdatasync -e signal=none \
    -o "$case_dir.trace" "${runner[@]}" "$program" </dev/null >"$case_dir.out" 2>"$case_dir.err") ||
    fail "exit status $?"
  [ "$(wc -l <"$case_dir.out")" -eq 206 ] || fail "not every line reached the file"
  syncs=$(grep -c 'sync(' "$case_dir.trace")
  [ "$syncs" -lt 20 ] || fail "$syncs disk flushes for 206 lines"
  pass
fi

# --- what the run changes: the page it converts and that page's own target --------------------

if [ "$platform" = posix ]; then
  start=("${opening[@]}") switch=()
  [ "$edition" = v0.2 ] && start=("${renaming[@]}") switch=(/r)

  for kind in "dangling link" "link to a file"; do
    begin "a $kind in the target's place is replaced, never followed"
    mkdir "$case_dir.elsewhere"
    printf 'precious\n' >"$case_dir.elsewhere/file"
    printf 'x.html\n' >"$case_dir/a.html"
    if [ "$kind" = "dangling link" ]; then
      ln -s "$case_dir.elsewhere/made-by-the-run" "$case_dir/a.php"
    else
      ln -s "$case_dir.elsewhere/file" "$case_dir/a.php"
    fi
    run "${switch[@]}"
    expect_output "${start[@]}" "$sep" "Created : a.php" "x.php" "${closing[@]}"
    [ ! -L "$case_dir/a.php" ] || fail "a.php is still a link"
    expect_file a.php x.php
    [ "$(ls "$case_dir.elsewhere")" = file ] && [ "$(cat "$case_dir.elsewhere/file")" = precious ] ||
      fail "the run changed a file outside its folder"
    pass
  done

  # In a folder that does not let the target go, whatever stands in its place other than a
  # plain file of its own is left as it is, and so is what it leads to.
  for kind in "link to a file" "second name of a file" "second name of the page" "FIFO" \
              "target that the page links to"; do
    begin "a $kind in the target's place that cannot be deleted cancels the run"
    printf 'precious\n' >"$case_dir.outside"
    chmod 666 "$case_dir.outside"
    head -c 70000 /dev/zero | tr '\0' 'p' | fold -w 100 | sed 's/^/p.html /' >"$case_dir/p.html"
    chmod 666 "$case_dir/p.html"
    announced=()
    case $kind in
      "link to a file") ln -s "$case_dir.outside" "$case_dir/p.php" ;;
      "second name of a file") ln "$case_dir.outside" "$case_dir/p.php" ;;
      "second name of the page") ln "$case_dir/p.html" "$case_dir/p.php" ;;
      FIFO) mkfifo -m 666 "$case_dir/p.php" ;;
      "target that the page links to")
        mv "$case_dir/p.html" "$case_dir/p.php"
        ln -s p.php "$case_dir/p.html"
        announced=("Created : p.php") ;;
    esac
    cat "$case_dir/p.html" >"$case_dir.page-text"
    chmod 555 "$case_dir"
    run_as_nobody "${switch[@]}"
    expect_output "${start[@]}" "$sep" "${announced[@]}" "$cancelled"
    cmp -s "$case_dir/p.html" "$case_dir.page-text" || fail "the page changed"
    [ "$(cat "$case_dir.outside")" = precious ] || fail "a file outside the folder changed"
    pass
  done

  # Where the folder would let it go, the page's own file in the target's place is not deleted
  # either: its text would live on only in its converted copy.
  begin "a page that links to its own target cancels the run where the target could be deleted"
  printf 'p.html\n' >"$case_dir/p.php"
  ln -s p.php "$case_dir/p.html"
  run "${switch[@]}"
  expect_output "${start[@]}" "$sep" "Created : p.php" "$cancelled"
  expect_file p.php p.html
  pass
  # while another name of the page, which can go, is replaced like any earlier target
  begin "a second name of the page in the target's place is replaced where it can be deleted"
  printf 'x\n' >"$case_dir/p.html"
  ln "$case_dir/p.html" "$case_dir/p.php"
  run "${switch[@]}"
  expect_output "${start[@]}" "$sep" "Created : p.php" "${closing[@]}"
  expect_file p.php x
  pass

  # In a shared sticky folder another user's target cannot be deleted: it is never written,
  # so a private page never reaches that user.
  sticky_modes=(copy)
  [ "$edition" = v0.2 ] && sticky_modes+=(rename)
  for mode in "${sticky_modes[@]}"; do
    begin "another user's target in a sticky folder cancels the run ($mode mode)"
    chmod 1777 "$case_dir"
    printf 'dear diary.html\n' >"$case_dir/diary.html"
    chown nobody:nogroup "$case_dir/diary.html"
    chmod 600 "$case_dir/diary.html"
    : >"$case_dir/diary.php"
    chown 4242:4242 "$case_dir/diary.php"
    chmod 666 "$case_dir/diary.php"
    switch=() start=("${opening[@]}")
    [ $mode = rename ] && switch=(/r) start=("${renaming[@]}")
    run_as_nobody "${switch[@]}"
    expect_output "${start[@]}" "$sep" "Created : diary.php" "$cancelled"
    [ ! -s "$case_dir/diary.php" ] || fail "the page was written to the other user's file"
    [ "$(cat "$case_dir/diary.html" 2>/dev/null)" = "dear diary.html" ] || fail "the page is lost"
    pass
  done

  # A folder that gives new files its own group: a target's group reads it only when it is the
  # page's group too.
  begin "a target in a set-group-ID folder gives its group access only when it is the page's"
  chgrp 4243 "$case_dir"
  chmod 2777 "$case_dir"
  for p in other same; do
    printf 'x\n' >"$case_dir/$p.html"
    chown nobody:nogroup "$case_dir/$p.html"
    chmod 640 "$case_dir/$p.html"
  done
  chgrp 4243 "$case_dir/same.html"
  (umask 022 && run_as_nobody)
  for pair in other:600 same:640; do
    got=$(stat -c %a:%g "$case_dir/${pair%:*}.php" 2>/dev/null)
    [ "$got" = "${pair#*:}:4243" ] || fail "${pair%:*}.php has mode and group $got"
  done
  pass

  begin "a target never grants more access than its page"
  for mode in 600 640 444 666; do printf 'x\n' >"$case_dir/p$mode.html"; chmod $mode "$case_dir/p$mode.html"; done
  (umask 022 && run)
  for pair in 600:600 640:640 444:644 666:644; do
    got=$(stat -c %a "$case_dir/p${pair%:*}.php" 2>/dev/null)
    [ "$got" = "${pair#*:}" ] || fail "a page of mode ${pair%:*} gave a target of mode $got"
  done
  pass

  if [ -n "$fault_library" ] && [ ${#runner[@]} -eq 0 ]; then
    begin "a folder renamed during the run loses no page"
    for p in a b c; do printf '%s.html\n' $p >"$case_dir/$p.html"; done
    with_faults PAGEHOP_RENAME="$case_dir:$case_dir.moved" PAGEHOP_RENAME_AT=write:1 --
    for p in a b c; do
      cmp -s <(lines $p.php) "$case_dir.moved/$p.php" || fail "$p.php missing or incomplete"
    done
    mv "$case_dir.moved" "$case_dir"
    pass
  fi
fi

if [ "$platform" = posix ] && [ "$edition" = v0.2 ] && [ -n "$fault_library" ] &&
   [ ${#runner[@]} -eq 0 ]; then
  # An editor saves the page while it is converted, by renaming its new text over the page or by
  # deleting the page and writing it anew (a new file may get the old one's inode number). At any
  # moment the latest save stays under the page's name and no save is deleted; an earlier save
  # that had to stay under the run's aside name is reported. The last row is on a file system
  # that cannot rename without replacing.
  anew="rm p.html && printf 'an earlier edit\n' >p.html"
  for save in "renamed over the page before its target is cut" \
              "made anew while the target is synced" \
              "renamed over the page between the check and the deletion" \
              "made anew during the sync and renamed over at the check" \
              "made anew during the sync and renamed over at the check, with no rename flags" \
              "renamed over the page before its target is cut, with no rename flags or links" \
              "made anew while the target is synced, with no rename flags or links" \
              "made anew during the sync and renamed over at the check, with no rename flags or links"; do
    begin "rename mode keeps a page $save"
    printf 'old.html\n' >"$case_dir/p.html"
    printf 'the latest edit\n' >"$case_dir/.p.saved"
    aside=() flags=()
    [[ $save == *"rename flags"* ]] && flags+=(PAGEHOP_NO_RENAME_FLAGS=1)
    [[ $save == *links ]] && flags+=(PAGEHOP_NO_LINKS=1)
    case $save in
      *before*) with_faults PAGEHOP_RENAME=.p.saved:p.html PAGEHOP_RENAME_AT=write:1 \
                  "${flags[@]}" -- /r ;;
      *synced*) paused_faults "rm p.html && cat .p.saved >p.html" PAGEHOP_PAUSE=fsync:1 \
                  "${flags[@]}" -- /r ;;
      *deletion) with_faults PAGEHOP_RENAME=.p.saved:p.html PAGEHOP_RENAME_AT=unlink:1 -- /r ;;
      *check*)
        paused_faults "$anew" PAGEHOP_PAUSE=fsync:1 PAGEHOP_RENAME=.p.saved:p.html \
          PAGEHOP_RENAME_AT=stat:1 "${flags[@]}" -- /r
        aside=("Kept aside : $(cd "$case_dir" && echo .pagehop-*)") ;;
    esac
    expect_output "${renaming[@]}" "$sep" "Created : p.php" "old.php" "${aside[@]}" "${closing[@]}"
    expect_file p.php old.php
    [ "$(cat "$case_dir/p.html" 2>/dev/null)" = "the latest edit" ] || fail "the latest edit is lost"
    if [ ${#aside[@]} -gt 0 ]; then
      [ "$(cat "$case_dir/${aside#Kept aside : }" 2>/dev/null)" = "an earlier edit" ] ||
        fail "the earlier edit is lost"
    fi
    pass
  done

  begin "rename mode deletes a page only after its target is synced, and keeps it when that fails"
  for p in a b c; do printf '%s.html\n' $p >"$case_dir/$p.html"; done
  with_faults PAGEHOP_TRACE="$case_dir.trace" -- /r
  awk '/^rename [^ ]*\.html / && previous != "fsync" { bad = 1 } { previous = $0 }
       END { exit bad }' "$case_dir.trace" || fail "a page was deleted before its target was synced"
  [ "$(grep -c '^fsync$' "$case_dir.trace")" = 3 ] || fail "not every target was synced"
  for p in a b c; do expect_absent $p.html; done
  printf 'x.html\n' >"$case_dir/x.html"
  with_faults PAGEHOP_FAULT=fsync:1 -- /r
  expect_output "${renaming[@]}" "$sep" "Created : x.php" "x.php" "Write failed : x.php" "${closing[@]}"
  expect_exists x.html
  # and where the file system cannot rename without replacing, nor make hard links
  with_faults PAGEHOP_NO_RENAME_FLAGS=1 -- /r
  expect_absent x.html
  expect_file x.php x.php
  printf 'y.html\n' >"$case_dir/y.html"
  with_faults PAGEHOP_NO_RENAME_FLAGS=1 PAGEHOP_NO_LINKS=1 -- /r
  expect_absent y.html
  expect_file y.php y.php
  ! compgen -G "$case_dir/.pagehop-*" >/dev/null || fail "a page was left under an aside name"
  pass
fi

# --- switches --------------------------------------------------------------------------------

if [ "$edition" = v0.2 ]; then
  for switch in /r -R r /R -r R; do
    begin "rename mode with $switch"
    printf 'to b.html\n' >"$case_dir/a.html"
    run "$switch"
    expect_output "${renaming[@]}" "$sep" "Created : a.php" "to b.php" "${closing[@]}"
    expect_file a.php "to b.php"
    expect_absent a.html
    pass
  done

  for switch in /? -? "?"; do
    begin "usage with $switch"
    printf 'x\n' >"$case_dir/a.html"
    run "$switch"
    expect_output "pagehop v0.2" "  Copies all .html files to .php and renames links to .php in files" \
      "  Use pagehop /r to rename .html rather than copy"
    expect_absent a.php
    pass
  done

  for switch in /x "" "/c /r"; do
    begin "copy mode with '$switch'"
    printf 'x\n' >"$case_dir/a.html"
    # shellcheck disable=SC2086
    run $switch
    expect_output "${opening[@]}" "$sep" "Created : a.php" "${closing[@]}"
    expect_exists a.html
    pass
  done

  begin "rename mode keeps the pages converted before a cancellation"
  printf 'x\n' >"$case_dir/a.html"
  printf 'y\n' >"$case_dir/b.html"
  mkdir "$case_dir/b.php"
  run /r
  if [ -e "$case_dir/a.php" ]; then expect_absent a.html; else expect_exists a.html; fi
  expect_exists b.html
  grep -q -F "$cancelled" "$case_dir.out" || fail "no cancellation line"
  pass
else
  begin "edition v0.1 ignores its parameters"
  printf 'x\n' >"$case_dir/a.html"
  run /r
  expect_output "${opening[@]}" "$sep" "Created : a.php" "${closing[@]}"
  expect_exists a.html
  pass
fi
