#!/usr/bin/env bash
# Installs the Debian packages that one set of jobs needs, when any is missing:
#   run      the simulator alone (scripts/run.sh)
#   picture  the simulator and headless Chromium (scripts/report-picture.sh)
#   coverage the host build and tests, and gcovr (scripts/coverage.sh)
#   test     the builds, the tests and the Windows build: everything (the default)
set -euo pipefail

run=(
  cmake ninja-build g++               # host build
  nlohmann-json3-dev                  # the simulator's machine files
)
coverage=(
  "${run[@]}"
  libgtest-dev libgmock-dev           # host tests
  python3                             # the tests of the simulator's HTML page
  gcovr                               # line and branch coverage
)
test=(
  "${coverage[@]}" make
  g++-mingw-w64-x86-64                # Windows build
  wine wine64                         # end-to-end tests under Wine
  binutils-mingw-w64-x86-64           # objdump and strip for the measurements
  wixl                                # the MSI package
  gcab                                # the driver package's CAB (scripts/release.sh)
  osslsigncode openssl                # signing, and the signing test's throwaway certificate
  clang libclang-rt-14-dev            # the host-clang build and the fuzzers (libFuzzer)
  clang-format                        # the formatting check of the test command
)

case "${1:-test}" in
  run) packages=("${run[@]}") ;;
  picture) packages=("${run[@]}" chromium) ;;
  coverage) packages=("${coverage[@]}") ;;
  test) packages=("${test[@]}") ;;
  *) echo "usage: install-dependencies.sh [run|picture|coverage|test]" >&2; exit 2 ;;
esac

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
