#!/usr/bin/env bash
# The shipped NoxelAlsSvc.exe as a service under Wine: -install from a path with a
# space, its registration, the running service, its events, the stale text log, and
# -remove while the worker sleeps between attempts. Wine has no firmware variables, so
# every attempt fails and the worker keeps retrying every 10 s.
# Usage: service.sh NoxelAlsSvc.exe noxel-wine-probe.exe
source "$(dirname "$0")/lib.sh"
exe=$1
probe=$2
name=Noxel_ALS_Service
key='HKLM\System\CurrentControlSet\Services\Noxel_ALS_Service'
source_key='SYSTEM\CurrentControlSet\Services\EventLog\Application\Noxel_ALS_Service'

start_prefix
install_dir="$WINEPREFIX/drive_c/Program Files/Noxel ALS"
mkdir -p "$install_dir"
cp "$exe" "$install_dir/NoxelAlsSvc.exe"
program='C:\Program Files\Noxel ALS\NoxelAlsSvc.exe'
log="$WINEPREFIX/drive_c/windows/system32/Noxel_AlsSvc.log"
printf 'a log of an earlier run' >"$log"

# reg_value NAME: "TYPE DATA" of a value of the service's key, as reg.exe shows it.
reg_value() {
  wine reg query "$key" /v "$1" 2>/dev/null | tr -d '\r' |
    sed -n "s/^ *$1 \{4\}\(REG_[A-Z_]*\) \{4\}\(.*\)$/\1 \2/p"
}

log_absent() { [ ! -e "$log" ]; }
event_source() { wine "$probe" values "$source_key" 2>/dev/null | tr -d '\r'; }
service_gone() { [ "$(service_status $name)" = "$not_installed" ] && ! wine reg query "$key" >/dev/null 2>&1; }

step "-install from a directory whose path holds a space"
expect_equal "-install: console text" \
  "Noxel_ALS_Service is installed.
Noxel_ALS_Service start running.
x" "$(console -install)"
wait_until 20 is_running $name || true
running_at=$(now)
expect_equal "sc query: state" RUNNING "$(service_state $name)"
# The type is the service manager's own (Wine keeps the registered 0x110).
expect_match "QueryServiceStatus: running, accepting stop and shutdown" \
  'ok state RUNNING type 0x[0-9a-f]{8} accepted 5 exit 0' "$(service_status $name)"

step "the registration"
expect_equal "Type" "REG_DWORD 0x110" "$(reg_value Type)"
expect_equal "Start" "REG_DWORD 0x3" "$(reg_value Start)"
expect_equal "ErrorControl" "REG_DWORD 0x1" "$(reg_value ErrorControl)"
expect_equal "ObjectName" "REG_SZ LocalSystem" "$(reg_value ObjectName)"
expect_equal "DisplayName" "REG_SZ Noxel Ambient Light Sensor Service" "$(reg_value DisplayName)"
# Wine would start an unquoted path with a space as well: the quotes are checked here.
expect_equal "ImagePath, in quotes" "REG_SZ \"$program\"" "$(reg_value ImagePath)"

step "the description, and the event source with the executable's message table"
expect_equal "QueryServiceConfig2W: the description" \
  "description = [Copies the ambient light sensor's calibration from the UEFI firmware into the sensor's registry settings.]" \
  "$(wine "$probe" config $name 2>/dev/null | tr -d '\r' | grep '^description = ')"
expect_equal "the event source: the message file, unquoted, and the types" \
  "EventMessageFile = type 2 size $(( (${#program} + 1) * 2 )) bytes $(sz_bytes "$program")
TypesSupported = type 4 size 4 bytes 05 00 00 00" "$(event_source)"

step "the worker deletes the stale text log when it starts"
wait_until 10 log_absent || true
expect_equal "text log after the start" absent "$([ -e "$log" ] && echo present || echo absent)"

step "a second install, as /INSTALL"
expect_equal "/INSTALL again: console text" "CreateService failed w/err 0x00000431
x" "$(console /INSTALL)"
expect_equal "the service still runs" RUNNING "$(service_state $name)"
expect_equal "ImagePath unchanged" "REG_SZ \"$program\"" "$(reg_value ImagePath)"

step "-remove while the worker sleeps"
# The first attempt comes as the service reports RUNNING and fails at once, then the
# worker sleeps 10 s. The stop goes in 4 s into a sleep: OnStop waits out the rest,
# well inside the 10 s that Wine's service manager gives a control handler.
sleep_until=$(awk -v r="$running_at" -v n="$(now)" 'BEGIN {
  k = int((n - r - 4) / 10) + 1; if (k < 1) k = 1; printf "%.2f", r + 10 * k + 4 - n }')
pause "$sleep_until"
remove_started=$(now)
removed=$(console -remove)
remove_seconds=$(elapsed "$remove_started")
expect_match "-remove: console text" \
  'Stopping Noxel_ALS_Service\.\.*
Noxel_ALS_Service is stopped\.
Noxel_ALS_Service is removed\.
x' "$removed"
echo "   -remove took $remove_seconds s"
if awk -v s="$remove_seconds" 'BEGIN { exit !(s >= 3 && s <= 12) }'; then
  echo "ok: -remove waits out the worker's sleep, and no longer (3 to 12 s)"
else
  fail "-remove took $remove_seconds s; expected 3 to 12 s (about 6 for the sleep, 1 for the poll)"
fi
wait_until 10 service_gone || true
expect_equal "OpenServiceW after -remove" "$not_installed" "$(service_status $name)"
expect_equal "the service's key after -remove" gone \
  "$(wine reg query "$key" >/dev/null 2>&1 && echo present || echo gone)"
expect_equal "the event source after -remove" "RegOpenKeyExW = 2" "$(event_source)"

step "-remove again, with a further argument"
expect_equal "-REMOVE again: console text" "OpenService failed w/err 0x00000424
x" "$(console -REMOVE now)"

step "the events, as Wine prints them on the services' stderr"
expect_equal "events of the run" \
  "trace|Noxel_ALS_Service|Noxel ALS Service in OnStart
trace|Noxel_ALS_Service|Noxel ALS Service in OnStop" "$(events)"
expect_equal "text log at the end" absent "$([ -e "$log" ] && echo present || echo absent)"
