# Cross-build for 64-bit Windows with Debian's MinGW-w64 (g++-mingw-w64-x86-64).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# -static keeps libstdc++ and libgcc out of the imports.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
# The shipped executable carries no symbols, nor the sections that nothing uses.
# GCC puts inline functions and templates in sections of their own already; with
# -ffunction-sections the executable grew, and with -fdata-sections the zero-filled
# buffers moved from .bss into .data, which takes room in the file.
set(CMAKE_EXE_LINKER_FLAGS_RELEASE_INIT "-s -Wl,--gc-sections")
# Optimised for size: the service waits on the service manager and a 10-second sleep,
# never on its own code. A cache entry, because CMake appends -O3 to the _INIT flags.
set(CMAKE_CXX_FLAGS_RELEASE "-Os -DNDEBUG" CACHE STRING "Compiler flags of the Release build")
