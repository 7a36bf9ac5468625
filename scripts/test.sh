#!/usr/bin/env bash
# Installs what is needed, builds every preset and runs every test: the host suite
# plain, under the sanitizers and with clang, the fuzzers for a short while, the
# Windows builds (x64 and ARM64) with the check of their executables, and their
# end-to-end runs under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-dependencies.sh test

# The ARM64 build's first run compiles Zig's runtimes, minutes of CPU: it goes on beside
# everything up to its tests, which leave a core idle much of the time.
mkdir -p build
arm64_log=build/mingw-arm64-build.log
# In a process group of its own, so that an early end of this script stops all of it.
setsid bash -c 'cmake --preset mingw-arm64 && cmake --build --preset mingw-arm64' >"$arm64_log" 2>&1 &
arm64_build=$!
trap 'kill -- "-$arm64_build" 2>/dev/null || true' EXIT

echo "==== format"
# Every tracked C++ source follows .clang-format.
command -v clang-format >/dev/null || { echo "clang-format is missing (apt-get install clang-format)"; exit 1; }
git ls-files -z -- '*.cpp' '*.h' | xargs -0 clang-format --dry-run --Werror

for preset in host host-asan host-tsan host-clang; do
  echo "==== $preset"
  cmake --preset "$preset"
  cmake --build --preset "$preset"
  ctest --preset "$preset"
done

echo "==== fuzz"
bash scripts/fuzz.sh 20

echo "==== mingw"
cmake --preset mingw
cmake --build --preset mingw
echo "==== wine"
# No test found (Wine missing) is a failure, not a pass.
ctest --test-dir build/mingw -L 'wine|pe' --output-on-failure --no-tests=error

echo "==== mingw-arm64"
if ! wait "$arm64_build"; then
  tail -n 40 "$arm64_log"
  echo "the ARM64 build failed; its whole output: $arm64_log"
  exit 1
fi
tail -n 3 "$arm64_log"
# Its end-to-end tests run under Debian's arm64 Wine on qemu-user.
ctest --test-dir build/mingw-arm64 -L 'wine-arm64|pe' --output-on-failure --no-tests=error
