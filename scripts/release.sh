#!/usr/bin/env bash
# Builds a release from the committed tree and leaves it in dist/: NoxelAlsSvc.exe,
# NoxelAlsSvc-<version>-x64.msi, conformance/ (the conformance program's Windows build
# and its expectations, for a check on a real Windows machine) and SHA256SUMS. The build runs on an export of HEAD in
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

packages=("$build_dir"/NoxelAlsSvc-*-x64.msi)
if [ ${#packages[@]} -ne 1 ] || [ ! -f "${packages[0]}" ]; then
  echo "release.sh: no single package in $build_dir" >&2
  exit 1
fi
package_name=$(basename "${packages[0]}")
version=${package_name#NoxelAlsSvc-}
version=${version%-x64.msi}

staging="$temporary/dist"
mkdir -p "$staging"
cp "$build_dir/NoxelAlsSvc.exe" "$staging/NoxelAlsSvc.exe"
if [ ${#sign_options[@]} -gt 0 ]; then
  echo "== signing"
  cp "$build_dir/NoxelAlsInstallerActions.dll" "$temporary/NoxelAlsInstallerActions.dll"
  bash "$source_dir/scripts/sign.sh" "${sign_options[@]}" "$staging/NoxelAlsSvc.exe" \
    "$temporary/NoxelAlsInstallerActions.dll"
  cmake -DVERSION="$version" -DEXECUTABLE="$staging/NoxelAlsSvc.exe" \
    -DACTIONS="$temporary/NoxelAlsInstallerActions.dll" -DOUTPUT="$staging/$package_name" \
    -P "$source_dir/packaging/build-msi.cmake" | tee -a "$temporary/build.log"
  bash "$source_dir/scripts/sign.sh" "${sign_options[@]}" "$staging/$package_name"
else
  cp "${packages[0]}" "$staging/$package_name"
fi
# Never signed: it is a test program, run by hand from an elevated prompt.
mkdir -p "$staging/conformance"
cp "$build_dir/tests/wine/noxel-conformance.exe" "$staging/conformance/conformance.exe"
cp "$source_dir/tests/conformance/expectations.txt" "$staging/conformance/expectations.txt"
(cd "$staging" && sha256sum NoxelAlsSvc.exe "$package_name" conformance/conformance.exe \
  conformance/expectations.txt >SHA256SUMS)

# ---- The driver package: dist/driver/ and dist/NoxelAlsSvc-<version>-driver.cab ----
# The two INFs and the executable (the signed one, when the release is signed), and the
# CAB of that folder for a hardware submission, checked to hold exactly those files. No
# catalogs: the submission (or the OEM's Inf2Cat) makes and signs them. The files take
# the commit's time, so that one commit's CAB is always the same bytes.
driver_files=(NoxelAlsExtension.inf NoxelAlsComponent.inf NoxelAlsSvc.exe)
driver_cab="NoxelAlsSvc-$version-driver.cab"
mkdir "$staging/driver"
cp "$source_dir/packaging/NoxelAlsExtension.inf" "$source_dir/packaging/NoxelAlsComponent.inf" \
  "$staging/NoxelAlsSvc.exe" "$staging/driver/"
touch -d "@$(git log -1 --format=%ct)" "$staging/driver/"*
(cd "$staging/driver" && gcab --create --zip "../$driver_cab" "${driver_files[@]}")
if [ "$(gcab --list "$staging/$driver_cab")" != "$(printf '%s\n' "${driver_files[@]}")" ] ||
  [ "$(ls -A "$staging/driver")" != "$(printf '%s\n' "${driver_files[@]}" | sort)" ]; then
  echo "release.sh: the driver package is not exactly ${driver_files[*]}:" >&2
  gcab --list "$staging/$driver_cab" >&2
  exit 1
fi
(cd "$staging" && sha256sum "$driver_cab" "${driver_files[@]/#/driver/}" >>SHA256SUMS)

# dist/ is replaced whole, only once everything above has succeeded.
rm -rf "$root/dist"
mv "$staging" "$root/dist"
echo "== dist/, version $version, commit $commit$([ ${#sign_options[@]} -gt 0 ] && echo ", signed")"
(cd "$root/dist" && ls -lR && cat SHA256SUMS)
grep -o 'ProductCode {[^}]*}, UpgradeCode {[^}]*}' "$temporary/build.log" | tail -1
