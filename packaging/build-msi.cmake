# Builds the MSI package with wixl: cmake -DVERSION=x.y.z -DEXECUTABLE=... -DACTIONS=...
#   -DOUTPUT=....msi -P packaging/build-msi.cmake
# The msi target of the Windows build runs it; the upgrade test builds a later version
# with it. wixl finds a package's files only relative to its working directory, so the
# files are staged next to each other first.
foreach(variable VERSION EXECUTABLE ACTIONS OUTPUT)
  if(NOT DEFINED ${variable})
    message(FATAL_ERROR "build-msi.cmake: ${variable} is not given")
  endif()
endforeach()
if(NOT VERSION MATCHES "^[0-9]+\\.[0-9]+\\.[0-9]+$")
  message(FATAL_ERROR "build-msi.cmake: VERSION ${VERSION} is not x.y.z")
endif()
find_program(WIXL wixl REQUIRED)

# One product code per version, always the same for that version: a rebuilt package of
# an installed version is that product, not a second one beside it.
set(upgradeCode "A503D9FF-13E2-4629-AAAE-B33F8894F397")
string(UUID productCode NAMESPACE "${upgradeCode}" NAME "NoxelAlsSvc ${VERSION}" TYPE SHA1 UPPER)

# The description that -install sets, from its one definition.
file(READ "${CMAKE_CURRENT_LIST_DIR}/../service/service_identity.h" identity)
if(NOT identity MATCHES "calibrationServiceDescription = TEXT\\(([^;]*)\\);")
  message(FATAL_ERROR "build-msi.cmake: no calibrationServiceDescription in service_identity.h")
endif()
string(REGEX MATCHALL "\"[^\"]*\"" pieces "${CMAKE_MATCH_1}")
string(REPLACE "\"" "" description "${pieces}")
string(REPLACE ";" "" description "${description}")

get_filename_component(output "${OUTPUT}" ABSOLUTE)
set(stage "${output}.files")
file(REMOVE_RECURSE "${stage}")
file(MAKE_DIRECTORY "${stage}")
file(COPY_FILE "${EXECUTABLE}" "${stage}/NoxelAlsSvc.exe")
file(COPY_FILE "${ACTIONS}" "${stage}/NoxelAlsInstallerActions.dll")

execute_process(
  COMMAND "${WIXL}" --arch x64 -D "Version=${VERSION}" -D "ProductCode=${productCode}"
          -D Executable=NoxelAlsSvc.exe -D Actions=NoxelAlsInstallerActions.dll -D "Description=${description}"
          -o "${output}" "${CMAKE_CURRENT_LIST_DIR}/NoxelAlsSvc.wxs"
  WORKING_DIRECTORY "${stage}"
  RESULT_VARIABLE result)
file(REMOVE_RECURSE "${stage}")
if(NOT result EQUAL 0)
  file(REMOVE "${output}")
  message(FATAL_ERROR "wixl failed (${result})")
endif()
# What a deployment tool's detection rule and uninstall command take.
get_filename_component(name "${output}" NAME)
message(STATUS "${name}: ProductCode {${productCode}}, UpgradeCode {${upgradeCode}}")
