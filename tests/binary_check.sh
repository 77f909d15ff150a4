#!/usr/bin/env bash
# What a shipped program may depend on.
# usage: binary_check.sh posix PROGRAM | win32 PROGRAM
set -u
platform=$1 program=$2
status=0
bad() { echo "FAIL: $*"; status=1; }

if [ "$platform" = posix ]; then
  needed=$(readelf -d "$program" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p')
  [ "$needed" = libc.so.6 ] || bad "needs: $(echo $needed)"
  nm -D --undefined-only "$program" | grep -E '_Z|cxa_(throw|begin_catch)|typeinfo' && bad "C++ run-time references"
  # Hardening: position-independent, relocations resolved at start-up and then read-only,
  # a stack protector.
  readelf -h "$program" | grep -q 'Type:.*DYN' || bad "not position-independent"
  { readelf -lW "$program" | grep -q GNU_RELRO && readelf -d "$program" | grep -q 'FLAGS.*BIND_NOW'; } ||
    bad "no full RELRO"
  nm -D --undefined-only "$program" | grep -q __stack_chk_fail || bad "no stack protector"
else
  dump=$(x86_64-w64-mingw32-objdump -p "$program")
  dlls=$(echo "$dump" | sed -n 's/.*DLL Name: //p' | sort | tr '\n' ' ')
  for dll in $dlls; do
    case $dll in KERNEL32.dll|USER32.dll|msvcrt.dll) ;; *) bad "imports $dll" ;; esac
  done
  entry=$(echo "$dump" | sed -n 's/^AddressOfEntryPoint[[:space:]]*//p')
  base=$(echo "$dump" | sed -n 's/^ImageBase[[:space:]]*//p')
  symbol=$(x86_64-w64-mingw32-nm "$program" | awk -v a="$(printf '%016x' $((16#$entry + 16#$base)))" '$1 == a {print $3}')
  echo "$symbol" | grep -qx pagehop_entry || bad "entry point is '$symbol', not pagehop_entry"
  x86_64-w64-mingw32-nm "$program" | grep -q _GLOBAL__sub_I && bad "global constructors that nothing would run"
  # Exactly one resource, the application manifest (type 24, id 1), asking for the common
  # controls of version 6.0.0.0.
  rsrc=$(echo "$dump" | sed -n '/The .rsrc Resource Directory section/,/^ Resources start/p')
  [ "$(echo "$rsrc" | grep -c 'Leaf:')" = 1 ] || bad "resources other than the manifest"
  echo "$rsrc" | grep -q 'Type Table:.*IDs: 1$' && echo "$rsrc" | grep -q 'Entry: ID: 0x000018,' \
    || bad "the resource is not a manifest"
  grep -a -q 'name="Microsoft.Windows.Common-Controls" version="6.0.0.0"' "$program" \
    || bad "the manifest does not ask for common controls 6.0.0.0"
fi
[ $status -eq 0 ] && echo "ok: $program"
exit $status
