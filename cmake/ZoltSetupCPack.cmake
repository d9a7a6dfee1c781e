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
# CPACK_ZOLT_ARCH (the stub's architecture, x86_64 or aarch64: find_package
# sets it to the target's processor; a project may set it after) or
# CPACK_ZOLT_STUB (another bare installer), and optionally
# CPACK_ZOLT_PLATFORM (default: from the stub), CPACK_ZOLT_DELETE (a list of names for
# deletion entries), CPACK_ZOLT_METHOD (zstd or lh5, zolt-pack's --method;
# unset, the smaller installer of the two),
# CPACK_ZOLT_LEVEL (the Zstandard level), CPACK_ZOLT_STORE (store uncompressed),
# CPACK_ZOLT_REMOVE_OBSOLETE (the package is the whole product: an upgrade
# removes the unchanged files of earlier versions that it no longer installs),
# CPACK_ZOLT_EXCLUDE (a list of shell patterns of paths to leave out),
# CPACK_ZOLT_DEREFERENCE (links to files packed as copies of their targets),
# CPACK_ZOLT_ALLOW_OUTSIDE_LINKS (links that are absolute or lead out of the
# tree packed as they are, such as a virtual environment's bin/python3),
# CPACK_ZOLT_POST_INSTALL (an absolute path: the program the installer runs
# once the installation is complete), CPACK_ZOLT_STUB_TEXTS (ship the stub's
# sample licence, notes or directory where none of the project's is given),
# CPACK_ZOLT_CONFIG (a list of patterns for zolt-pack's --config: configuration
# files, whose users' changed copies an upgrade keeps),
# CPACK_ZOLT_SIGN_KEY (a secret key without passphrase that signs the
# installer; its .minisig is packaged beside it) and
# CPACK_ZOLT_PACK_COMMAND (find_package sets it to the imported zolt-pack).
# The tree packed is the staging directory with CPACK_PACKAGING_INSTALL_PREFIX
# below it, so the installer's directory takes the place of that prefix.
#
# The installer's own texts come from CPack's variables where CPack has one
# (CPack gives the RESOURCE_FILE ones its generic texts when the project does
# not, as it does for every generator):
#   licence agreement      CPACK_RESOURCE_FILE_LICENSE
#   welcome page title     CPACK_ZOLT_TITLE, else
#                          "${CPACK_PACKAGE_VENDOR} Software Installation"
#   line under the title   CPACK_ZOLT_THANKS, else the text of
#                          CPACK_RESOURCE_FILE_WELCOME
#   default directory      CPACK_ZOLT_DEFAULT_DIRECTORY, else
#                          CPACK_PACKAGING_INSTALL_PREFIX when the project sets
#                          it, else /usr/local/ and CPACK_PACKAGE_INSTALL_DIRECTORY
#                          with its blanks as '-' (by default "NAME-VERSION")
#   notes after install    CPACK_RESOURCE_FILE_README

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
if(CPACK_ZOLT_STUB)
  list(APPEND _zolt_command "--stub=${CPACK_ZOLT_STUB}")
elseif(CPACK_ZOLT_ARCH)
  list(APPEND _zolt_command "--arch=${CPACK_ZOLT_ARCH}")
endif()
if(DEFINED CPACK_ZOLT_PLATFORM)
  list(APPEND _zolt_command --platform "${CPACK_ZOLT_PLATFORM}")
endif()
if(CPACK_ZOLT_METHOD)
  list(APPEND _zolt_command "--method=${CPACK_ZOLT_METHOD}")
endif()
if(CPACK_ZOLT_LEVEL)
  list(APPEND _zolt_command "--level=${CPACK_ZOLT_LEVEL}")
endif()
include("${CMAKE_CURRENT_LIST_DIR}/ZoltSetupInstaller.cmake")
_zolt_create_switches(_zolt_switches CPACK_ZOLT_)
list(APPEND _zolt_command ${_zolt_switches})
if(CPACK_ZOLT_POST_INSTALL)
  list(APPEND _zolt_command "--post-install=${CPACK_ZOLT_POST_INSTALL}")
endif()
if(CPACK_ZOLT_SIGN_KEY)
  list(APPEND _zolt_command "--sign=${CPACK_ZOLT_SIGN_KEY}")
endif()

if(DEFINED CPACK_RESOURCE_FILE_LICENSE)
  list(APPEND _zolt_command "--licence=${CPACK_RESOURCE_FILE_LICENSE}")
endif()
# Texts may hold semicolons, which would split them into two arguments.
foreach(_zolt_text CPACK_ZOLT_TITLE CPACK_PACKAGE_VENDOR CPACK_ZOLT_THANKS CPACK_ZOLT_DEFAULT_DIRECTORY)
  if(DEFINED ${_zolt_text})
    string(REPLACE ";" "\\;" ${_zolt_text} "${${_zolt_text}}")
  endif()
endforeach()
if(DEFINED CPACK_ZOLT_TITLE)
  list(APPEND _zolt_command "--title=${CPACK_ZOLT_TITLE}")
elseif(NOT "${CPACK_PACKAGE_VENDOR}" STREQUAL "")
  list(APPEND _zolt_command "--title=${CPACK_PACKAGE_VENDOR} Software Installation")
endif()
if(DEFINED CPACK_ZOLT_THANKS)
  list(APPEND _zolt_command "--thanks=${CPACK_ZOLT_THANKS}")
elseif(DEFINED CPACK_RESOURCE_FILE_WELCOME)
  file(READ "${CPACK_RESOURCE_FILE_WELCOME}" _zolt_welcome)
  string(REGEX REPLACE "[\r\n]+$" "" _zolt_welcome "${_zolt_welcome}")
  string(REPLACE ";" "\\;" _zolt_welcome "${_zolt_welcome}")
  list(APPEND _zolt_command "--thanks=${_zolt_welcome}")
endif()
if(DEFINED CPACK_ZOLT_DEFAULT_DIRECTORY)
  set(_zolt_directory "${CPACK_ZOLT_DEFAULT_DIRECTORY}")
elseif(NOT "${CPACK_PACKAGING_INSTALL_PREFIX}" STREQUAL "" AND NOT CPACK_PACKAGING_INSTALL_PREFIX STREQUAL "/")
  set(_zolt_directory "${CPACK_PACKAGING_INSTALL_PREFIX}")
elseif(NOT "${CPACK_PACKAGE_INSTALL_DIRECTORY}" STREQUAL "")
  string(REGEX REPLACE "[ \t]" "-" _zolt_directory "/usr/local/${CPACK_PACKAGE_INSTALL_DIRECTORY}")
endif()
if(DEFINED _zolt_directory)
  list(APPEND _zolt_command "--default-dir=${_zolt_directory}")
endif()
if(DEFINED CPACK_RESOURCE_FILE_README)
  list(APPEND _zolt_command "--notes=${CPACK_RESOURCE_FILE_README}")
endif()
list(APPEND _zolt_command -- "${_zolt_tree}")

execute_process(COMMAND ${_zolt_command} RESULT_VARIABLE _zolt_result)
if(NOT _zolt_result EQUAL 0)
  message(FATAL_ERROR "zolt-pack failed (${_zolt_result}) on ${_zolt_tree}")
endif()
# CPack copies these to the package directory.
set(CPACK_EXTERNAL_BUILT_PACKAGES "${_zolt_output}" "${_zolt_output}.sha256")
if(CPACK_ZOLT_SIGN_KEY)
  list(APPEND CPACK_EXTERNAL_BUILT_PACKAGES "${_zolt_output}.minisig")
endif()
