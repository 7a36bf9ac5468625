#!/usr/bin/env bash
# The conformance program (tests/conformance) as the Windows build under Wine, held to
# the expectations that the emulation is held to: once where Wine answers every
# question, once where the test build's firmware reader answers the firmware questions.
# The program checks itself that it left nothing behind; the devices and firmware
# variables are set up here as machine_emulated.cpp sets the emulated ones up.
# Usage: conformance.sh noxel-conformance.exe noxel-conformance-firmware-directory.exe
#                       EXPECTATIONS FIRMWARE-DIRECTORY
source "$(dirname "$0")/lib.sh"
guid=bf82486a-80f7-4733-b82c-066bd8f2534b

start_prefix
folder="$WINEPREFIX/drive_c/noxel-conformance"
mkdir -p "$folder"
cp "$1" "$folder/conformance.exe"
cp "$3" "$folder/expectations.txt"

# device KEY HARDWARE-ID...: Wine's setupapi lists every instance key under Enum that has
# a ClassGUID as a present device, whether it has hardware IDs or not.
device() {
  local text ids=""
  printf '\n[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Enum\\%s]\n' "$1"
  shift
  for text in "$@"; do ids+="$(printf '%s' "$text" | iconv -f UTF-8 -t UTF-16LE | od -An -tx1 -v | xargs) 00 00 "; done
  [ $# -eq 0 ] || printf '"HardwareID"=hex(7):%s\n' "$(echo $ids 00 00 | tr ' ' ,)"
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
firmware=$(unix_path "$4")
mkdir -p "$firmware"
# efivarfs files: attributes (non-volatile, boot service and runtime access), then data.
printf '\x07\x00\x00\x00\xe8\x03\x2c\x01' >"$firmware/CALIBRATE-$guid"
printf '\x07\x00\x00\x00\x00' >"$firmware/ALS_FLAG-$guid"

# run NAME PROGRAM ARGUMENT...: the program's output, shown, and its exit code checked.
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

# A directory outside the prefix outlives it: the variables go.
rm -f "$firmware/CALIBRATE-$guid" "$firmware/ALS_FLAG-$guid"
