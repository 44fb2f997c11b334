#!/usr/bin/env bash
# Makes the libraries of this folder, in the forms the platform's own IDL
# compiler stores, and their reference dumps. Needs widl (Debian's
# wine64-tools), python3 and reference-dump; not run by CI (the results are
# committed). Usage: make-forms.sh [REFERENCE_DUMP]
#
#   dispatch    duals on IUnknown (stored flags without FDISPATCHABLE),
#               dispinterfaces declared over an interface, and one of its own
#               whose property accessors take and return the value itself
#   values      empty-string defaults stored inline; modules of size 2
#   strings     empty strings stored out of line with the length 0xFFFFFFFF
#               (parameter defaults and a custom data item)
#   libhelp     library help context (+0x2C) and help-string context (+0x28)
#               that differ
#   unresolved  types that use a library that can't be found (gone.tlb is
#               made to compile it, then deleted)
#   stdole32    a dual and a dispinterface over types of stdole version 1.0
#   sharedname  a dual whose method and property put share a name and an ID
#               (the creation interfaces refuse the second of them)
#   casenames   a record, a property, a method and parameters used in several
#               methods and types, for names that differ from them only in case
#   sharedid    a dual whose method and property put share an ID under other
#               names (the platform reads both under the method's)
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
refdump="${1:-/work/shared/tools/reference-dump}"
stdole=/usr/lib/i386-linux-gnu/wine/i386-windows
tmp="$(mktemp -d)"; trap 'rm -rf "$tmp"' EXIT
cd "$here"
widl() { command widl --win32 -L "$stdole" -L "$tmp" -t "$@"; }
widl -o dispatch.tlb dispatch.idl
widl -o values.tlb values.idl
widl -o strings.tlb strings.idl
widl -o libhelp.tlb libhelp.idl
widl -o "$tmp/gone.tlb" gone.idl
widl -o unresolved.tlb unresolved.idl
widl -o stdole32.tlb stdole32.idl
widl -o sharedname.tlb sharedname.idl
widl -o casenames.tlb casenames.idl
widl -o sharedid.tlb sharedid.idl

# widl writes "" as a string of length 0 and a module's function count as its
# size; the platform's compiler stores every module with size 2 and "" inline
# (values.tlb), other compilers store "" out of line with the length that
# elsewhere means a null string, which the platform reads as "" (strings.tlb:
# parameter defaults and custom data items).
python3 - values.tlb strings.tlb <<'PY'
import struct, sys
for path in sys.argv[1:]:
    inline = path == 'values.tlb'
    b = bytearray(open(path, 'rb').read())
    u32 = lambda o: struct.unpack_from('<I', b, o)[0]
    i32 = lambda o: struct.unpack_from('<i', b, o)[0]
    n = i32(0x20)
    seg = 0x54 + (4 if u32(0x14) & 0x100 else 0) + 4 * n
    typeinfo, custdata, cdguids, cdlen = i32(seg), i32(seg + 16 * 11), i32(seg + 16 * 12), i32(seg + 16 * 12 + 4)
    def mark(at):  # the value stored at b[at], when it is an empty string
        value = i32(at)
        if value < 0 or struct.unpack_from('<HI', b, custdata + value) != (8, 0):
            return
        if inline:
            struct.pack_into('<I', b, at, 0xA0000000)  # inline VT_BSTR, no data
        else:
            struct.pack_into('<I', b, custdata + value + 2, 0xFFFFFFFF)
    if not inline:
        for entry in range(cdguids, cdguids + cdlen, 12):
            mark(entry + 4)
    for t in range(n):
        rec = typeinfo + 0x64 * t
        if u32(rec) & 0xF == 2:  # TKIND_MODULE
            struct.pack_into("<I", b, rec + 0x50, 2)
        members, nfuncs = i32(rec + 4), u32(rec + 0x18) & 0xFFFF
        if members < 0:
            continue
        at = members + 4
        for f in range(nfuncs):
            size, kinds, params = struct.unpack_from('<H', b, at)[0], u32(at + 0x10), struct.unpack_from('<H', b, at + 0x14)[0]
            if kinds & 0x1000:  # default values present
                defaults = at + size - 16 * params
                for p in range(params):
                    mark(defaults + 4 * p)
            at += size
    open(path, 'wb').write(b)
PY

for f in dispatch values libhelp unresolved stdole32 strings sharedname casenames sharedid; do
  "$refdump" "$f.tlb" > "$f.dump"
done
