#!/usr/bin/env bash
# Installs what the simulator needs (a C++ compiler, CMake, Ninja, the JSON library),
# builds it and runs it: the real service code on an emulated machine (the typical one
# unless a machine file is given), showing what the service does. Arguments go to
# noxel-als-sim (see --help). The report is written as build/report.html too, and its
# path is the last line printed.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-dependencies.sh run
cmake --preset run >/dev/null
cmake --build --preset run >/dev/null
html=build/report.html
rm -f "$html"
status=0
# A caller's own --html comes later and wins; --help and usage errors write no page.
./build/run/tools/simulator/noxel-als-sim --html "$html" "$@" || status=$?
if [ -f "$html" ]; then echo "$PWD/$html"; fi
exit "$status"
