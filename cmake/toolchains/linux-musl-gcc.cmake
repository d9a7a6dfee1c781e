# Static Linux programs against musl instead of the compiler's own C library,
# with GCC: included by <arch>-linux-musl.cmake, which sets ZOLT_MUSL_ARCH, or
# used directly with -DZOLT_MUSL_ARCH=<arch>.
# The installer stub uses C stdio and POSIX only, so it needs from the C++
# side nothing but libstdc++'s headers (<cstdio> and the like wrap the C
# headers, which then come from musl) and from GCC only libgcc.
#
# musl is taken where Debian puts it (musl-dev; musl-dev:arm64 for aarch64)
# unless ZOLT_MUSL_INCLUDE and ZOLT_MUSL_LIB name its headers and the
# directory of its crt files and libc.a. CMAKE_CXX_COMPILER defaults to the
# architecture's GNU g++, CMAKE_C_COMPILER to the gcc beside it.
if(NOT ZOLT_MUSL_ARCH)
  message(FATAL_ERROR "musl: set ZOLT_MUSL_ARCH to the target's processor (x86_64, aarch64)")
endif()
set(_arch "${ZOLT_MUSL_ARCH}")
if(NOT CMAKE_HOST_SYSTEM_PROCESSOR STREQUAL _arch)
  set(CMAKE_SYSTEM_NAME Linux)
  set(CMAKE_SYSTEM_PROCESSOR ${_arch})
endif()
if(NOT ZOLT_MUSL_INCLUDE)
  set(ZOLT_MUSL_INCLUDE "/usr/include/${_arch}-linux-musl")
endif()
if(NOT ZOLT_MUSL_LIB)
  set(ZOLT_MUSL_LIB "/usr/lib/${_arch}-linux-musl")
endif()
if(NOT CMAKE_CXX_COMPILER)
  set(CMAKE_CXX_COMPILER ${_arch}-linux-gnu-g++)
endif()
if(NOT CMAKE_C_COMPILER AND CMAKE_CXX_COMPILER MATCHES "^(.*)g\\+\\+(-[0-9]+)?$")
  set(CMAKE_C_COMPILER "${CMAKE_MATCH_1}gcc${CMAKE_MATCH_2}")
endif()
# The checks that CMake compiles while configuring see the same paths.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES ZOLT_MUSL_ARCH ZOLT_MUSL_INCLUDE ZOLT_MUSL_LIB)
foreach(file libc.a crt1.o crti.o crtn.o)
  if(NOT EXISTS "${ZOLT_MUSL_LIB}/${file}")
    message(FATAL_ERROR "musl: ${ZOLT_MUSL_LIB}/${file} is missing")
  endif()
endforeach()

function(_zolt_gcc_file var name)
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${name}
    OUTPUT_VARIABLE path OUTPUT_STRIP_TRAILING_WHITESPACE)
  set(${var} "${path}" PARENT_SCOPE)
endfunction()
_zolt_gcc_file(_gcc_include include)
_zolt_gcc_file(_gcc_crtbegin crtbeginT.o)
_zolt_gcc_file(_gcc_crtend crtend.o)
_zolt_gcc_file(_gcc_libgcc libgcc.a)

# The compiler's own header search list, for libstdc++'s headers and the
# kernel's.
execute_process(COMMAND ${CMAKE_CXX_COMPILER} -x c++ -E -v /dev/null
  OUTPUT_QUIET ERROR_VARIABLE _search_text)
string(REGEX REPLACE ".*#include <...> search starts here:\n(.*)\nEnd of search list.*" "\\1" _search_text "${_search_text}")
string(REPLACE "\n" ";" _search_text "${_search_text}")
set(_compiler_dirs "")
foreach(dir IN LISTS _search_text)
  string(STRIP "${dir}" dir)
  cmake_path(SET dir NORMALIZE "${dir}")
  string(REGEX REPLACE "(.)/$" "\\1" dir "${dir}")
  list(APPEND _compiler_dirs "${dir}")
endforeach()

# libstdc++'s headers first, so that their #include_next finds musl's; C
# sources (the Zstandard decoder) see musl's alone.
set(_cxx_search "")
foreach(dir IN LISTS _compiler_dirs)
  if(dir MATCHES "/c\\+\\+/")
    string(APPEND _cxx_search " -isystem${dir}")
  endif()
endforeach()
set(_search "-isystem ${ZOLT_MUSL_INCLUDE} -isystem ${_gcc_include}")

# musl ships no kernel headers; the stub needs a few (<linux/openat2.h>).
# They come from the target's kernel headers, alone, through a directory
# that holds nothing else, so that no glibc header can slip in.
set(_kernel "${CMAKE_BINARY_DIR}/kernel-headers")
file(MAKE_DIRECTORY "${_kernel}")
foreach(sub linux asm asm-generic)
  foreach(dir IN LISTS _compiler_dirs)
    if(IS_DIRECTORY "${dir}/${sub}" AND NOT EXISTS "${_kernel}/${sub}")
      file(CREATE_LINK "${dir}/${sub}" "${_kernel}/${sub}" SYMBOLIC)
    endif()
  endforeach()
endforeach()
string(APPEND _search " -idirafter ${_kernel}")

# libstdc++ was configured for glibc: these two names are all it asks of it
# that musl spells otherwise.
set(_common "${_search} '-D__GLIBC_PREREQ(a,b)=0' -D__locale_t=locale_t -fno-asynchronous-unwind-tables")
set(CMAKE_C_FLAGS_INIT "-nostdinc ${_common}")
set(CMAKE_CXX_FLAGS_INIT "-nostdinc${_cxx_search} ${_common} -fno-exceptions -fno-rtti")

# One read-only segment for code and constants, and no RELRO: the pages that
# keep them apart are padding in the file, and a static musl program never
# makes its RELRO read-only anyway (only musl's dynamic linker does). The
# segments keep the architecture's largest page alignment in memory, so the
# program still loads on kernels with 64 KiB pages.
set(_layout "-Wl,-z,noseparate-code -Wl,-z,norelro")
foreach(lang C CXX)
  set(CMAKE_${lang}_LINK_EXECUTABLE
    "<CMAKE_${lang}_COMPILER> <FLAGS> <CMAKE_${lang}_LINK_FLAGS> <LINK_FLAGS> ${_layout} -static -nostdlib ${ZOLT_MUSL_LIB}/crt1.o ${ZOLT_MUSL_LIB}/crti.o ${_gcc_crtbegin} <OBJECTS> -o <TARGET> <LINK_LIBRARIES> -Wl,--start-group ${ZOLT_MUSL_LIB}/libc.a ${_gcc_libgcc} -Wl,--end-group ${_gcc_crtend} ${ZOLT_MUSL_LIB}/crtn.o")
endforeach()
# The checks compile only: a program linked this way would need the flags
# above, which CMake does not give them.
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)
