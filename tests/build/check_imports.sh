#!/usr/bin/env bash
# Fails when an executable imports any DLL but the Windows system DLLs, i.e.
# when static linking of the C and C++ runtimes has been lost.
# Usage: check_imports.sh OBJDUMP EXE
set -u -o pipefail
objdump=$1
exe=$2
allowed='^(advapi32|comctl32|iphlpapi|kernel32|msvcrt|ole32|oleaut32|shell32|user32|ws2_32|gdi32|comdlg32|dnsapi|ntdll|version)\.dll$'
imports=$("$objdump" -p "$exe" | awk '/DLL Name:/ { print tolower($3) }')
[[ -n $imports ]] || { echo "FAIL: no imports read from $exe"; exit 1; }
status=0
while read -r dll; do
  if [[ $dll =~ $allowed ]]; then
    echo "ok: $dll"
  else
    echo "FAIL: $exe imports $dll, which is not a Windows system DLL"
    status=1
  fi
done <<<"$imports"
exit $status
