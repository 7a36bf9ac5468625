#!/usr/bin/env bash
# The driver package's two INFs under Wine's setupapi. The sensors they match, the
# required privilege and the version are the host test's (tests/driver_package_test.cpp);
# the event source's section nothing checks. Wine has no driver store and installs no devices: it
# resolves DIRID 13 to a folder of its own, where the test puts the executable.
# Usage: driver.sh NoxelAlsSvc.exe noxel-wine-probe.exe NoxelAlsExtension.inf NoxelAlsComponent.inf
source "$(dirname "$0")/lib.sh"
probe=$2

start_prefix
mkdir -p "$WINEPREFIX/drive_c/driver"
cp "$3" "$4" "$WINEPREFIX/drive_c/driver/"
component='C:\driver\NoxelAlsComponent.inf'
service_keys() { reg_answer 'System\CurrentControlSet\Services' | sed -n 's/^HKEY_.*\\//p'; }
services() { retried 30 service_keys; }

step "the extension INF opens as a Windows 4 style INF (the component's opens below)"
expect_equal "SetupOpenInfFileW" ok "$(ask inf 'C:\driver\NoxelAlsExtension.inf')"

step "the component INF's services section, as Windows runs it on the component's device"
binary=$(ask inf "$component" NoxelAlsService_Service ServiceBinary)
expect_match "ServiceBinary: NoxelAlsSvc.exe in DIRID 13's folder" '[A-Za-z]:\\.*\\NoxelAlsSvc\.exe' "$binary"
mkdir -p "$(unix_path "${binary%\\*}")"
cp "$1" "$(unix_path "$binary")"
before=$(services)
expect_equal "SetupInstallServicesFromInfSectionW" ok "$(ask inf "$component" NoxelAlsService_Install.NT.Services)"
expect_equal "the service's key: as -install registers it, from DIRID 13" \
  "$(expected_service "$binary")" "$(reg_values "$service_key")"
expect_state "started, for SPSVCINST_STARTSERVICE (0x800)" RUNNING
expect_equal "nothing else registered" "$(printf '%s\n%s\n' "$before" $name | sort)" "$(services | sort)"
