#!/usr/bin/env bash
# NoxelAlsSvc.exe run from a console under Wine: the usage text and the dispatcher's
# failure for the service path, silence for other options, exit code 0 everywhere (a
# nonzero one shows in the text compared).
# Usage: console.sh NoxelAlsSvc.exe
source "$(dirname "$0")/lib.sh"
exe=$1

start_prefix
put_program "$exe" noxel
usage='Parameters:
 -install  to install the service.
 -remove   to remove the service.
Service failed to run w/err 0x00000427
x'

step "the service path from a console"
# Wine gives up connecting a dispatcher that no service manager started only after the
# control pipe's wait (about 10 s), so these three run side by side.
console >"$work/no-arguments.out" &
console install >"$work/install-without-dash.out" &
console "" >"$work/empty-argument.out" &
wait
for run in no-arguments install-without-dash empty-argument; do
  expect_equal "$run: the usage" "$usage" "$(cat "$work/$run.out")"
done

step "options that are not commands end the process silently"
for options in -installer --install - /help "-installer -install"; do
  # shellcheck disable=SC2086 # "-installer -install" is two arguments
  expect_equal "$options: silence" x "$(console $options)"
done
