#!/usr/bin/env bash
# Reads a Windows DLL's export and import tables with binutils' objdump, which shares no code
# with the host library's own export reader, and checks what a Windows host relies on: one
# export, MP_GetFactory, imports from the system's DLLs only (no mingw-w64 runtime DLL that a
# user's machine would lack), and a DllMain that asks for no thread notifications.
# Usage: check_dll_tables.sh <objdump> <library.dll>
set -euo pipefail
objdump=$1
library=$2
tables=$("$objdump" -p "$library")

exports=$(sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/p' <<<"$tables" | sed -n 's/^\s*\[ *[0-9]*\] //p')
imports=$(sed -n 's/^\s*DLL Name: //p' <<<"$tables")
echo "exports: $(tr '\n' ' ' <<<"$exports")"
echo "imports: $(tr '\n' ' ' <<<"$imports")"

status=0
if [ "$exports" != "MP_GetFactory" ]; then
  echo "FAIL: the exports are not MP_GetFactory alone"
  status=1
fi
# DllMain turns the thread notifications off; without it nothing would import the call.
if ! grep -q '\bDisableThreadLibraryCalls$' <<<"$tables"; then
  echo "FAIL: DisableThreadLibraryCalls is not imported: is DllMain linked in?"
  status=1
fi
# The system's own DLLs, by the names mingw-w64's import libraries give them: the kernel,
# the C runtime (the old msvcrt or the universal one and its API sets).
while read -r dll; do
  case "${dll,,}" in
    kernel32.dll | msvcrt.dll | ucrtbase.dll | api-ms-win-*.dll) ;;
    *) echo "FAIL: imports from $dll, which is not a system DLL"; status=1 ;;
  esac
done <<<"$imports"
exit $status
