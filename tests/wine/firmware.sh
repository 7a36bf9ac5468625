#!/usr/bin/env bash
# The firmware-present path under Wine, with the test build that reads firmware
# variables from a directory in the efivarfs layout. A model 1 sensor (NOXL6110) with
# two instances is declared in Wine's registry. First run: every variable present, the
# whole calibration lands under both instances, the text log holds every write, the
# worker ends at once. Second run: ALR_CURVE missing, the failure line carries the
# platform's message text for 203, the worker retries until -remove.
# Usage: firmware.sh NoxelAlsSvcFirmwareDir.exe noxel-wine-probe.exe FIRMWARE-DIRECTORY
source "$(dirname "$0")/lib.sh"
exe=$1
probe=$2
firmware_directory=$3
guid=bf82486a-80f7-4733-b82c-066bd8f2534b
sensor='SYSTEM\CurrentControlSet\Enum\ACPI\NOXL6110'
instances=('4&2c8e1f3a&0' '4&2c8e1f3a&1')

start_prefix
put_program "$exe" noxel
firmware=$(unix_path "$firmware_directory")
log="$WINEPREFIX/drive_c/windows/system32/Noxel_AlsSvc.log"

# variable NAME HEX-BYTES: one efivarfs file, attributes (non-volatile, boot service and
# runtime access) and then the data.
variable() {
  mkdir -p "$firmware"
  printf "$(printf '\\x%s' 07 00 00 00 $2)" >"$firmware/$1-$guid"
}

# device KEY HARDWARE-ID...: a device instance key of a .reg file, with its hardware IDs.
device() {
  local key=$1
  shift
  local id ids=""
  for id in "$@"; do ids+="$(printf '%s' "$id" | iconv -f UTF-8 -t UTF-16LE | od -An -tx1 -v | xargs) 00 00 "; done
  printf '\n[HKEY_LOCAL_MACHINE\\%s]\n"HardwareID"=hex(7):%s\n' "$key" "$(echo $ids 00 00 | tr ' ' ,)"
  printf '"ClassGUID"="{5175d334-c371-4806-b3ba-71fd53c9258d}"\n'
}

# The values under an instance's Device Parameters, sorted by name.
parameters() { reg_values "$sensor\\$1\\Device Parameters" | sort; }

# expect_log WHAT TEMPLATE: the text log holds TEMPLATE in UTF-16LE, without a BOM,
# where each "[TS]" stands for a "[YYYYMMDD-HH:MM:SS]" timestamp of this run's local
# time; only the timestamps are masked, every other byte is compared.
expect_log() {
  local what=$1 template=$2 text stamps expected stamp seconds
  if [ ! -e "$log" ]; then
    fail "$what: no text log"
    return
  fi
  text=$(iconv -f UTF-16LE -t UTF-8 "$log"; printf x)
  text=${text%x}
  stamps=$(printf '%s' "$text" | grep -ao '\[[0-9]\{8\}-[0-9][0-9]:[0-9][0-9]:[0-9][0-9]\]' || true)
  expected=$template
  for stamp in $stamps; do expected=${expected/\[TS\]/$stamp}; done
  printf '%s' "$expected" | iconv -f UTF-8 -t UTF-16LE >"$work/expected.log"
  expect_same_file "$what: text log bytes" "$work/expected.log" "$log"
  for stamp in $stamps; do
    seconds=$(date -d "${stamp:1:4}-${stamp:5:2}-${stamp:7:2} ${stamp:10:8}" +%s 2>/dev/null || echo 0)
    if [ "$seconds" -lt $((started - 1)) ] || [ "$seconds" -gt $(( $(date +%s) + 1 )) ]; then
      fail "$what: timestamp $stamp is not the local time of this run"
      return
    fi
  done
  echo "ok: $what: timestamps are the local time of this run"
}

log_size() { stat -c %s "$log" 2>/dev/null || echo 0; }
published() { events | grep -q '|Update parameters successfully!$'; }

step "a NOXL6110 sensor with two instances, and a device that is no sensor"
# Wine's setupapi lists every instance key under Enum with a ClassGUID (here the Sensor
# class) as a present device; a key without one is not listed.
{
  echo 'Windows Registry Editor Version 5.00'
  for instance in "${instances[@]}"; do
    device "$sensor\\$instance" 'ACPI\VEN_NOXL&DEV_6110' '*NOXL6110'
    printf '\n[HKEY_LOCAL_MACHINE\\%s\\%s\\Device Parameters]\n' "$sensor" "$instance"
  done
  device 'SYSTEM\CurrentControlSet\Enum\ACPI\NOXL6100\1' 'ACPI\VEN_NOXL&DEV_6100' '*NOXL6100'
} >"$work/sensor.reg"
import_registry "$work/sensor.reg"

step "first run: every firmware variable present"
variable CALIBRATE 'e8 03 2c 01'                    # source lux 1000, sensor lux 300
variable ALR_CURVE '05 00 0a 00 64 00 96 00 e8 03 20 03 ff ff ff ff
                    00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00'
variable ALS_CS '28 aa bb cc'                       # 40; bytes 1 to 3 are not used
variable ALS_FLAG '00'
expect_equal "-install: console text" "$installed" "$(console -install)"
wait_until 20 published || true

for instance in "${instances[@]}"; do
  expect_equal "values under $instance" \
    "ALR_CURVE REG_SZ 5,10,100,150,1000,800
ALS_CAL REG_DWORD 0x12c
ALS_CS REG_DWORD 0x28
ALS_FLAG REG_DWORD 0x0
ALS_SRC REG_DWORD 0x3e8" "$(parameters "$instance")"
done
entries=$'[TS]SOURCE LUX: 1000\r\n[TS]SENSOR LUX: 300\r\n[TS]ALR Table: 5,10,100,150,1000,800\r\n'
entries+=$'[TS]CHANGE SENSITIVITY: 40\r\n[TS]ALS FLAG: 0\r\n'
expect_log "first run" "$entries$entries"
expect_events "events of the first run" "Noxel ALS Service in OnStart" "Update parameters successfully!"

step "-remove once the worker has ended"
remove_within 0 5 "with the worker ended, -remove takes its one-second poll and little more"
wait_until 10 is_gone || true

step "second run: ALR_CURVE missing"
rm "$firmware/ALR_CURVE-$guid"
for instance in "${instances[@]}"; do
  wine reg delete "HKLM\\$sensor\\$instance\\Device Parameters" /va /f >/dev/null 2>&1
done
expect_equal "-install again: console text" "$installed" "$(console -install)"
wait_until 20 is_running $name || true
# The platform's own text for 203 goes into the line as it is: Wine's words are no
# fact about Windows, and the conformance run holds only that they end in "\r\n".
text_203=$(wine "$probe" message 203 2>/dev/null; printf x)
text_203=${text_203%x}
expect_match "the platform's text for 203 ends in a line break" $'.+\r\n' "$text_203"
failure="[TS]Error to Retrieve ALR Curve! ErrorCode: 203: $text_203"
entries=$'[TS]SOURCE LUX: 1000\r\n[TS]SENSOR LUX: 300\r\n[TS]CHANGE SENSITIVITY: 40\r\n[TS]ALS FLAG: 0\r\n'
attempt_size=$(( ${#failure} * 2 + ${#entries} * 4 ))  # UTF-16: two bytes a character
first_attempt_written() { [ "$(log_size)" -ge "$attempt_size" ]; }
wait_until 20 first_attempt_written || true
attempt_at=$(now)
pause 0.5  # the attempt's last lines
expect_log "first attempt" "$failure$entries$entries"
for instance in "${instances[@]}"; do
  expect_equal "values under $instance, without the curve" \
    "ALS_CAL REG_DWORD 0x12c
ALS_CS REG_DWORD 0x28
ALS_FLAG REG_DWORD 0x0
ALS_SRC REG_DWORD 0x3e8" "$(parameters "$instance")"
done

step "-remove while the worker sleeps after the failed attempt"
pause "$(awk -v a="$attempt_at" -v n="$(now)" 'BEGIN { d = a + 4 - n; printf "%.2f", (d > 0 ? d : 0) }')"
remove_within 3 12 "-remove waits out the worker's sleep"
# The worker left its loop after the sleep: no second attempt.
expect_log "after the stop" "$failure$entries$entries"
expect_events "events of both runs" "Noxel ALS Service in OnStart" "Update parameters successfully!" \
  "Noxel ALS Service in OnStop" "Noxel ALS Service in OnStart" "Noxel ALS Service in OnStop"
