// gcov writes a coverage build's counts from an exit handler, which _exit and _Exit
// skip: a process of the emulated machine that ends that way writes them first, or
// the lines it alone reached would read as never run.
#pragma once

#ifdef NOXEL_COVERAGE
extern "C" void __gcov_dump();
#endif

namespace emu {

inline void WriteCoverageCounts() {
#ifdef NOXEL_COVERAGE
    __gcov_dump();
#endif
}

}  // namespace emu
