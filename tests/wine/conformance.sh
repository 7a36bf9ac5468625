#!/usr/bin/env bash
# The conformance program (tests/conformance) as the Windows build under Wine, held to
# the expectations that the emulation is held to: once where Wine answers every
# question, once where the test build's firmware reader answers the firmware questions;
# then what the program made must be gone. The devices and firmware variables are set
# up here as machine_emulated.cpp sets the emulated ones up; the registry keys the
# program makes itself.
# Usage: conformance.sh noxel-conformance.exe noxel-conformance-firmware-directory.exe
#                       EXPECTATIONS FIRMWARE-DIRECTORY
source "$(dirname "$0")/lib.sh"
conformance=$1
conformance_firmware_directory=$2
expectations=$3
firmware_directory=$4
guid=bf82486a-80f7-4733-b82c-066bd8f2534b

start_prefix
mkdir -p "$WINEPREFIX/drive_c/noxel-conformance"
cp "$conformance" "$WINEPREFIX/drive_c/noxel-conformance/conformance.exe"
cp "$conformance_firmware_directory" "$WINEPREFIX/drive_c/noxel-conformance/conformance-firmware-directory.exe"
cp "$expectations" "$WINEPREFIX/drive_c/noxel-conformance/expectations.txt"

# The hex(7) data of a multi-string of the given strings.
multi_string() {
  local text ids=""
  for text in "$@"; do ids+="$(printf '%s' "$text" | iconv -f UTF-8 -t UTF-16LE | od -An -tx1 -v | xargs) 00 00 "; done
  echo $ids 00 00 | tr ' ' ,
}

# Wine's setupapi lists every instance key under Enum that has a ClassGUID as a present
# device, whether it has hardware IDs or not.
device() {
  printf '\n[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Enum\\%s]\n' "$1"
  shift
  [ $# -eq 0 ] || printf '"HardwareID"=hex(7):%s\n' "$(multi_string "$@")"
  printf '"ClassGUID"="{5175d334-c371-4806-b3ba-71fd53c9258d}"\n'
}

step "the machine: devices, firmware variables"
{
  echo 'Windows Registry Editor Version 5.00'
  device 'ROOT\NOXELPROBE\0000' 'ROOT\NOXELPROBE&DEV_0001' '*NOXELPROBE'
  device 'ROOT\NOXELPROBE\0001'
  device 'ACPI\NOXL6120\LOWER-CASE' 'acpi\ven_noxl&dev_6120'
  device 'ACPI\NOXL6100\SECOND-ID' 'ACPI\VEN_NOXL&DEV_6100' 'ACPI\VEN_NOXL&DEV_6120'
} >"$work/machine.reg"
import_registry "$work/machine.reg"
firmware=$(unix_path "$firmware_directory")
mkdir -p "$firmware"
# efivarfs files: attributes (non-volatile, boot service and runtime access), then data.
printf '\x07\x00\x00\x00\xe8\x03\x2c\x01' >"$firmware/CALIBRATE-$guid"
printf '\x07\x00\x00\x00\x00' >"$firmware/ALS_FLAG-$guid"

# run NAME PROGRAM ARGUMENT...: the program's output, shown, and its exit code checked.
run() {
  local name=$1 code=0
  shift
  wine "$@" >"$work/$name.out" 2>"$work/$name.err" || code=$?
  tr -d '\r' <"$work/$name.out" | sed 's/^/   /'
  expect_equal "$name" "exit code 0" "exit code $code"
  [ "$code" -eq 0 ] || sed 's/^/   stderr: /' "$work/$name.err" | head -20
}

step "Wine answers"
run "Wine answers as the expectations say" 'C:\noxel-conformance\conformance.exe' \
  'C:\noxel-conformance\expectations.txt' --as wine
step "the test build's firmware reader answers"
run "the firmware reader answers as Windows does" 'C:\noxel-conformance\conformance-firmware-directory.exe' \
  'C:\noxel-conformance\expectations.txt' --as firmware-directory firmware
step "the program took away what it made"
expect_equal "its registry keys" gone \
  "$(wine reg query 'HKLM\SOFTWARE\NoxelConformance' >/dev/null 2>&1 && echo present || echo gone)"
expect_equal "its service" "exit 1, no output" \
  "$(set +e; out=$(wine sc query NoxelConformance 2>&1); code=$?; echo "exit $code, ${out:-no output}")"
expect_equal "its file" gone "$([ -e "$WINEPREFIX/drive_c/windows/system32/noxel-conformance.log" ] && echo present || echo gone)"

# A directory outside the prefix outlives it: the variables go.
rm -f "$firmware/CALIBRATE-$guid" "$firmware/ALS_FLAG-$guid"
