#!/usr/bin/env bash
# Installs what is needed, builds the simulator and runs it: the real service code on
# an emulated machine (the typical one unless a machine file is given), showing what
# the service does. Arguments go to noxel-als-sim (see --help).
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-dependencies.sh
cmake --preset host >/dev/null
cmake --build --preset host --target noxel-als-sim >/dev/null
exec ./build/host/tools/noxel-als-sim "$@"
