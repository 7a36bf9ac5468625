#!/usr/bin/env bash
# The shipped NoxelAlsSvc.exe as a service under Wine. Wine has no firmware variables,
# so every attempt fails and the worker keeps retrying every 10 s. What -install
# registers, and the console texts of a second -install and -remove, are the host tests'
# (tests/install_test.cpp); the registration through the package is msi.sh's.
# Usage: service.sh NoxelAlsSvc.exe
source "$(dirname "$0")/lib.sh"

start_prefix
put_program "$1" 'Program Files\Noxel ALS'

step "-install from a directory whose path holds a space"
install_service
expect_state "the service runs" RUNNING

step "-remove"
remove_within 12 "-remove stops the service within the 10 s Wine gives a control handler"
expect_events "Noxel ALS Service in OnStart" "Noxel ALS Service in OnStop"
