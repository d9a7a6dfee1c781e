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

# The stubs' decoder. Debian's libzstd.a brings the decoders of the legacy
# formats and the fast paths' unrolled code, about 235 KB of a stub; built
# from Zstandard's own source (Debian's source package: apt-get source
# libzstd, which tests/dependencies unpacks into /usr/src), the decoder alone
# with the options below adds about 48 KB. The stub sub-builds compile it
# with the stub's compiler and C library, so the aarch64 stub needs no
# libzstd-dev:arm64 either. Without the source they link libzstd.a.
set(ZOLT_ZSTD_SOURCE "" CACHE PATH
    "Zstandard's source tree, from which the stubs build their decoder (empty: the newest /usr/src/libzstd-*)")
# zolt_newest_source(VAR PACKAGE FILE): VAR to the newest
# /usr/src/PACKAGE-VERSION that holds FILE (tests/dependencies unpacks
# Debian's source packages there), or left as it is when none does.
function(zolt_newest_source var package file)
  file(GLOB dirs LIST_DIRECTORIES true /usr/src/${package}-*)
  list(SORT dirs COMPARE NATURAL ORDER DESCENDING)
  foreach(dir IN LISTS dirs)
    if(EXISTS "${dir}/${file}")
      set(${var} "${dir}" PARENT_SCOPE)
      return()
    endif()
  endforeach()
endfunction()

if(NOT ZOLT_ZSTD_SOURCE)
  zolt_newest_source(ZOLT_ZSTD_SOURCE libzstd lib/decompress/zstd_decompress.c)
endif()

# The C compiler beside a stub's C++ compiler: g++ -> gcc, c++ -> cc.
function(_zolt_c_compiler_for var cxx)
  set(c "")
  if(cxx MATCHES "^(.*)clang\\+\\+(-[0-9]+)?$")
    set(c "${CMAKE_MATCH_1}clang${CMAKE_MATCH_2}")
  elseif(cxx MATCHES "^(.*)g\\+\\+(-[0-9]+)?$")
    set(c "${CMAKE_MATCH_1}gcc${CMAKE_MATCH_2}")
  elseif(cxx MATCHES "^(.*)c\\+\\+$")
    set(c "${CMAKE_MATCH_1}cc")
  endif()
  if(c AND NOT EXISTS "${c}")
    set(c "")
  endif()
  set(${var} "${c}" PARENT_SCOPE)
endfunction()

if(ZOLT_STUB_ONLY AND ZOLT_ZSTD_SOURCE AND CMAKE_C_COMPILER)
  enable_language(C)
  set(_zolt_zstd_lib "${ZOLT_ZSTD_SOURCE}/lib")
  add_library(zolt_zstd_decoder STATIC EXCLUDE_FROM_ALL
    ${_zolt_zstd_lib}/common/entropy_common.c
    ${_zolt_zstd_lib}/common/error_private.c
    ${_zolt_zstd_lib}/common/fse_decompress.c
    ${_zolt_zstd_lib}/common/xxhash.c
    ${_zolt_zstd_lib}/common/zstd_common.c
    ${_zolt_zstd_lib}/decompress/huf_decompress.c
    ${_zolt_zstd_lib}/decompress/zstd_ddict.c
    ${_zolt_zstd_lib}/decompress/zstd_decompress.c
    ${_zolt_zstd_lib}/decompress/zstd_decompress_block.c)
  # Only the current format; one Huffman and one sequence decoder instead of
  # two each; no assembly, so that every architecture builds the same code.
  target_compile_definitions(zolt_zstd_decoder PRIVATE ZSTD_LEGACY_SUPPORT=0 HUF_FORCE_DECOMPRESS_X1
    ZSTD_FORCE_DECOMPRESS_SEQUENCES_SHORT ZSTD_NO_INLINE ZSTD_STRIP_ERROR_STRINGS ZSTD_DISABLE_ASM
    XXH_NAMESPACE=ZSTD_)
  # Its code, not ours: its warnings are not ours to fix.
  target_compile_options(zolt_zstd_decoder PRIVATE -Os -w)
  # The sequence decoder, where decoding spends its time, for speed: --check
  # of /usr/include's installer took 35% less processor time for 16 KB more
  # stub. Also building the Huffman and FSE decoders so saved only 3% more,
  # for another 16 KB.
  set_source_files_properties(${_zolt_zstd_lib}/decompress/zstd_decompress_block.c PROPERTIES
    COMPILE_OPTIONS "-O2;-UZSTD_NO_INLINE")
  target_link_libraries(zolt_zstd_decoder PRIVATE zolt_build_options)
  set(ZOLT_ZSTD_LIBRARY zolt_zstd_decoder)
  set(ZOLT_ZSTD_INCLUDE "${_zolt_zstd_lib}")
  set(ZOLT_ZSTD ON)
endif()

# The engine's Zstandard side (engine/CMakeLists.txt) for the programs that
# offer both methods: zolt-pack and the tests.
if(ZOLT_ZSTD)
  set(ZOLT_ZSTD_READING zolt_zstd_decoding)
else()
  set(ZOLT_ZSTD_READING zolt_zstd_absent)
endif()
