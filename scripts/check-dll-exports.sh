#!/usr/bin/env bash
# Checks that a typerecovery.dll exports exactly the public interface: every
# function the public header declares with TYPERECOVERY_API, undecorated,
# and the public container class CBaseArray (its members, vtable and type
# information), nothing else; and that it needs no runtime DLL of the
# compiler (libstdc++, libgcc, winpthread are linked in).
#   check-dll-exports.sh DLL OBJDUMP
set -euo pipefail
dll=$1
objdump=$2
header="$(dirname "$0")/../include/typerecovery.h"
exports=$("$objdump" -p "$dll" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' | sed -n 's/^\s*\[ *[0-9]*\] //p' | sort)
wanted=$(tr '\n' ' ' < "$header" | grep -o 'TYPERECOVERY_API[^;]*TypeRecovery_[A-Za-z0-9_]*(' |
         grep -o 'TypeRecovery_[A-Za-z0-9_]*' | sort -u)
status=0
for name in $wanted; do
  grep -qx "$name" <<<"$exports" || { echo "$dll: $name is not exported"; status=1; }
done
while read -r name; do
  [ -n "$name" ] || continue
  grep -qx "$name" <<<"$wanted" && continue
  shown=$(c++filt "$name")
  case "$shown" in
    "CBaseArray::"*|"vtable for CBaseArray"|"typeinfo for CBaseArray"|"typeinfo name for CBaseArray") ;;
    *) echo "$dll: exports $name ($shown), which is not in the public interface"; status=1 ;;
  esac
done <<<"$exports"
runtime=$("$objdump" -p "$dll" | sed -n 's/^\s*DLL Name: //p' | grep -viE '^(kernel32|msvcrt|bcrypt|advapi32|user32|shell32)\.dll$' || true)
[ -z "$runtime" ] || { echo "$dll: needs $(echo $runtime) at run time"; status=1; }
count=$(grep -c . <<<"$exports")
[ "$status" -ne 0 ] || echo "$dll: exports $count symbols, exactly the public interface"
exit "$status"
