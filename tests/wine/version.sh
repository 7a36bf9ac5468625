#!/usr/bin/env bash
# The version resource, the manifest and the message table of the shipped
# NoxelAlsSvc.exe, read back under Wine. Its console text is service.sh's, and the
# dispatcher's failure without a service manager the conformance program's.
# Usage: version.sh NoxelAlsSvc.exe noxel-wine-probe.exe PROJECT-VERSION (x.y.z)
source "$(dirname "$0")/lib.sh"
probe=$2
version=$3

start_prefix
put_program "$1" noxel

report=$(ask version "$program" || true)
probe_line() { printf '%s\n' "$report" | sed -n "s/^$1 = //p"; }

step "the version resource"
expect_equal "the fixed part: signature, file and product version, an application" \
  "0xfeef04bd $version.0 $version.0 1" "$(probe_line fixed)"
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
  "$(printf '%s\n' "$report" | grep -E '^(Company|FileDesc|FileVer|Internal|Legal|Original|Product)[A-Za-z]* = ')"

step "the manifest, resource 1"
manifest=$(probe_line 'manifest 1')
expect_match "execution level asInvoker, never a request for elevation" \
  '.*<requestedExecutionLevel level="asInvoker"/>.*' "$manifest"
expect_equal "one execution level" 1 "$(grep -o 'requestedExecutionLevel' <<<"$manifest" | wc -l)"
# Windows 10's identifier, which Windows 11 shares.
expect_match "supported OS: Windows 10 and 11" \
  '.*<supportedOS Id="\{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a\}"/>.*' "$manifest"
expect_match "its assembly version is the file version" \
  ".*<assemblyIdentity [^>]*version=\"${version//./\\.}\\.0\".*" "$manifest"

# Every entry is message 0 with the service name and the text, so two texts stand for all.
step "the message table renders an entry of the service as its text alone"
texts=("Update parameters successfully!" "Service Start failed w/err 0x00000005")
expected=$(for text in "${texts[@]}"; do echo "$text = [$text]"; done)
expect_equal "FormatMessageW of message 0 with the service name and the text" "$expected" \
  "$(ask render "$program" "${texts[@]}")"
