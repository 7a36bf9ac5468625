#!/usr/bin/env bash
# Installs the Debian packages that the build, the tests and the Windows build need,
# when any is missing.
set -euo pipefail

packages=(
  cmake ninja-build g++ make          # host build
  libgtest-dev libgmock-dev           # host tests
  nlohmann-json3-dev                  # the simulator's machine files
  g++-mingw-w64-x86-64                # Windows build
  wine wine64                         # end-to-end tests under Wine
  binutils-mingw-w64-x86-64           # objdump and strip for the measurements
  wixl                                # the MSI package
  gcab                                # the driver package's CAB (scripts/release.sh)
  osslsigncode openssl                # signing, and the signing test's throwaway certificate
  clang libclang-rt-14-dev            # the host-clang build and the fuzzers (libFuzzer)
  clang-format                        # the formatting check of the test command
)

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  sudo_cmd=()
  [ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y "${missing[@]}"
fi
