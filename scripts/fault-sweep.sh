#!/usr/bin/env bash
# The whole fault sweep: every call of every emulated operation in seven service lives,
# failing once and from then on, with its fitting error and the generic ones, each
# case in a process of its own under AddressSanitizer. Arguments go to the sweep
# (--subset for the bounded set CI runs, --jobs N).
set -euo pipefail
cd "$(dirname "$0")/.."

cmake --preset host-asan >/dev/null
cmake --build --preset host-asan --target noxel-fault-sweep
export ASAN_OPTIONS="${ASAN_OPTIONS:-halt_on_error=1:detect_leaks=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1}"
exec build/host-asan/tests/sweep/noxel-fault-sweep "$@"
