#!/bin/sh
# The helper may import only DLLs that Windows loads from its known set; anything else
# (WinINet, IP Helper, MinGW runtime DLLs) would be searched for beside the executable.
# Nor may it be the test build that fails Windows calls on request (tests/injector): that
# build reads its plan from KELDRIX_INJECT, a name the shipped helper never holds.
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
if perl -0777 -ne 'exit(/KELDRIX_INJECT|K\0E\0L\0D\0R\0I\0X\0_\0I\0N\0J\0E\0C\0T\0/ ? 0 : 1)' "$exe"; then
  echo "carries the call injector (KELDRIX_INJECT): a test build"
  exit 1
fi
echo "import check passed"
