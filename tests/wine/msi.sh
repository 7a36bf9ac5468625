#!/usr/bin/env bash
# The MSI package under Wine's Windows Installer: install, major upgrade, refused
# downgrade and uninstall. The only test of what the package registers.
# Usage: msi.sh PACKAGE.msi NoxelAlsSvc.exe NoxelAlsInstallerActions.dll
#               VERSION packaging/build-msi.cmake CMAKE
source "$(dirname "$0")/lib.sh"
package=$1
exe=$2
actions=$3
version=$4
build_msi=$5
cmake=$6

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

# The version of every installed product, one a line: a new prefix has none of its own.
# Under load they once came empty right after an install (1 run in about 50), so a check
# that expects some asks again until they come.
products() {
  reg_values 'Software\Microsoft\Windows\CurrentVersion\Uninstall' /s |
    sed -n 's/^DisplayVersion REG_SZ //p; /^reg.exe gave no answer$/p'
}
installed_files() { (cd "$install_dir" 2>/dev/null && ls -A) || echo "(no folder)"; }

program='C:\Program Files\Noxel ALS\NoxelAlsSvc.exe'

step "msiexec /i of version $version, silent"
expect_equal "msiexec /i: exit status" 0 "$(msiexec /i 'C:\packages\current.msi' /qn)"
expect_state "the service runs" RUNNING
expect_equal "the service's key: as -install registers it" "$(expected_service "\"$program\"")" \
  "$(reg_values "$service_key")"
expect_equal "the event source" "$(expected_source "$program")" "$(reg_values "$event_source")"
expect_equal "the installed files" "NoxelAlsSvc.exe" "$(installed_files)"
expect_same_file "the installed executable" "$exe" "$install_dir/NoxelAlsSvc.exe"
expect_equal "one product, version $version" "$version" "$(retried 30 products)"

# A product code kept from one version to the next would fail this upgrade (1638).
step "msiexec /i of version $next_version: a major upgrade"
expect_equal "msiexec /i: exit status" 0 "$(msiexec /i 'C:\packages\next.msi' /qn)"
expect_state "the service runs" RUNNING
expect_equal "the event source, unchanged" "$(expected_source "$program")" "$(reg_values "$event_source")"
expect_equal "one file" "NoxelAlsSvc.exe" "$(installed_files)"
expect_same_file "the executable of version $next_version" \
  "$work/next/NoxelAlsSvc.exe" "$install_dir/NoxelAlsSvc.exe"
expect_equal "one product, version $next_version" "$next_version" "$(retried 30 products)"

step "msiexec /i of version $version again: a downgrade, refused"
expect_equal "msiexec /i: exit status, ERROR_INSTALL_FAILURE" 67 "$(msiexec /i 'C:\packages\current.msi' /qn)"
expect_equal "still version $next_version alone" "$next_version" "$(retried 30 products)"
expect_state "the service still runs" RUNNING

step "msiexec /x, silent"
expect_equal "msiexec /x: exit status" 0 "$(msiexec /x 'C:\packages\next.msi' /qn)"
expect_state "the service manager knows no service" gone
expect_equal "the event source" "" "$(reg_values "$event_source")"
expect_equal "the files and the folder" "(no folder)" "$(installed_files)"
expect_equal "no product left" "" "$(products)"
# Started, stopped and started by the upgrade, stopped by the uninstall.
expect_events "Noxel ALS Service in OnStart" "Noxel ALS Service in OnStop" "Noxel ALS Service in OnStart" \
  "Noxel ALS Service in OnStop"
