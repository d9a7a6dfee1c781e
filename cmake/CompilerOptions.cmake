# What every target of the project is compiled and linked with, as the usage
# requirements of zolt_build_options: each library and program links it
# PRIVATE, so nothing here reaches a vendor's build or third-party code that
# does not ask for it.
add_library(zolt_build_options INTERFACE)
target_compile_options(zolt_build_options INTERFACE -Wall -Wextra $<$<BOOL:${ZOLT_WERROR}>:-Werror>)

if(ZOLT_SANITIZE)
  target_compile_options(zolt_build_options INTERFACE
    -fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
  target_link_options(zolt_build_options INTERFACE -fsanitize=address,undefined)
endif()

# Lets the linker drop what a program does not use: the installer links only
# the decoding half of the codec and the reading half of the archive.
target_compile_options(zolt_build_options INTERFACE -ffunction-sections -fdata-sections)
target_link_options(zolt_build_options INTERFACE -Wl,--gc-sections)

# GCC 12 reports std::string concatenations in optimised code as overlapping
# copies (a known false positive of -Wrestrict). Only code that builds many
# of them, zolt-pack's and the tests', links this.
add_library(zolt_no_restrict_warning INTERFACE)
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  target_compile_options(zolt_no_restrict_warning INTERFACE -Wno-restrict)
endif()
