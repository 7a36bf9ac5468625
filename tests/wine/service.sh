#!/usr/bin/env bash
# The shipped NoxelAlsSvc.exe as a service under Wine: -install from a path with a
# space, its registration as the service manager and the registry keep it, the running
# service, its events, the stale text log, a second install, -remove twice. Wine has no
# firmware variables, so every attempt fails and the worker keeps retrying every 10 s.
# Usage: service.sh NoxelAlsSvc.exe noxel-wine-probe.exe
source "$(dirname "$0")/lib.sh"
exe=$1
probe=$2

start_prefix
put_program "$exe" 'Program Files\Noxel ALS'
log="$WINEPREFIX/drive_c/windows/system32/Noxel_AlsSvc.log"
printf 'a log of an earlier run' >"$log"
log_absent() { [ ! -e "$log" ]; }

step "-install from a directory whose path holds a space"
expect_equal "-install: console text" "$installed" "$(console -install)"
wait_until 20 is_running $name || true
# The type is the service manager's own (Wine keeps the registered 0x110).
expect_match "QueryServiceStatus: running, accepting stop and shutdown" \
  'ok state RUNNING type 0x[0-9a-f]{8} accepted 5 exit 0' "$(service_status $name)"
# Wine would start an unquoted path with a space as well: the quotes are checked here.
expect_equal "QueryServiceConfigW, QueryServiceConfig2W: the quoted path, the description" \
  "$(expected_config "\"$program\"")" "$(ask config $name)"
expect_equal "the event source: the message file, unquoted, and the types" \
  "$(expected_source "$program")" "$(reg_values "$event_source")"

step "the worker deletes the stale text log when it starts"
wait_until 10 log_absent || true
expect_equal "text log after the start" gone "$(file_state "$log")"

step "a second install, as /INSTALL"
expect_equal "/INSTALL again: console text" "CreateService failed w/err 0x00000431
x" "$(console /INSTALL)"

step "-remove"
# firmware.sh times -remove with the worker in its sleep and with the worker ended.
remove_within 0 12 "-remove stops the service within the 10 s Wine gives a control handler"
wait_until 10 is_gone || true
expect_equal "OpenServiceW after -remove" "$not_installed" "$(service_status $name)"

step "-remove again, with a further argument"
expect_equal "-REMOVE again: console text" "OpenService failed w/err 0x00000424
x" "$(console -REMOVE now)"

step "the events, as Wine prints them on the services' stderr"
expect_events "events of the run" "Noxel ALS Service in OnStart" "Noxel ALS Service in OnStop"
expect_equal "text log at the end" gone "$(file_state "$log")"
