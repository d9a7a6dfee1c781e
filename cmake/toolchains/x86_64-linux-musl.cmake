# x86_64 Linux, linked statically against musl with GCC (Debian: musl-tools).
set(ZOLT_MUSL_ARCH x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/linux-musl-gcc.cmake)
