#!/usr/bin/env bash
# Builds a release from the committed tree and leaves it in dist/: NoxelAlsSvc.exe,
# NoxelAlsSvc-<version>-x64.msi, conformance/ (the conformance program's Windows build
# and its expectations, for a check on a real Windows machine), the driver package in
# driver/ and as NoxelAlsSvc-<version>-x64-driver.cab, the same for ARM64 under arm64/ (no MSI: wixl builds none for ARM64), and SHA256SUMS. The
# ARM64 build uses the Zig in build/zig (scripts/install-dependencies.sh). The build runs on an export of HEAD in
# a temporary directory, so nothing uncommitted, untracked or left in build/ reaches it;
# a tree with uncommitted changes to tracked files is refused, since its release would
# not be what the tree shows.
#
# Usage: scripts/release.sh [--pfx FILE [--password-file FILE] [--timestamp URL] [--ca FILE]]
# With --pfx the release is signed by scripts/sign.sh (the same options; the password
# from --password-file or NOXEL_SIGN_PASSWORD): the executable and the custom action
# DLL first, then the package is built around them and signed too, so that the
# executable that the package installs carries the signature as well.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

sign_options=()
while [ $# -gt 0 ]; do
  case $1 in
    --pfx | --password-file | --ca)
      [ $# -ge 2 ] || { echo "release.sh: $1 needs a value" >&2; exit 2; }
      # Files as given from the caller's directory; the build runs elsewhere.
      sign_options+=("$1" "$(realpath -- "$2")")
      shift 2 ;;
    --timestamp)
      [ $# -ge 2 ] || { echo "release.sh: $1 needs a value" >&2; exit 2; }
      sign_options+=("$1" "$2")
      shift 2 ;;
    *) echo "release.sh: unknown argument $1" >&2; sed -n 's/^# Usage: /usage: /p' "$0" >&2; exit 2 ;;
  esac
done
if [ ${#sign_options[@]} -gt 0 ] && [[ " ${sign_options[*]} " != *" --pfx "* ]]; then
  echo "release.sh: the signing options need --pfx" >&2
  exit 2
fi

cd "$root"
if [ -n "$(git status --porcelain --untracked-files=no)" ]; then
  echo "release.sh: the tree has uncommitted changes; commit or stash them first:" >&2
  git status --short --untracked-files=no >&2
  exit 1
fi
commit=$(git rev-parse HEAD)

temporary=$(mktemp -d "${TMPDIR:-/tmp}/noxel-release.XXXXXX")
trap 'rm -rf "$temporary"' EXIT
source_dir="$temporary/source"
mkdir -p "$source_dir"
git archive --format=tar HEAD | tar -x -C "$source_dir"

echo "== building $commit in $source_dir"
cmake --preset mingw -S "$source_dir" >"$temporary/configure.log" 2>&1 ||
  { cat "$temporary/configure.log"; exit 1; }
build_dir="$source_dir/build/mingw"
cmake --build "$build_dir" --target msi noxel-conformance -j "$(nproc)" | tee "$temporary/build.log"
cmake --preset mingw-arm64 -S "$source_dir" -DNOXEL_ZIG_DIR="$root/build/zig" >"$temporary/configure.log" 2>&1 ||
  { cat "$temporary/configure.log"; exit 1; }
arm64_dir="$source_dir/build/mingw-arm64"
cmake --build "$arm64_dir" --target NoxelAlsSvc noxel-conformance -j "$(nproc)" >>"$temporary/build.log" 2>&1 ||
  { cat "$temporary/build.log"; exit 1; }

packages=("$build_dir"/NoxelAlsSvc-*-x64.msi)
if [ ${#packages[@]} -ne 1 ] || [ ! -f "${packages[0]}" ]; then
  echo "release.sh: no single package in $build_dir" >&2
  exit 1
fi
package_name=$(basename "${packages[0]}")
version=${package_name#NoxelAlsSvc-}
version=${version%-x64.msi}

staging="$temporary/dist"
mkdir -p "$staging/arm64"
cp "$build_dir/NoxelAlsSvc.exe" "$staging/NoxelAlsSvc.exe"
cp "$arm64_dir/NoxelAlsSvc.exe" "$staging/arm64/NoxelAlsSvc.exe"
if [ ${#sign_options[@]} -gt 0 ]; then
  echo "== signing"
  cp "$build_dir/NoxelAlsInstallerActions.dll" "$temporary/NoxelAlsInstallerActions.dll"
  bash "$source_dir/scripts/sign.sh" "${sign_options[@]}" "$staging/NoxelAlsSvc.exe" \
    "$staging/arm64/NoxelAlsSvc.exe" "$temporary/NoxelAlsInstallerActions.dll"
  cmake -DVERSION="$version" -DEXECUTABLE="$staging/NoxelAlsSvc.exe" \
    -DACTIONS="$temporary/NoxelAlsInstallerActions.dll" -DOUTPUT="$staging/$package_name" \
    -P "$source_dir/packaging/build-msi.cmake" | tee -a "$temporary/build.log"
  bash "$source_dir/scripts/sign.sh" "${sign_options[@]}" "$staging/$package_name"
else
  cp "${packages[0]}" "$staging/$package_name"
fi
# Never signed: it is a test program, run by hand from an elevated prompt.
for arch in . arm64; do
  mkdir -p "$staging/$arch/conformance"
  cp "$source_dir/tests/conformance/expectations.txt" "$staging/$arch/conformance/expectations.txt"
done
cp "$build_dir/tests/wine/noxel-conformance.exe" "$staging/conformance/conformance.exe"
cp "$arm64_dir/tests/wine/noxel-conformance.exe" "$staging/arm64/conformance/conformance.exe"
(cd "$staging" && sha256sum NoxelAlsSvc.exe "$package_name" conformance/conformance.exe \
  conformance/expectations.txt arm64/NoxelAlsSvc.exe arm64/conformance/conformance.exe \
  arm64/conformance/expectations.txt >SHA256SUMS)

# ---- The driver packages: dist/driver/, dist/arm64/driver/ and a CAB of each ----
# The two INFs and the executable (the signed one, when the release is signed), and the
# CAB of that folder for a hardware submission, checked to hold exactly those files. No
# catalogs: the submission (or the OEM's Inf2Cat) makes and signs them. The files take
# the commit's time, so that one commit's CAB is always the same bytes. One package per
# architecture, each with its own NoxelAlsSvc.exe beside the INFs: a file run from the
# driver store has a name unique in its INF and lies in the folder it is installed to,
# so one package for both would repeat every install section per architecture. Each
# package's INFs keep their own architecture's decoration only: the x64 package never
# installs on an ARM64 machine, nor the other way round.
driver_files=(NoxelAlsExtension.inf NoxelAlsComponent.inf NoxelAlsSvc.exe)
# driver_package FOLDER DECORATION-KEPT DECORATION-DROPPED CAB
driver_package() {
  local inf
  mkdir "$staging/$1"
  for inf in NoxelAlsExtension.inf NoxelAlsComponent.inf; do
    sed "/^%ManufacturerName% = /s/, $3\.10\.0\.\.\.16299//" "$source_dir/packaging/$inf" >"$staging/$1/$inf"
    grep -q "^%ManufacturerName% = [A-Za-z]*, $2\.10\.0\.\.\.16299$" "$staging/$1/$inf" ||
      { echo "release.sh: $1/$inf does not name $2 alone" >&2; exit 1; }
  done
  cp "$staging/$(dirname "$1")/NoxelAlsSvc.exe" "$staging/$1/"
  touch -d "@$(git log -1 --format=%ct)" "$staging/$1/"*
  (cd "$staging/$1" && gcab --create --zip "$staging/$4" "${driver_files[@]}")
  if [ "$(gcab --list "$staging/$4")" != "$(printf '%s\n' "${driver_files[@]}")" ] ||
    [ "$(ls -A "$staging/$1")" != "$(printf '%s\n' "${driver_files[@]}" | sort)" ]; then
    echo "release.sh: the driver package $1 is not exactly ${driver_files[*]}:" >&2
    gcab --list "$staging/$4" >&2
    exit 1
  fi
  (cd "$staging" && sha256sum "$4" "${driver_files[@]/#/$1/}" >>SHA256SUMS)
}
driver_package driver NTamd64 NTarm64 "NoxelAlsSvc-$version-x64-driver.cab"
driver_package arm64/driver NTarm64 NTamd64 "NoxelAlsSvc-$version-arm64-driver.cab"

# dist/ is replaced whole, only once everything above has succeeded.
rm -rf "$root/dist"
mv "$staging" "$root/dist"
echo "== dist/, version $version, commit $commit$([ ${#sign_options[@]} -gt 0 ] && echo ", signed")"
(cd "$root/dist" && ls -lR && cat SHA256SUMS)
grep -o 'ProductCode {[^}]*}, UpgradeCode {[^}]*}' "$temporary/build.log" | tail -1
