#!/usr/bin/env bash
# Makes docs/report.png, the README's picture: the typical machine's HTML report from its
# top to the timeline, as headless Chromium draws it 900 pixels wide.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-dependencies.sh picture
cmake --preset run >/dev/null
cmake --build --preset run >/dev/null
page=build/report-picture.html
# The typical machine publishes: exit code 0.
./build/run/tools/simulator/noxel-als-sim examples/typical.json --html "$page" >/dev/null
mkdir -p docs
rm -f docs/report.png
# Chromium's own chatter on standard error says nothing about the page.
chromium --headless --no-sandbox --hide-scrollbars --force-device-scale-factor=1 --window-size=900,1020 \
  --screenshot="$PWD/docs/report.png" "file://$PWD/$page" 2>/dev/null
[ -s docs/report.png ] || { echo "report-picture.sh: Chromium made no picture" >&2; exit 1; }
echo "$PWD/docs/report.png: $(stat -c %s docs/report.png) bytes"
