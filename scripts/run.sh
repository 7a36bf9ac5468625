#!/usr/bin/env bash
# Installs what is needed, builds the host program and runs it: the service's own
# entry point against the emulated machine, as from a console without arguments.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-dependencies.sh
cmake --preset host >/dev/null
cmake --build --preset host --target NoxelAlsSvc
./build/host/NoxelAlsSvc "$@"
