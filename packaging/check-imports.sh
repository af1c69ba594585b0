#!/bin/sh
# The helper may import only DLLs that Windows loads from its known set; anything else
# (WinINet, IP Helper, MinGW runtime DLLs) would be searched for beside the executable.
objdump="$1"; exe="$2"
allowed='^(KERNEL32|ADVAPI32|USER32|SHELL32|WS2_32|msvcrt)\.dll$'
imports=$("$objdump" -p "$exe" | sed -n 's/^[[:space:]]*DLL Name: //p')
[ -n "$imports" ] || { echo "no import table found in $exe"; exit 1; }
echo "imports: $(echo $imports)"
bad=$(echo "$imports" | grep -viE "$allowed")
if [ -n "$bad" ]; then
  echo "imports outside the allowed set: $bad"
  exit 1
fi
"$objdump" -p "$exe" | grep -q 'Subsystem.*(Windows GUI)' || { echo "not a GUI-subsystem executable"; exit 1; }
echo "import check passed"
