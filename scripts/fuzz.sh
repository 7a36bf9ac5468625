#!/usr/bin/env bash
# Builds the fuzz preset and runs each libFuzzer target for SECONDS (default 20) from
# a copy of its seed corpus in tests/fuzz/corpus, so that the repository is left as it
# is. Prints the executions and findings of each target and ends non-zero on any
# finding; the inputs that broke something are kept under build/fuzz/findings/.
#
#   bash scripts/fuzz.sh [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."

seconds="${1:-20}"
case "$seconds" in
  '' | *[!0-9]*) echo "usage: scripts/fuzz.sh [SECONDS]" >&2; exit 2 ;;
esac
targets=(firmware sensor_model)

bash scripts/install-dependencies.sh
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz

# The emulated machine makes a fresh file root per input: a memory file system keeps
# that from dominating the run.
scratch_parent=
[ -d /dev/shm ] && [ -w /dev/shm ] && scratch_parent=/dev/shm
work="$(mktemp -d ${scratch_parent:+-p "$scratch_parent"} noxel-fuzz.XXXXXX)"
trap 'rm -rf "$work"' EXIT
findings_dir=build/fuzz/findings
rm -rf "$findings_dir"

printf '%-18s %10s %8s %9s\n' target execs 'execs/s' findings
failed=0
for target in "${targets[@]}"; do
  corpus="$work/corpus-$target"
  artifacts="$work/findings-$target"
  cp -r "tests/fuzz/corpus/$target" "$corpus"
  mkdir -p "$artifacts" "$work/tmp-$target"
  options=(-max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1
           -artifact_prefix="$artifacts/")
  [ -f "tests/fuzz/$target.dict" ] && options+=(-dict="tests/fuzz/$target.dict")

  status=0
  TMPDIR="$work/tmp-$target" "build/fuzz/tests/fuzz/fuzz_$target" "${options[@]}" "$corpus" \
    >"$work/$target.log" 2>&1 || status=$?

  execs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/$target.log" | tail -n1)"
  rate="$(sed -n 's/^stat::average_exec_per_sec: *//p' "$work/$target.log" | tail -n1)"
  count="$(find "$artifacts" -type f | wc -l)"
  # A target that ends badly without leaving an input is a finding too.
  [ "$status" -ne 0 ] && [ "$count" -eq 0 ] && count=1
  printf '%-18s %10s %8s %9s\n' "fuzz_$target" "${execs:-?}" "${rate:-?}" "$count"
  if [ "$count" -ne 0 ]; then
    failed=1
    mkdir -p "$findings_dir/$target"
    cp "$artifacts"/* "$findings_dir/$target/" 2>/dev/null || true
    cp "$work/$target.log" "$findings_dir/$target/fuzzer.log"
    echo "---- fuzz_$target: what broke (full log in $findings_dir/$target/fuzzer.log)"
    grep -E 'invariant broken|ERROR: |SUMMARY: |runtime error|Test unit written' "$work/$target.log" | head -n 20
    echo "----"
  fi
done

if [ "$failed" -ne 0 ]; then
  echo "fuzzing found faults; replay one with: build/fuzz/tests/fuzz/fuzz_TARGET FILE" >&2
  exit 1
fi
echo "no findings in ${seconds} s per target"
