#!/usr/bin/env bash
# The driver package's two INFs under Wine's setupapi: both open as Windows 4 style INFs
# and every section that a directive names is there (the check is shown to catch a
# missing section and an undefined string); the component INF's services section
# registers the service as -install does, starts it from DIRID 13's folder and starts
# nothing else. Wine has no driver store and installs no devices: it resolves DIRID 13 to
# a folder of its own, where the test puts the executable as the driver store holds it;
# what Wine leaves undone is printed as "not shown".
# Usage: driver.sh NoxelAlsSvc.exe noxel-wine-probe.exe noxel-inf-probe.exe NoxelAlsExtension.inf
#                  NoxelAlsComponent.inf
source "$(dirname "$0")/lib.sh"
exe=$1
probe=$2
inf_probe=$3
extension_inf=$4
component_inf=$5
name=Noxel_ALS_Service
services_section=NoxelAlsService_Install.NT.Services
event_source='HKLM\System\CurrentControlSet\Services\EventLog\Application\Noxel_ALS_Service'

inf_probe() { wine "$inf_probe" "$@" 2>/dev/null | tr -d '\r'; }
is_stopped() { [[ "$(service_status $name)" == "ok state STOPPED "* ]]; }

# The service is deleted even when a check fails or the run is interrupted.
delete_service() {
  local status=$?
  set +e  # the status goes on to finish, which reads it from $?
  if [ -e "$WINEPREFIX/system.reg" ] && [ "$(service_status $name)" != "$not_installed" ]; then
    wine sc stop $name >/dev/null 2>&1 || true
    wine sc delete $name >/dev/null 2>&1 || true
  fi
  (exit "$status")
  finish
}
trap delete_service EXIT

start_prefix
mkdir -p "$WINEPREFIX/drive_c/driver"
cp "$extension_inf" "$component_inf" "$WINEPREFIX/drive_c/driver/"
extension='C:\driver\NoxelAlsExtension.inf'
component='C:\driver\NoxelAlsComponent.inf'

step "both INFs open as Windows 4 style INFs; every named section is there"
expect_equal "the extension INF" ok "$(inf_probe check "$extension")"
expect_equal "the component INF" ok "$(inf_probe check "$component")"

step "the same check on broken copies"
sed 's/^\[NoxelAlsService_EventLog_AddReg\]/[Renamed]/' "$component_inf" >"$WINEPREFIX/drive_c/driver/section.inf"
expect_equal "a renamed section" "missing: [NoxelAlsService_EventLog_AddReg] named by [NoxelAlsService_EventLog]
unnamed: [Renamed]" "$(inf_probe check 'C:\driver\section.inf')"
sed '/^ComponentDescription/d' "$extension_inf" >"$WINEPREFIX/drive_c/driver/string.inf"
expect_equal "an undefined string" "unresolved: [NoxelAlsService_Component] %ComponentDescription%" \
  "$(inf_probe check 'C:\driver\string.inf')"

step "the component INF's services section, as Windows runs it on the component's device"
binary=$(inf_probe lines "$component" NoxelAlsService_Service | sed -n 's/^ServiceBinary = //p')
expect_match "ServiceBinary: NoxelAlsSvc.exe in DIRID 13's folder" '[A-Za-z]:\\.*\\NoxelAlsSvc\.exe' "$binary"
echo "   Wine resolves DIRID 13 to ${binary%\\*}, not to a folder of the driver store"
store=$(unix_path "${binary%\\*}")
mkdir -p "$store"
cp "$exe" "$store/NoxelAlsSvc.exe"
before=$(inf_probe services)
expect_equal "SetupInstallServicesFromInfSectionW" ok "$(inf_probe install-services "$component" $services_section)"
expect_equal "QueryServiceConfigW, QueryServiceConfig2W: as -install registers it, from DIRID 13" \
  "type = 0x00000110
start = 3
error control = 1
path = $binary
account = LocalSystem
display name = Noxel Ambient Light Sensor Service
description = Copies the ambient light sensor's calibration from the UEFI firmware into the sensor's registry settings." \
  "$(inf_probe service $name)"
wait_until 20 is_running $name || true
expect_equal "started, for SPSVCINST_STARTSERVICE (0x800)" RUNNING "$(service_state $name)"
expect_equal "nothing else registered or started" "$(printf '%s\n%s not stopped\n' "$before" $name | sort)" \
  "$(inf_probe services | sort)"

step "the event source"
expect_equal "EventMessageFile: REG_EXPAND_SZ, the executable the service runs; TypesSupported: REG_DWORD 5" \
  "HKR, , EventMessageFile, 0x00020000, $binary
HKR, , TypesSupported, 0x00010001, 5" "$(inf_probe lines "$component" NoxelAlsService_EventLog_AddReg)"
if wine reg query "$event_source" >/dev/null 2>&1; then
  expect_equal "the event source's key" "EventMessageFile    REG_EXPAND_SZ    $binary
TypesSupported    REG_DWORD    0x5" "$(wine reg query "$event_source" | tr -d '\r' | sed -n 's/^    //p')"
else
  echo "   not shown: the event source's key; Wine's setupapi ignores the event-log install section"
fi

step "the service stopped and deleted"
wine sc stop $name >/dev/null 2>&1 || true
# The stop waits out the worker's sleep between attempts, up to 10 s.
wait_until 20 is_stopped || true
wine sc delete $name >/dev/null 2>&1 || true
expect_equal "OpenServiceW" "$not_installed" "$(service_status $name)"
expect_equal "what the service logged, as Wine prints it: it ran from DIRID 13's folder" \
  "trace|Noxel_ALS_Service|Noxel ALS Service in OnStart
trace|Noxel_ALS_Service|Noxel ALS Service in OnStop" "$(events)"
