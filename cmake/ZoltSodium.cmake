# Signatures: libsodium (Debian: libsodium-dev) for zolt-pack, which makes
# keys and signs; the stubs only check, so they build just that part from
# libsodium's own source (Debian's source package, which tests/dependencies
# unpacks into /usr/src beside Zstandard's): Ed25519 verification, SHA-512
# under it, BLAKE2b and base64, about 26 KB of an x86-64 stub.
#
# Sets ZOLT_SIGNING (ON where the build can check signatures),
# ZOLT_SODIUM_LIBRARY (a library target or file) and ZOLT_SODIUM_HEADER_DIR,
# and ZOLT_SODIUM_SOURCE for the stub sub-builds. Included after
# cmake/ZoltZstd.cmake, whose zolt_newest_source it uses.
option(ZOLT_WITH_SODIUM "Sign and check installers where libsodium is installed" ON)

set(ZOLT_SODIUM_SOURCE "" CACHE PATH
    "libsodium's source tree, from which the stubs build their signature check (empty: the newest /usr/src/libsodium-*)")
if(NOT ZOLT_SODIUM_SOURCE AND ZOLT_WITH_SODIUM)
  zolt_newest_source(ZOLT_SODIUM_SOURCE libsodium src/libsodium/crypto_sign/ed25519/ref10/open.c)
endif()

set(ZOLT_SIGNING OFF)
if(ZOLT_STUB_ONLY)
  if(ZOLT_SODIUM_SOURCE AND CMAKE_C_COMPILER)
    enable_language(C)
    set(_zolt_sodium "${ZOLT_SODIUM_SOURCE}/src/libsodium")
    add_library(zolt_sodium_verify STATIC EXCLUDE_FROM_ALL
      ${_zolt_sodium}/crypto_sign/ed25519/ref10/open.c
      ${_zolt_sodium}/crypto_sign/ed25519/ref10/sign.c
      ${_zolt_sodium}/crypto_hash/sha512/cp/hash_sha512_cp.c
      ${_zolt_sodium}/crypto_core/ed25519/ref10/ed25519_ref10.c
      ${_zolt_sodium}/crypto_verify/sodium/verify.c
      ${_zolt_sodium}/crypto_generichash/blake2b/ref/generichash_blake2b.c
      ${_zolt_sodium}/crypto_generichash/blake2b/ref/blake2b-ref.c
      ${_zolt_sodium}/crypto_generichash/blake2b/ref/blake2b-compress-ref.c
      ${_zolt_sodium}/sodium/codecs.c
      ${_zolt_sodium}/sodium/utils.c
      ${_zolt_sodium}/sodium/core.c)
    # version.h is made by libsodium's configure, which the stub does not run.
    set(_zolt_sodium_generated "${CMAKE_BINARY_DIR}/sodium-include/sodium")
    file(STRINGS "${ZOLT_SODIUM_SOURCE}/configure.ac" _zolt_sodium_version REGEX "^AC_INIT" LIMIT_COUNT 1)
    string(REGEX MATCH "\\[([0-9.]+)\\]" _zolt_sodium_version "${_zolt_sodium_version}")
    set(VERSION "${CMAKE_MATCH_1}")
    set(SODIUM_LIBRARY_VERSION_MAJOR 10)
    set(SODIUM_LIBRARY_VERSION_MINOR 3)
    set(SODIUM_LIBRARY_MINIMAL_DEF "")
    configure_file("${_zolt_sodium}/include/sodium/version.h.in" "${_zolt_sodium_generated}/version.h" @ONLY)
    # The portable C code on every architecture, with 128-bit arithmetic
    # where the compiler has it (smaller code, as on 64-bit processors).
    target_compile_definitions(zolt_sodium_verify PRIVATE CONFIGURED=1 NDEBUG)
    if(CMAKE_SIZEOF_VOID_P EQUAL 8)
      target_compile_definitions(zolt_sodium_verify PRIVATE HAVE_TI_MODE)
    endif()
    if(CMAKE_C_BYTE_ORDER STREQUAL "BIG_ENDIAN")
      target_compile_definitions(zolt_sodium_verify PRIVATE NATIVE_BIG_ENDIAN)
    else()
      target_compile_definitions(zolt_sodium_verify PRIVATE NATIVE_LITTLE_ENDIAN)
    endif()
    target_include_directories(zolt_sodium_verify PRIVATE "${_zolt_sodium_generated}" "${_zolt_sodium}/include/sodium")
    target_include_directories(zolt_sodium_verify SYSTEM PUBLIC "${_zolt_sodium}/include" "${CMAKE_BINARY_DIR}/sodium-include")
    # Its code, not ours: its warnings are not ours to fix.
    target_compile_options(zolt_sodium_verify PRIVATE -Os -w)
    target_link_libraries(zolt_sodium_verify PRIVATE zolt_build_options)
    set(ZOLT_SODIUM_LIBRARY zolt_sodium_verify)
    set(ZOLT_SIGNING ON)
  endif()
elseif(ZOLT_WITH_SODIUM)
  find_path(ZOLT_SODIUM_HEADER_DIR sodium/crypto_sign_ed25519.h)
  # Static where Debian's libsodium.a links, as libzstd.a does: zolt-pack
  # then needs no libsodium where it is installed.
  find_library(ZOLT_SODIUM_FILE NAMES libsodium.a sodium)
  if(ZOLT_SODIUM_HEADER_DIR AND ZOLT_SODIUM_FILE)
    set(ZOLT_SODIUM_LIBRARY "${ZOLT_SODIUM_FILE}")
    set(ZOLT_SIGNING ON)
  endif()
endif()
