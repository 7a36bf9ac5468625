#!/usr/bin/env bash
# Line and branch coverage of the product code and of the emulation, reached by the
# host suite (every host test) and the fault sweep's bounded subset: the `coverage`
# preset (gcc's --coverage), read by gcovr. gcovr rather than clang's llvm-cov: it
# gives branch coverage per file, leaves out the branches gcc makes for exceptions and
# for code no source line holds with its own switches (--exclude-throw-branches,
# --exclude-unreachable-branches), writes the HTML report in the same run, and the
# build stays gcc's, as the plain host build is.
#
# Prints the figures per file, then every product line and branch no test reaches,
# each with its reason from scripts/coverage-exceptions.txt; one without a reason is
# marked NEW, an entry nothing matches any more STALE, and either ends the script
# with exit code 1. The report is build/coverage/html/index.html.
#
# The sweep's cases run in forked processes without the sanitizers here; a case that
# ends with _exit (a stuck life) or through ExitProcess writes its counts first
# (platform/emulation/coverage.h), so what only those processes reach is counted.
# A case ended by the watchdog would lose its counts; a passing sweep has none.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-dependencies.sh coverage
build=build/coverage
began=$SECONDS
times=()
# Ends a phase: its name and its seconds, for the last line.
phase() { times+=("$1 $((SECONDS - began)) s"); began=$SECONDS; }

echo "==== build (preset coverage)"
cmake --preset coverage >/dev/null
# Counts add up across runs, and the build itself runs the tests' binary to list them:
# start from none, on both sides of the build.
find "$build" -name '*.gcda' -delete
cmake --build --preset coverage
find "$build" -name '*.gcda' -delete
phase build

echo "==== host suite"
ctest --preset coverage >"$build/ctest.log" 2>&1 || {
  cat "$build/ctest.log"
  echo "coverage.sh: the host suite failed; its coverage would mean nothing" >&2
  exit 1
}
grep "tests passed" "$build/ctest.log"
phase "host suite"

echo "==== fault sweep, bounded subset"
"$build/tests/sweep/noxel-fault-sweep" --subset >"$build/sweep.log" 2>&1 || {
  cat "$build/sweep.log"
  echo "coverage.sh: the fault sweep failed; its coverage would mean nothing" >&2
  exit 1
}
tail -n 1 "$build/sweep.log"
phase "sweep subset"

echo "==== gcovr"
rm -rf "$build/html"
mkdir -p "$build/html"
gcovr --root . --object-directory "$build" "$build" -j 2 \
  --exclude-throw-branches --exclude-unreachable-branches \
  --filter 'app/' --filter 'service/' --filter 'calibration/' --filter 'install/' --filter 'platform/' \
  --json "$build/coverage.json" --json-summary "$build/summary.json" \
  --html-details "$build/html/index.html" --html-title "Noxel ALS service: coverage"
phase gcovr

status=0
python3 scripts/coverage-report.py "$build/coverage.json" "$build/summary.json" \
  scripts/coverage-exceptions.txt || status=$?
echo
echo "HTML report: $PWD/$build/html/index.html"
summary=""
for t in "${times[@]}"; do summary+="${summary:+, }$t"; done
echo "$SECONDS s in all: $summary"
exit "$status"
