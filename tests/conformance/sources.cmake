# The conformance program's shared sources, for the host build (tests/conformance) and
# the Windows builds (tests/wine); each adds its machine_*.cpp.
set(conformanceSources conformance.cpp registry.cpp firmware.cpp services.cpp privileges.cpp)
list(TRANSFORM conformanceSources PREPEND "${CMAKE_CURRENT_LIST_DIR}/")
set(conformanceExpectations "${CMAKE_CURRENT_LIST_DIR}/expectations.txt")
