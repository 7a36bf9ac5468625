#!/usr/bin/env bash
# Reads one build's shipped executables as Windows would load them: the machine type, a
# console program, imports from exactly the system DLLs the service uses (both runtimes
# need msvcrt and KERNEL32 alone; an empty list fails too), no export table, and
# NoxelAlsSvc.exe's version resource and message table. llvm-readobj reads ARM64
# images; MinGW's objdump does not.
# Usage: pe_check.sh x64|arm64 NoxelAlsSvc.exe conformance.exe
set -euo pipefail
export LC_ALL=C  # the import list is compared in byte order
declare -A machines=([x64]='AMD64 (0x8664)' [arm64]='ARM64 (0xAA64)')
machine=IMAGE_FILE_MACHINE_${machines[$1]:?"pe_check.sh: no architecture $1"}
imports='ADVAPI32.dll KERNEL32.dll SETUPAPI.dll msvcrt.dll'
failures=0
check() {
  [ "$2" == "$3" ] && echo "ok: $1" && return
  failures=$((failures + 1))
  printf 'FAIL: %s\n  expected: %s\n  came: %s\n' "$1" "$2" "$3"
}
for file in "${@:2}"; do
  name=$(basename "$file")
  headers=$(llvm-readobj-14 --file-headers --coff-exports "$file")
  check "$name: machine" "$machine" "$(sed -n 's/^  Machine: //p' <<<"$headers")"
  check "$name: console subsystem" 'IMAGE_SUBSYSTEM_WINDOWS_CUI (0x3)' "$(sed -n 's/^  Subsystem: //p' <<<"$headers")"
  check "$name: imports from $imports" "$imports" "$(llvm-readobj-14 --coff-imports "$file" |
    sed -n 's/^  Name: //p' | sort | paste -sd ' ')"
  check "$name: no export table" 0 "$(grep -c 'Export {' <<<"$headers" || true)"
  [ "$name" != NoxelAlsSvc.exe ] || check "$name: version resource and message table" \
    'MESSAGETABLE (ID 11) VERSIONINFO (ID 16)' "$(llvm-readobj-14 --coff-resources "$file" |
      sed -n 's/^ *Type: \(.*\) \[$/\1/p' | grep -E 'VERSIONINFO|MESSAGETABLE' | sort | paste -sd ' ')"
done
[ "$failures" -eq 0 ]
