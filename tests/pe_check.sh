#!/usr/bin/env bash
# Reads the shipped executables of one architecture's build as Windows would load them:
# the machine type, a console program, imports from the system DLLs that the service
# may use only, no export table, and for NoxelAlsSvc.exe its version resource and
# message table. llvm-readobj reads both x64 and ARM64; MinGW's objdump only x64.
# Usage: pe_check.sh x64|arm64 NoxelAlsSvc.exe conformance.exe
set -euo pipefail
declare -A machines=([x64]='IMAGE_FILE_MACHINE_AMD64 (0x8664)' [arm64]='IMAGE_FILE_MACHINE_ARM64 (0xAA64)')
machine=${machines[$1]:?"pe_check.sh: no architecture $1"}
# Both runtimes (MinGW-w64's for x64, Zig's mingw-w64 and libc++ for ARM64) import
# msvcrt and KERNEL32 only; the service adds ADVAPI32 and SETUPAPI.
allowed='ADVAPI32.dll KERNEL32.dll SETUPAPI.dll msvcrt.dll'
failures=0
check() {
  if [ "$2" == "$3" ]; then echo "ok: $1"; else
    failures=$((failures + 1))
    printf 'FAIL: %s\n  expected: %s\n  came: %s\n' "$1" "$2" "$3"
  fi
}
shift
for file in "$@"; do
  name=$(basename "$file")
  headers=$(llvm-readobj-14 --file-headers --coff-exports "$file")
  field() { sed -n "s/^$1: //p" <<<"$headers" | paste -sd ' '; }
  check "$name: machine" "$machine" "$(field '  Machine')"
  check "$name: console subsystem" 'IMAGE_SUBSYSTEM_WINDOWS_CUI (0x3)' "$(field '  Subsystem')"
  check "$name: no import beyond $allowed" "" \
    "$(llvm-readobj-14 --coff-imports "$file" | sed -n 's/^  Name: //p' |
      grep -vixF -f <(tr ' ' '\n' <<<"$allowed") | paste -sd ' ')"
  check "$name: no export table" 0 "$(grep -c 'Export {' <<<"$headers" || true)"
  if [ "$name" = NoxelAlsSvc.exe ]; then
    check "$name: version resource and message table" 'MESSAGETABLE (ID 11) VERSIONINFO (ID 16)' \
      "$(llvm-readobj-14 --coff-resources "$file" | sed -n 's/^ *Type: \(.*\) \[$/\1/p' |
        grep -E 'VERSIONINFO|MESSAGETABLE' | sort | paste -sd ' ')"
  fi
done
[ "$failures" -eq 0 ]
