#!/usr/bin/env bash
# The version resource, the manifest and the message table of the shipped
# NoxelAlsSvc.exe, read back under Wine with GetFileVersionInfoW, VerQueryValueW,
# FindResourceW and FormatMessageW, and the program still running from a console with
# them.
# Usage: version.sh NoxelAlsSvc.exe noxel-wine-probe.exe PROJECT-VERSION (x.y.z)
source "$(dirname "$0")/lib.sh"
exe=$1
probe=$2
version=$3

start_prefix
mkdir -p "$WINEPREFIX/drive_c/noxel"
cp "$exe" "$WINEPREFIX/drive_c/noxel/NoxelAlsSvc.exe"
program='C:\noxel\NoxelAlsSvc.exe'

# probe_line KEY: the value of one "KEY = VALUE" line of the probe's version report.
report=$(wine "$probe" version "$program" 2>/dev/null | tr -d '\r' || true)
probe_line() { printf '%s\n' "$report" | sed -n "s/^$1 = //p"; }

step "the version resource"
expect_equal "the four-part version" "$version.0" "$(probe_line 'fixed file version')"
expect_equal "the product version in the fixed part" "$version.0" "$(probe_line 'fixed product version')"
expect_equal "VS_FIXEDFILEINFO signature" "0xfeef04bd" "$(probe_line 'fixed signature')"
expect_equal "file type: an application" "1" "$(probe_line 'fixed file type')"
expect_equal "translation: U.S. English, Unicode" "040904b0" "$(probe_line translations)"
expect_equal "the strings" \
  "CompanyName = Noxel
FileDescription = Noxel ALS calibration service
FileVersion = $version.0
InternalName = NoxelAlsSvc
LegalCopyright = Copyright (C) Noxel
OriginalFilename = NoxelAlsSvc.exe
ProductName = Noxel Ambient Light Sensor Service
ProductVersion = $version.0" \
  "$(printf '%s\n' "$report" | grep -E '^(CompanyName|FileDescription|FileVersion|InternalName|LegalCopyright|OriginalFilename|ProductName|ProductVersion) = ')"

step "the manifest"
manifest=$(probe_line 'manifest text')
expect_match "manifest resource 1 is there" '[0-9]+ bytes' "$(probe_line 'manifest 1')"
expect_match "execution level asInvoker, never a request for elevation" \
  '.*<requestedExecutionLevel level="asInvoker"/>.*' "$manifest"
expect_equal "one execution level" 1 "$(grep -o 'requestedExecutionLevel' <<<"$manifest" | wc -l)"
# Windows 10's identifier, which Windows 11 shares.
expect_match "supported OS: Windows 10 and 11" \
  '.*<supportedOS Id="\{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a\}"/>.*' "$manifest"
expect_match "its assembly version is the file version" \
  ".*<assemblyIdentity [^>]*version=\"${version//./\\.}\\.0\".*" "$manifest"

step "the message table renders every entry the service writes as its text alone"
texts=("Noxel ALS Service in OnStart" "Update parameters successfully!" "Noxel ALS Service in OnStop"
  "Unable to Create Log File" "Service failed to start." "Service failed to stop." "Service failed to pause."
  "Service failed to resume." "Service failed to shut down.")
for operation in Start Stop Pause Continue Shutdown; do texts+=("Service $operation failed w/err 0x00000005"); done
expected=""
for text in "${texts[@]}"; do expected+="$text = [$text]"$'\n'; done
expect_equal "FormatMessageW of message 0 with the service name and the text" "${expected%$'\n'}" \
  "$(wine "$probe" render "$program" "${texts[@]}" 2>/dev/null | tr -d '\r')"

step "the program still loads with its manifest"
expect_equal "an unknown option: silence, exit code 0" "x" "$(console -unknown)"
