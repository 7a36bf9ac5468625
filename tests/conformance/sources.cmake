# The conformance program's shared sources, for the host build (tests/conformance) and
# the Windows builds (tests/wine); each adds its machine_*.cpp.
set(conformanceSources "")
foreach(source conformance.cpp registry.cpp firmware.cpp files.cpp devices.cpp
               services.cpp threads.cpp formatters.cpp scratch.cpp)
  list(APPEND conformanceSources "${CMAKE_CURRENT_LIST_DIR}/${source}")
endforeach()
set(conformanceExpectations "${CMAKE_CURRENT_LIST_DIR}/expectations.txt")
