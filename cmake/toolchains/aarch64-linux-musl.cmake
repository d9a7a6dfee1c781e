# aarch64 Linux, linked statically against musl with GCC (Debian:
# g++-aarch64-linux-gnu and musl-dev:arm64).
set(ZOLT_MUSL_ARCH aarch64)
include(${CMAKE_CURRENT_LIST_DIR}/linux-musl-gcc.cmake)
