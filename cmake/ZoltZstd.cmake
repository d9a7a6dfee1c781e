# Zstandard, the second compression method, from Debian's libzstd-dev (and
# libzstd-dev:arm64 for the aarch64 stub). Linked statically everywhere: the
# stubs must be, and zolt-pack then needs no libzstd where it is installed.
#
# _zolt_zstd_for(ARCH VAR) sets VAR to the static library of that
# architecture, or empty. Sets ZOLT_ZSTD (ON when the native library and its
# header are there), ZOLT_ZSTD_LIBRARY and ZOLT_ZSTD_INCLUDE: a directory in
# the build tree holding only the library's two public headers, so that a
# musl build can see them without seeing glibc's headers beside them.
option(ZOLT_WITH_ZSTD "Offer the Zstandard method where libzstd-dev is installed" ON)

function(_zolt_zstd_for arch var)
  set(lib "/usr/lib/${arch}-linux-gnu/libzstd.a")
  if(EXISTS "${lib}")
    set(${var} "${lib}" PARENT_SCOPE)
  else()
    set(${var} "" PARENT_SCOPE)
  endif()
endfunction()

if(NOT DEFINED ZOLT_ZSTD_LIBRARY)
  set(ZOLT_ZSTD_LIBRARY "")
  find_path(ZOLT_ZSTD_HEADER_DIR zstd.h)
  if(ZOLT_WITH_ZSTD AND ZOLT_ZSTD_HEADER_DIR AND EXISTS "${ZOLT_ZSTD_HEADER_DIR}/zstd_errors.h")
    _zolt_zstd_for(${ZOLT_NATIVE_ARCH} ZOLT_ZSTD_LIBRARY)
  endif()
  if(ZOLT_ZSTD_LIBRARY)
    set(ZOLT_ZSTD_INCLUDE "${CMAKE_BINARY_DIR}/zstd-include")
    foreach(header zstd.h zstd_errors.h)
      configure_file("${ZOLT_ZSTD_HEADER_DIR}/${header}" "${ZOLT_ZSTD_INCLUDE}/${header}" COPYONLY)
    endforeach()
  endif()
endif()
if(ZOLT_ZSTD_LIBRARY)
  set(ZOLT_ZSTD ON)
else()
  set(ZOLT_ZSTD OFF)
endif()
