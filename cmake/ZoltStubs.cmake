# Which installer stubs the build makes, and with which C library. The stub
# that ships is linked statically against musl where musl is installed
# (Debian: musl-tools; about 100 KB, MIT licence), else against glibc
# (about 850 KB, LGPL). One for aarch64 is cross-built whenever
# aarch64-linux-gnu-g++ is there. Each stub comes from a sub-build of this
# source tree (installer/CMakeLists.txt) that compiles only what it links,
# with the toolchain file of its architecture and C library
# (cmake/toolchains).
#
# Sets ZOLT_NATIVE_ARCH, ZOLT_STUB_ARCHES (the architectures built),
# ZOLT_STUB_<arch>_LIBC (musl or glibc), ZOLT_STUB_<arch>_COMPILER,
# ZOLT_STUB_<arch>_TOOLCHAIN (empty for the stub that this build makes
# itself, a native glibc one) and ZOLT_STUB_<arch>_PATH. The native stub is always build/bin/zolt-setup; the
# others are build/lib/zolt-setup/<arch>/zolt-setup, where zolt-pack looks
# for them, as in an installed prefix.
option(ZOLT_MUSL "Link zolt-setup statically against musl where it is installed" ON)
option(ZOLT_STUB_AARCH64 "Cross-build an aarch64 zolt-setup when aarch64-linux-gnu-g++ is found" ON)

function(_zolt_arch_name var processor)
  string(TOLOWER "${processor}" p)
  if(p STREQUAL "amd64")
    set(p x86_64)
  elseif(p STREQUAL "arm64")
    set(p aarch64)
  endif()
  set(${var} "${p}" PARENT_SCOPE)
endfunction()

# musl of Debian's layout (musl-dev, also multiarch: musl-dev:arm64).
function(_zolt_musl_for arch var_include var_lib)
  set(include "/usr/include/${arch}-linux-musl")
  set(lib "/usr/lib/${arch}-linux-musl")
  if(EXISTS "${lib}/libc.a" AND EXISTS "${lib}/crt1.o" AND EXISTS "${include}/stdio.h")
    set(${var_include} "${include}" PARENT_SCOPE)
    set(${var_lib} "${lib}" PARENT_SCOPE)
  else()
    set(${var_include} "" PARENT_SCOPE)
    set(${var_lib} "" PARENT_SCOPE)
  endif()
endfunction()

_zolt_arch_name(ZOLT_NATIVE_ARCH "${CMAKE_SYSTEM_PROCESSOR}")
set(ZOLT_STUB_ARCHES ${ZOLT_NATIVE_ARCH})
set(ZOLT_STUB_${ZOLT_NATIVE_ARCH}_COMPILER "${CMAKE_CXX_COMPILER}")
set(ZOLT_STUB_${ZOLT_NATIVE_ARCH}_PATH "${CMAKE_BINARY_DIR}/bin/zolt-setup")
set(ZOLT_STUB_${ZOLT_NATIVE_ARCH}_LIBC glibc)
# The sanitized build runs the installer's own code under the sanitizers,
# which need the dynamic glibc; musl's headers meet only GCC's libstdc++.
if(ZOLT_MUSL AND NOT ZOLT_SANITIZE AND CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  _zolt_musl_for(${ZOLT_NATIVE_ARCH} ZOLT_STUB_${ZOLT_NATIVE_ARCH}_MUSL_INCLUDE ZOLT_STUB_${ZOLT_NATIVE_ARCH}_MUSL_LIB)
  if(ZOLT_STUB_${ZOLT_NATIVE_ARCH}_MUSL_LIB)
    set(ZOLT_STUB_${ZOLT_NATIVE_ARCH}_LIBC musl)
  endif()
endif()

if(ZOLT_STUB_AARCH64 AND NOT ZOLT_SANITIZE AND NOT ZOLT_NATIVE_ARCH STREQUAL "aarch64")
  find_program(ZOLT_AARCH64_CXX aarch64-linux-gnu-g++)
  if(ZOLT_AARCH64_CXX)
    list(APPEND ZOLT_STUB_ARCHES aarch64)
    set(ZOLT_STUB_aarch64_COMPILER "${ZOLT_AARCH64_CXX}")
    set(ZOLT_STUB_aarch64_PATH "${CMAKE_BINARY_DIR}/lib/zolt-setup/aarch64/zolt-setup")
    set(ZOLT_STUB_aarch64_LIBC glibc)
    if(ZOLT_MUSL)
      _zolt_musl_for(aarch64 ZOLT_STUB_aarch64_MUSL_INCLUDE ZOLT_STUB_aarch64_MUSL_LIB)
      if(ZOLT_STUB_aarch64_MUSL_LIB)
        set(ZOLT_STUB_aarch64_LIBC musl)
      endif()
    endif()
  endif()
endif()

# A musl stub for a processor without a toolchain file of its own takes the
# shared one, told the architecture by ZOLT_MUSL_ARCH.
foreach(arch IN LISTS ZOLT_STUB_ARCHES)
  set(ZOLT_STUB_${arch}_TOOLCHAIN "")
  if(NOT arch STREQUAL ZOLT_NATIVE_ARCH OR NOT ZOLT_STUB_${arch}_LIBC STREQUAL "glibc")
    string(REPLACE glibc gnu _zolt_libc "${ZOLT_STUB_${arch}_LIBC}")
    set(ZOLT_STUB_${arch}_TOOLCHAIN "${PROJECT_SOURCE_DIR}/cmake/toolchains/${arch}-linux-${_zolt_libc}.cmake")
    if(NOT EXISTS "${ZOLT_STUB_${arch}_TOOLCHAIN}" AND _zolt_libc STREQUAL "musl")
      set(ZOLT_STUB_${arch}_TOOLCHAIN "${PROJECT_SOURCE_DIR}/cmake/toolchains/linux-musl-gcc.cmake")
    endif()
  endif()
endforeach()
unset(_zolt_libc)

set(_zolt_notice "")
foreach(arch IN LISTS ZOLT_STUB_ARCHES)
  list(APPEND _zolt_notice "${arch} static ${ZOLT_STUB_${arch}_LIBC}")
endforeach()
list(JOIN _zolt_notice ", " _zolt_notice)
if(ZOLT_SANITIZE)
  set(_zolt_notice "${ZOLT_NATIVE_ARCH} dynamic glibc with the sanitizers, for the tests only")
elseif(NOT CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  string(APPEND _zolt_notice " (a musl stub needs g++)")
elseif(ZOLT_MUSL AND NOT ZOLT_STUB_${ZOLT_NATIVE_ARCH}_LIBC STREQUAL "musl")
  string(APPEND _zolt_notice " (install musl-tools for a stub of about 100 KB)")
endif()
message(STATUS "zolt-setup stub: ${_zolt_notice}")
unset(_zolt_notice)
