#!/usr/bin/env bash
# The MSI package under Wine's Windows Installer: a silent install registers the service
# as -install does (quoted path, description and event source included) and starts it; the next version's package
# replaces it, leaving one service and one file; an older package is refused; a silent
# uninstall stops the service, deletes it and removes the file and the folder.
# Usage: msi.sh PACKAGE.msi NoxelAlsSvc.exe NoxelAlsInstallerActions.dll
#               noxel-wine-probe.exe VERSION packaging/build-msi.cmake CMAKE
source "$(dirname "$0")/lib.sh"
package=$1
exe=$2
actions=$3
probe=$4
version=$5
build_msi=$6
cmake=$7
key='HKLM\System\CurrentControlSet\Services\Noxel_ALS_Service'
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall'

[ -f "$package" ] || { echo "no package $package: the msi target needs wixl (apt-get install wixl)"; exit 1; }

# The next version's package, built from the same sources with wixl, carrying an
# executable that differs from this one in bytes after its image (which the loader
# never reads), so that the installed file shows which package put it there.
next_version=$(awk -F. '{ printf "%d.%d.%d", $1, $2, $3 + 1 }' <<<"$version")
mkdir -p "$work/next"
cp "$exe" "$work/next/NoxelAlsSvc.exe"
printf 'noxel upgrade test %s' "$next_version" >>"$work/next/NoxelAlsSvc.exe"
step "building the package of version $next_version"
"$cmake" -DVERSION="$next_version" -DEXECUTABLE="$work/next/NoxelAlsSvc.exe" -DACTIONS="$actions" \
  -DOUTPUT="$work/next/next.msi" -P "$build_msi" >"$work/next/build.log" 2>&1 ||
  { cat "$work/next/build.log"; exit 1; }

start_prefix
mkdir -p "$WINEPREFIX/drive_c/packages"
cp "$package" "$WINEPREFIX/drive_c/packages/current.msi"
cp "$work/next/next.msi" "$WINEPREFIX/drive_c/packages/next.msi"
install_dir="$WINEPREFIX/drive_c/Program Files/Noxel ALS"

# "version code" of every installed product of this name, one a line.
products() {
  wine reg query "$uninstall_key" /s 2>/dev/null | tr -d '\r' | awk '
    /^HKEY_/ { code = $0; sub(/.*\\/, "", code); shown = ""; version = "" }
    /^    DisplayName / { shown = substr($0, index($0, "REG_SZ") + 10) }
    /^    DisplayVersion / { version = substr($0, index($0, "REG_SZ") + 10) }
    /^$/ && shown == "Noxel Ambient Light Sensor Service" { print version " " code; shown = "" }
    END { if (shown == "Noxel Ambient Light Sensor Service") print version " " code }'
}
installed_files() { (cd "$install_dir" 2>/dev/null && ls -A) || echo "(no folder)"; }

# As -install registers the service: the quoted path, the installed executable as the
# event source's message file.
program='C:\Program Files\Noxel ALS\NoxelAlsSvc.exe'
expected_config=$(expected_config "\"$program\"")
expected_source=$(expected_source "$program")

step "msiexec /i of version $version, silent"
expect_equal "msiexec /i: exit status" 0 "$(msiexec /i 'C:\packages\current.msi' /qn)"
expect_running "the service runs"
expect_equal "QueryServiceConfigW, QueryServiceConfig2W: as -install registers it" \
  "$expected_config" "$(ask config $name)"
expect_equal "the event source" "$expected_source" "$(reg_values "$event_source")"
expect_equal "the installed files" "NoxelAlsSvc.exe" "$(installed_files)"
expect_same_file "the installed executable" "$exe" "$install_dir/NoxelAlsSvc.exe"
expect_match "one product, version $version" "$version \{[0-9A-F-]{36}\}" "$(products)"
first_product=$(products | cut -d' ' -f2)

step "msiexec /i of version $next_version: a major upgrade"
expect_equal "msiexec /i: exit status" 0 "$(msiexec /i 'C:\packages\next.msi' /qn)"
expect_running "the service runs"
expect_equal "QueryServiceConfigW, QueryServiceConfig2W, unchanged" "$expected_config" "$(ask config $name)"
expect_equal "the event source, unchanged" "$expected_source" "$(reg_values "$event_source")"
expect_equal "one file" "NoxelAlsSvc.exe" "$(installed_files)"
expect_same_file "the executable of version $next_version" \
  "$work/next/NoxelAlsSvc.exe" "$install_dir/NoxelAlsSvc.exe"
expect_match "one product, version $next_version, under a new product code" \
  "$next_version \{[0-9A-F-]{36}\}" "$(products)"
next_product=$(products | cut -d' ' -f2)
if [ "$next_product" != "$first_product" ]; then
  echo "ok: the product code changed with the version"
else
  fail "the product code stayed $first_product"
fi

step "msiexec /i of version $version again: a downgrade, refused"
expect_equal "msiexec /i: exit status, ERROR_INSTALL_FAILURE" 67 "$(msiexec /i 'C:\packages\current.msi' /qn)"
expect_equal "still version $next_version alone" "$next_version $next_product" "$(products)"
expect_same_file "still the executable of version $next_version" \
  "$work/next/NoxelAlsSvc.exe" "$install_dir/NoxelAlsSvc.exe"
expect_running "the service still runs"

step "msiexec /x by product code, silent"
expect_equal "msiexec /x: exit status" 0 "$(msiexec /x "$next_product" /qn)"
expect_equal "OpenServiceW" "$not_installed" "$(service_status $name)"
expect_equal "the service's key" gone "$(key_state "$key")"
expect_equal "the event source" "" "$(reg_values "$event_source")"
expect_equal "the files and the folder" "(no folder)" "$(installed_files)"
expect_equal "no product left" "" "$(products)"

step "the events, as Wine prints them on the services' stderr"
expect_events "started, stopped and started by the upgrade, stopped by the uninstall" \
  "Noxel ALS Service in OnStart" "Noxel ALS Service in OnStop" "Noxel ALS Service in OnStart" \
  "Noxel ALS Service in OnStop"
