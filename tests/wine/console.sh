#!/usr/bin/env bash
# NoxelAlsSvc.exe run from a console under Wine: the usage text and the dispatcher's
# failure for the service path, silence for other options, exit code 0 everywhere.
# Usage: console.sh NoxelAlsSvc.exe
source "$(dirname "$0")/lib.sh"
exe=$1

start_prefix
mkdir -p "$WINEPREFIX/drive_c/noxel"
cp "$exe" "$WINEPREFIX/drive_c/noxel/NoxelAlsSvc.exe"
program='C:\noxel\NoxelAlsSvc.exe'

usage='Parameters:
 -install  to install the service.
 -remove   to remove the service.
Service failed to run w/err 0x00000427
'

# run NAME ARGUMENT...: the program's standard output into $work/NAME.out, its exit
# code into $work/NAME.code.
run() {
  local name=$1
  shift
  set +e
  wine "$program" "$@" >"$work/$name.out" 2>"$work/$name.err"
  echo $? >"$work/$name.code"
  set -e
}

# check NAME EXPECTED-OUTPUT
check() {
  expect_equal "$1: output" "$2" "$(cat "$work/$1.out"; printf x)"
  expect_equal "$1: exit code" 0 "$(cat "$work/$1.code")"
}

step "the service path from a console"
# Wine gives up connecting a dispatcher that no service manager started only after the
# control pipe's wait (about 10 s), so these three run side by side.
run no-arguments &
run install-without-dash install &
run empty-argument "" &
wait
for name in no-arguments install-without-dash empty-argument; do
  check "$name" "${usage}x"
done

step "options that are not commands end the process silently"
run installer -installer
run double-dash --install
run lone-dash -
run slash-help /help
run installer-with-more -installer -install
for name in installer double-dash lone-dash slash-help installer-with-more; do
  check "$name" "x"
done
