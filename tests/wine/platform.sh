#!/usr/bin/env bash
# What Wine answers to the calls on which the host emulation must agree with Windows:
# registry, message texts, firmware and privilege, files, devices, the service manager,
# the module name and the formatters. The answers are compared with the record in
# platform-facts.txt; tests/emulation_wine_test.cpp holds the emulation to the ones that
# Windows shares, and the differences from Windows are noted there.
# Usage: platform.sh noxel-wine-probe.exe platform-facts.txt
source "$(dirname "$0")/lib.sh"
probe=$1
facts=$2

start_prefix
mkdir -p "$WINEPREFIX/drive_c/probe"
cp "$probe" "$WINEPREFIX/drive_c/probe/probe.exe"

# Three device keys under Enum: what does setupapi need to list a device?
hardware_id=$(printf 'ACPI\\VEN_NOXL&DEV_6110' | iconv -f UTF-8 -t UTF-16LE | od -An -tx1 -v | xargs |
  tr ' ' ,)
cat >"$work/devices.reg" <<EOF
Windows Registry Editor Version 5.00

[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Enum\\ROOT\\NOXELPROBE\\hardware-id-only]
"HardwareID"=hex(7):$hardware_id,00,00,00,00

[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Enum\\ROOT\\NOXELPROBE\\hardware-id-and-class]
"HardwareID"=hex(7):$hardware_id,00,00,00,00
"ClassGUID"="{5175d334-c371-4806-b3ba-71fd53c9258d}"

[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Enum\\ROOT\\NOXELPROBE\\class-only]
"ClassGUID"="{5175d334-c371-4806-b3ba-71fd53c9258d}"
EOF
import_registry "$work/devices.reg"

step "the probe's answers"
wine 'C:\probe\probe.exe' facts 2>/dev/null | tr -d '\r' >"$work/facts.txt" || true
grep -v '^#' "$facts" >"$work/expected-facts.txt"
if diff -u "$work/expected-facts.txt" "$work/facts.txt" >"$work/facts.diff"; then
  echo "ok: Wine answers as recorded in $(basename "$facts") ($(wc -l <"$work/facts.txt") answers)"
else
  fail "Wine answers differently from $(basename "$facts"); expected (-) and came (+):"
  cat "$work/facts.diff"
fi
