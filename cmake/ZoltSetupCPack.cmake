# CPack External generator script: turns the staged install tree into a
# zolt-setup installer. Set in the project, before include(CPack):
#
#   find_package(ZoltSetup REQUIRED)
#   set(CPACK_GENERATOR External)
#   set(CPACK_EXTERNAL_ENABLE_STAGING ON)
#   set(CPACK_EXTERNAL_PACKAGE_SCRIPT "${ZoltSetup_CPACK_SCRIPT}")
#
# Read here: CPACK_PACKAGE_NAME and CPACK_PACKAGE_VERSION (product and
# version), CPACK_PACKAGE_FILE_NAME (the installer is that name + ".run"),
# and optionally CPACK_ZOLT_PLATFORM, CPACK_ZOLT_DELETE (a list of names for
# deletion entries), CPACK_ZOLT_STORE (store uncompressed) and
# CPACK_ZOLT_PACK_COMMAND (find_package sets it to the imported zolt-pack).
# The tree packed is the staging directory with CPACK_PACKAGING_INSTALL_PREFIX
# below it, so the installer's directory takes the place of that prefix.

if(NOT CPACK_ZOLT_PACK_COMMAND)
  get_filename_component(CPACK_ZOLT_PACK_COMMAND "${CMAKE_CURRENT_LIST_DIR}/../../../bin/zolt-pack" ABSOLUTE)
endif()

set(_zolt_tree "${CPACK_TEMPORARY_DIRECTORY}")
if(CPACK_PACKAGING_INSTALL_PREFIX AND IS_DIRECTORY "${CPACK_TEMPORARY_DIRECTORY}${CPACK_PACKAGING_INSTALL_PREFIX}")
  set(_zolt_tree "${CPACK_TEMPORARY_DIRECTORY}${CPACK_PACKAGING_INSTALL_PREFIX}")
endif()

# Beside the staging directory, not inside the tree being packed.
get_filename_component(_zolt_out_dir "${CPACK_TEMPORARY_DIRECTORY}" DIRECTORY)
set(_zolt_output "${_zolt_out_dir}/${CPACK_PACKAGE_FILE_NAME}.run")

set(_zolt_command "${CPACK_ZOLT_PACK_COMMAND}" create -q -o "${_zolt_output}"
  --product "${CPACK_PACKAGE_NAME}" --version "${CPACK_PACKAGE_VERSION}")
if(DEFINED CPACK_ZOLT_PLATFORM)
  list(APPEND _zolt_command --platform "${CPACK_ZOLT_PLATFORM}")
endif()
if(CPACK_ZOLT_STORE)
  list(APPEND _zolt_command --store)
endif()
foreach(_zolt_name IN LISTS CPACK_ZOLT_DELETE)
  list(APPEND _zolt_command "--delete=${_zolt_name}")
endforeach()
list(APPEND _zolt_command -- "${_zolt_tree}")

execute_process(COMMAND ${_zolt_command} RESULT_VARIABLE _zolt_result)
if(NOT _zolt_result EQUAL 0)
  message(FATAL_ERROR "zolt-pack failed (${_zolt_result}) on ${_zolt_tree}")
endif()
# CPack copies these to the package directory.
set(CPACK_EXTERNAL_BUILT_PACKAGES "${_zolt_output}" "${_zolt_output}.sha256")
