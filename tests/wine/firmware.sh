#!/usr/bin/env bash
# The firmware-present path under Wine, with the test build that reads firmware
# variables from a directory in the efivarfs layout, on a model 1 sensor with two
# instances. A variable missing, the failure line and the retries are the host tests'
# (tests/sample_service_test.cpp).
# Usage: firmware.sh NoxelAlsSvcFirmwareDir.exe FIRMWARE-DIRECTORY
source "$(dirname "$0")/lib.sh"
sensor='SYSTEM\CurrentControlSet\Enum\ACPI\NOXL6110'
instances=('4&2c8e1f3a&0' '4&2c8e1f3a&1')

start_prefix
put_program "$1" noxel
firmware=$(unix_path "$2")
log="$WINEPREFIX/drive_c/windows/system32/Noxel_AlsSvc.log"

step "a NOXL6110 sensor with two instances"
{
  echo 'Windows Registry Editor Version 5.00'
  for instance in "${instances[@]}"; do
    device "ACPI\\NOXL6110\\$instance" 'ACPI\VEN_NOXL&DEV_6110' '*NOXL6110'
    printf '\n[HKEY_LOCAL_MACHINE\\%s\\%s\\Device Parameters]\n' "$sensor" "$instance"
  done
} >"$work/sensor.reg"
import_registry "$work/sensor.reg"

step "every firmware variable present"
variable CALIBRATE 'e8 03 2c 01'                    # source lux 1000, sensor lux 300
variable ALR_CURVE '05 00 0a 00 64 00 96 00 e8 03 20 03 ff ff ff ff
                    00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00'
variable ALS_CS '28 aa bb cc'                       # 40; bytes 1 to 3 are not used
variable ALS_FLAG '00'
install_service
wait_until 20 grep -q 'ReportEventW L"Update parameters successfully!"' "$work/services.log" || true

for instance in "${instances[@]}"; do
  expect_equal "values under $instance" \
    "ALR_CURVE REG_SZ 5,10,100,150,1000,800
ALS_CAL REG_DWORD 0x12c
ALS_CS REG_DWORD 0x28
ALS_FLAG REG_DWORD 0x0
ALS_SRC REG_DWORD 0x3e8" "$(reg_values "$sensor\\$instance\\Device Parameters" | sort)"
done
entries=$'[TS]SOURCE LUX: 1000\r\n[TS]SENSOR LUX: 300\r\n[TS]ALR Table: 5,10,100,150,1000,800\r\n'
entries+=$'[TS]CHANGE SENSITIVITY: 40\r\n[TS]ALS FLAG: 0\r\n'
# The "[YYYYMMDD-HH:MM:SS]" timestamps masked; a BOM or another encoding shows in the text.
expect_equal "the text log, in UTF-16LE without a BOM" "$entries${entries}x" \
  "$(iconv -f UTF-16LE -t UTF-8 "$log" | sed 's/^\[[0-9]\{8\}-[0-9][0-9]:[0-9][0-9]:[0-9][0-9]\]/[TS]/'; printf x)"
expect_events "Noxel ALS Service in OnStart" "Update parameters successfully!"
