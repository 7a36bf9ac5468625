#!/usr/bin/env bash
# The driver package's two INFs under Wine's setupapi: both open as Windows 4 style
# INFs; the component INF's services section registers the service as -install does,
# starts it from DIRID 13's folder and starts nothing else. What the INFs hold (every
# named section there, every string defined, the values -install writes) is the host
# test's (tests/driver_package_test.cpp). Wine has no driver store and installs no
# devices: it resolves DIRID 13 to a folder of its own, where the test puts the
# executable as the driver store holds it; what Wine leaves undone is printed as "not
# shown".
# Usage: driver.sh NoxelAlsSvc.exe noxel-wine-probe.exe NoxelAlsExtension.inf NoxelAlsComponent.inf
source "$(dirname "$0")/lib.sh"
exe=$1
probe=$2
extension_inf=$3
component_inf=$4

start_prefix
mkdir -p "$WINEPREFIX/drive_c/driver"
cp "$extension_inf" "$component_inf" "$WINEPREFIX/drive_c/driver/"
component='C:\driver\NoxelAlsComponent.inf'

step "both INFs open as Windows 4 style INFs (what they hold is the host test's)"
expect_equal "the extension INF" ok "$(ask check 'C:\driver\NoxelAlsExtension.inf')"
expect_equal "the component INF" ok "$(ask check "$component")"

step "the component INF's services section, as Windows runs it on the component's device"
binary=$(ask lines "$component" NoxelAlsService_Service | sed -n 's/^ServiceBinary = //p' | sed 's/\\\\/\\/g')
expect_match "ServiceBinary: NoxelAlsSvc.exe in DIRID 13's folder" '[A-Za-z]:\\.*\\NoxelAlsSvc\.exe' "$binary"
echo "   Wine resolves DIRID 13 to ${binary%\\*}, not to a folder of the driver store"
store=$(unix_path "${binary%\\*}")
mkdir -p "$store"
cp "$exe" "$store/NoxelAlsSvc.exe"
before=$(ask services)
expect_equal "SetupInstallServicesFromInfSectionW" ok \
  "$(ask install-services "$component" NoxelAlsService_Install.NT.Services)"
expect_equal "QueryServiceConfigW, QueryServiceConfig2W: as -install registers it, from DIRID 13" \
  "$(expected_config "$binary")" "$(ask config $name)"
expect_running "started, for SPSVCINST_STARTSERVICE (0x800)"
expect_equal "nothing else registered or started" "$(printf '%s\n%s not stopped\n' "$before" $name | sort)" \
  "$(ask services | sort)"
if [ "$(key_state "HKLM\\$event_source")" = present ]; then
  expect_equal "the event source" "$(expected_source "$binary")" "$(reg_values "$event_source")"
else
  echo "   not shown: the event source's key; Wine's setupapi ignores the event-log install section"
fi

step "the service stopped"
wine sc stop $name >/dev/null 2>&1 || true
is_stopped() { [[ "$(service_status $name)" == "ok state STOPPED "* ]]; }
# The stop waits out the worker's sleep between attempts, up to 10 s.
wait_until 20 is_stopped || true
expect_events "what the service logged, as Wine prints it: it ran from DIRID 13's folder" \
  "Noxel ALS Service in OnStart" "Noxel ALS Service in OnStop"
