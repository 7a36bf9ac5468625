#!/usr/bin/env bash
# The conformance program (tests/conformance) as the Windows builds under Wine, held to
# the expectations that the emulation is held to. It checks itself that it left nothing
# behind; the machine is set up here as machine_emulated.cpp sets the emulated one up.
# Usage: conformance.sh noxel-conformance.exe noxel-conformance-firmware-directory.exe
#                       EXPECTATIONS FIRMWARE-DIRECTORY
source "$(dirname "$0")/lib.sh"

start_prefix
folder="$WINEPREFIX/drive_c/noxel-conformance"
mkdir -p "$folder"
cp "$1" "$folder/conformance.exe"
cp "$3" "$folder/expectations.txt"

step "the machine: devices, firmware variables"
{
  echo 'Windows Registry Editor Version 5.00'
  device 'ROOT\NOXELPROBE\0000' 'ROOT\NOXELPROBE&DEV_0001' '*NOXELPROBE'
  device 'ROOT\NOXELPROBE\0001'
  device 'ACPI\NOXL6120\LOWER-CASE' 'acpi\ven_noxl&dev_6120'
  device 'ACPI\NOXL6100\SECOND-ID' 'ACPI\VEN_NOXL&DEV_6100' 'ACPI\VEN_NOXL&DEV_6120'
} >"$work/machine.reg"
import_registry "$work/machine.reg"
firmware=$(unix_path "$4")
variable CALIBRATE 'e8 03 2c 01'
variable ALS_FLAG '00'

run() {
  local name=$1 code=0
  shift
  wine "$@" 2>"$work/$name.err" | tr -d '\r' | sed 's/^/   /' || code=$?
  expect_equal "$name" "exit code 0" "exit code $code"
  [ "$code" -eq 0 ] || sed 's/^/   stderr: /' "$work/$name.err" | head -20
}

step "Wine answers"
run "Wine answers as the expectations say" 'C:\noxel-conformance\conformance.exe' \
  'C:\noxel-conformance\expectations.txt' --wine
step "the test build's firmware reader answers"
run "the firmware reader answers as Windows does" "$2" 'C:\noxel-conformance\expectations.txt' firmware
