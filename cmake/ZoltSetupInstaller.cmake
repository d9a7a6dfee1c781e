# zolt_add_installer(): a build target that packs a directory tree into a
# zolt-setup installer with zolt-pack.
#
#   zolt_add_installer(
#     TARGET <name>              the target that builds the installer
#     DIRECTORY <dir>            the tree to pack (relative: to the current source dir)
#     PRODUCT <name>             product name, at most 63 bytes
#     VERSION <text>             version text, at most 63 bytes
#     [OUTPUT <file>]            default: <binary dir>/<product>-<version>-<platform>.run
#     [ARCH x86_64|aarch64]      the stub of that architecture installed with
#                                zolt-pack (default: the target's processor,
#                                CMAKE_SYSTEM_PROCESSOR, so a toolchain file
#                                for aarch64 gives an aarch64 installer)
#     [STUB <file>]              another bare installer instead (not with ARCH)
#     [PLATFORM <text>]          default: from the stub's machine, "Linux x86_64"
#                                or "Linux aarch64"
#     [BUILD_TIME <seconds>]     default: SOURCE_DATE_EPOCH at build time, else now
#     [SPACE <bytes>]            default: file sizes rounded up to 4096
#     [METHOD zstd|lh5]          zstd: Zstandard in solid runs; lh5: -lh5- file
#                                by file, with the smaller stub (default, where
#                                zolt-pack was built with libzstd: both, and
#                                the smaller installer kept)
#     [LEVEL <n>]                Zstandard level, 1 to 22 (default 19)
#     [STORE]                    store every file uncompressed
#     [DELETE <name>...]         deletion entries for files of earlier versions
#     [CONFIG <pattern>...]      configuration files (zolt-pack's --config): an
#                                upgrade keeps a user's changed copy and writes
#                                the new version beside it as NAME.zolt-new
#     [REMOVE_OBSOLETE]          the installer is the whole product: an upgrade
#                                removes the unchanged files of earlier versions
#                                that it no longer installs (without it they stay,
#                                as an add-on or a patch needs)
#     [EXCLUDE <pattern>...]     leave out what the shell patterns match, as
#                                tar's --exclude does
#     [DEREFERENCE]              pack links to files as copies of their targets
#     [ALLOW_OUTSIDE_LINKS]      pack links whose target is absolute or leads
#                                out of DIRECTORY (refused otherwise)
#     [POST_INSTALL <file>]      a program the installer runs once the
#                                installation is complete
#     [SIGN <file>]              sign the installer with this secret key (zolt-pack
#                                keygen -W, or minisign -G -W: a build asks no
#                                passphrase); FILE.minisig is written beside it
#     [JOBS <n>]                 compression threads (default: online processors)
#     [LICENSE <file>]           the licence agreement the installer shows
#     [DEFAULT_DIRECTORY <dir>]  the installation directory it offers
#     [TITLE <text>]             the welcome page's title line
#     [THANKS <text>]            the welcome page's line under the title
#     [NOTES <file>]             the notes shown once the files are installed
#     [STUB_TEXTS]               for another product than the stub's sample
#                                QUMBA: ship the stub's licence, notes and
#                                directory where the three above give none
#     [DEPENDS <target|file>...] what produces the tree, if the build does
#     [EXCLUDE_FROM_ALL])        do not build it with the default target
#
# LICENSE, DEFAULT_DIRECTORY, TITLE, THANKS and NOTES are zolt-pack's
# --licence, --default-dir, --title, --thanks and --notes; without one the
# installer shows the stub's own text there, and zolt-pack refuses to build it
# when that is the sample's licence, notes or directory and STUB_TEXTS is not
# given. The installer is rebuilt when zolt-pack, a DEPENDS item, the LICENSE,
# NOTES or POST_INSTALL file, or a file found in
# DIRECTORY at configure time changes; files added later are seen at the next
# build because the listing is re-checked (CONFIGURE_DEPENDS). The output is
# reproducible: with SOURCE_DATE_EPOCH set, two builds of one tree give the
# same bytes. FILE.sha256 is written beside the installer, and with SIGN
# FILE.minisig.
include_guard(GLOBAL)

# "x86_64" or "aarch64" for a processor name as toolchains spell it.
function(zolt_arch_of_processor var processor)
  string(TOLOWER "${processor}" p)
  if(p STREQUAL "amd64" OR p STREQUAL "x64")
    set(p x86_64)
  elseif(p STREQUAL "arm64")
    set(p aarch64)
  endif()
  set(${var} "${p}" PARENT_SCOPE)
endfunction()

# The architecture of a stub from its ELF header, empty when the file is not
# there (yet) or is neither.
function(_zolt_stub_arch var stub)
  set(arch "")
  if(EXISTS "${stub}" AND NOT IS_DIRECTORY "${stub}")
    file(READ "${stub}" machine OFFSET 18 LIMIT 2 HEX)
    if(machine STREQUAL "3e00")
      set(arch x86_64)
    elseif(machine STREQUAL "b700")
      set(arch aarch64)
    endif()
  endif()
  set(${var} "${arch}" PARENT_SCOPE)
endfunction()

# The options of zolt-pack create that zolt_add_installer and the CPack script
# both pass on as they are: <prefix>NAME set true gives --name, and each item
# of <prefix>EXCLUDE, <prefix>DELETE and <prefix>CONFIG one --exclude,
# --delete or --config.
function(_zolt_create_switches var prefix)
  set(args "")
  foreach(name STORE REMOVE_OBSOLETE DEREFERENCE ALLOW_OUTSIDE_LINKS STUB_TEXTS)
    if(${prefix}${name})
      string(TOLOWER "${name}" flag)
      string(REPLACE "_" "-" flag "${flag}")
      list(APPEND args "--${flag}")
    endif()
  endforeach()
  foreach(list_option EXCLUDE DELETE CONFIG)
    string(TOLOWER "${list_option}" flag)
    foreach(item IN LISTS ${prefix}${list_option})
      list(APPEND args "--${flag}=${item}")
    endforeach()
  endforeach()
  set(${var} "${args}" PARENT_SCOPE)
endfunction()

function(zolt_add_installer)
  cmake_parse_arguments(PARSE_ARGV 0 ZI "STORE;REMOVE_OBSOLETE;EXCLUDE_FROM_ALL;DEREFERENCE;ALLOW_OUTSIDE_LINKS;STUB_TEXTS"
    "TARGET;DIRECTORY;PRODUCT;VERSION;OUTPUT;ARCH;PLATFORM;STUB;BUILD_TIME;SPACE;JOBS;METHOD;LEVEL;LICENSE;DEFAULT_DIRECTORY;TITLE;THANKS;NOTES;POST_INSTALL;SIGN"
    "DELETE;DEPENDS;EXCLUDE;CONFIG")
  if(ZI_UNPARSED_ARGUMENTS)
    message(FATAL_ERROR "zolt_add_installer: unknown arguments: ${ZI_UNPARSED_ARGUMENTS}")
  endif()
  foreach(required TARGET DIRECTORY PRODUCT VERSION)
    if(NOT DEFINED ZI_${required} OR "${ZI_${required}}" STREQUAL "")
      message(FATAL_ERROR "zolt_add_installer: ${required} is required")
    endif()
  endforeach()
  if(NOT TARGET ZoltSetup::zolt-pack)
    message(FATAL_ERROR "zolt_add_installer: ZoltSetup::zolt-pack is missing; use find_package(ZoltSetup)")
  endif()

  get_filename_component(directory "${ZI_DIRECTORY}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_SOURCE_DIR}")
  # The platform text names the stub actually used: zolt-pack reads it from
  # the stub, and the default file name follows it.
  set(stub_option "")
  if(DEFINED ZI_STUB)
    if(DEFINED ZI_ARCH)
      message(FATAL_ERROR "zolt_add_installer: give ARCH or STUB, not both")
    endif()
    get_filename_component(ZI_STUB "${ZI_STUB}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_SOURCE_DIR}")
    _zolt_stub_arch(arch "${ZI_STUB}")
    if(arch STREQUAL "")
      # A stub that the build makes later: the target's processor.
      zolt_arch_of_processor(arch "${CMAKE_SYSTEM_PROCESSOR}")
    endif()
    set(stub_option "--stub=${ZI_STUB}")
  else()
    set(arch "${ZI_ARCH}")
    if(NOT DEFINED ZI_ARCH)
      zolt_arch_of_processor(arch "${CMAKE_SYSTEM_PROCESSOR}")
    endif()
    if(NOT arch MATCHES "^(x86_64|aarch64)$")
      message(FATAL_ERROR "zolt_add_installer: no stub for the processor '${arch}'; stubs are made for x86_64 and aarch64 (set ARCH)")
    endif()
    if(DEFINED ZoltSetup_STUB_DIR AND NOT EXISTS "${ZoltSetup_STUB_DIR}/${arch}/zolt-setup")
      message(FATAL_ERROR "zolt_add_installer: ZoltSetup was installed without a stub for ${arch} "
        "(${ZoltSetup_STUB_DIR}/${arch}/zolt-setup); build it where that architecture's cross compiler is installed")
    endif()
    set(stub_option "--arch=${arch}")
  endif()
  set(platform "Linux ${arch}")
  if(DEFINED ZI_PLATFORM)
    set(platform "${ZI_PLATFORM}")
  endif()
  if(NOT DEFINED ZI_OUTPUT)
    # The name zolt-pack gives by default: lower case, blanks and '/' as '-'.
    string(TOLOWER "${ZI_PRODUCT}-${ZI_VERSION}-${platform}.run" name)
    string(REGEX REPLACE "[ \t/]" "-" name "${name}")
    set(ZI_OUTPUT "${CMAKE_CURRENT_BINARY_DIR}/${name}")
  endif()
  get_filename_component(output "${ZI_OUTPUT}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_BINARY_DIR}")
  get_filename_component(output_dir "${output}" DIRECTORY)

  set(command create -q -o "${output}" --product "${ZI_PRODUCT}" --version "${ZI_VERSION}" ${stub_option})
  if(DEFINED ZI_PLATFORM)
    list(APPEND command "--platform=${ZI_PLATFORM}")
  endif()
  if(DEFINED ZI_METHOD AND NOT ZI_METHOD MATCHES "^(zstd|lh5)$")
    message(FATAL_ERROR "zolt_add_installer: METHOD is zstd or lh5, not '${ZI_METHOD}'")
  endif()
  foreach(option BUILD_TIME SPACE JOBS METHOD LEVEL)
    if(DEFINED ZI_${option})
      string(TOLOWER "${option}" flag)
      string(REPLACE "_" "-" flag "${flag}")
      list(APPEND command "--${flag}=${ZI_${option}}")
    endif()
  endforeach()
  _zolt_create_switches(switches ZI_)
  list(APPEND command ${switches})
  set(outputs "${output}" "${output}.sha256")
  if(DEFINED ZI_SIGN)
    get_filename_component(ZI_SIGN "${ZI_SIGN}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_SOURCE_DIR}")
    list(APPEND command "--sign=${ZI_SIGN}")
    list(APPEND outputs "${output}.minisig")
  endif()
  set(text_files "")
  if(DEFINED ZI_POST_INSTALL)
    get_filename_component(post_install "${ZI_POST_INSTALL}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_SOURCE_DIR}")
    list(APPEND text_files "${post_install}")
    list(APPEND command "--post-install=${post_install}")
  endif()
  foreach(option_flag LICENSE:--licence NOTES:--notes DEFAULT_DIRECTORY:--default-dir TITLE:--title THANKS:--thanks)
    string(REPLACE ":" ";" option_flag "${option_flag}")
    list(GET option_flag 0 option)
    list(GET option_flag 1 flag)
    if(DEFINED ZI_${option})
      set(value "${ZI_${option}}")
      if(option STREQUAL "LICENSE" OR option STREQUAL "NOTES")
        get_filename_component(value "${value}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_SOURCE_DIR}")
        list(APPEND text_files "${value}")
      endif()
      # A semicolon in a text would split it into two arguments.
      string(REPLACE ";" "\\;" value "${value}")
      list(APPEND command "${flag}=${value}")
    endif()
  endforeach()
  list(APPEND command -- "${directory}")

  set(tree_files "")
  if(IS_DIRECTORY "${directory}")
    file(GLOB_RECURSE tree_files CONFIGURE_DEPENDS LIST_DIRECTORIES false "${directory}/*")
  endif()

  add_custom_command(OUTPUT ${outputs}
    COMMAND ${CMAKE_COMMAND} -E make_directory "${output_dir}"
    COMMAND ZoltSetup::zolt-pack ${command}
    DEPENDS ZoltSetup::zolt-pack ${tree_files} ${text_files} ${ZI_SIGN} ${ZI_DEPENDS}
    COMMENT "Packing ${ZI_PRODUCT} ${ZI_VERSION} into ${output}"
    VERBATIM)
  set(all ALL)
  if(ZI_EXCLUDE_FROM_ALL)
    set(all "")
  endif()
  add_custom_target(${ZI_TARGET} ${all} DEPENDS ${outputs})
  set_target_properties(${ZI_TARGET} PROPERTIES ZOLT_INSTALLER "${output}")
endfunction()
