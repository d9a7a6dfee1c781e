# Compiles and links the installer stub against musl instead of the compiler's
# own C library: the stub uses C stdio and POSIX only, so it needs from the
# C++ side nothing but libstdc++'s headers (<cstdio> and the like wrap the C
# headers, which then come from musl) and from GCC only libgcc. Included by
# the sub-build that makes one stub, with ZOLT_MUSL_INCLUDE and ZOLT_MUSL_LIB
# naming musl's headers and its crt files and libc.a for the target.
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
_zolt_gcc_file(gcc_include include)
_zolt_gcc_file(gcc_crtbegin crtbeginT.o)
_zolt_gcc_file(gcc_crtend crtend.o)
_zolt_gcc_file(gcc_libgcc libgcc.a)

# libstdc++'s headers first, so that their #include_next finds musl's; C
# sources (the Zstandard decoder) see musl's alone.
set(search "")
foreach(dir IN LISTS CMAKE_CXX_IMPLICIT_INCLUDE_DIRECTORIES)
  if(dir MATCHES "/c\\+\\+/")
    list(APPEND search "$<$<COMPILE_LANGUAGE:CXX>:-isystem${dir}>")
  endif()
endforeach()
list(APPEND search "SHELL:-isystem ${ZOLT_MUSL_INCLUDE}" "SHELL:-isystem ${gcc_include}")

# musl ships no kernel headers; the stub needs a few (<linux/openat2.h>).
# They come from the target's kernel headers, alone, through a directory
# that holds nothing else, so that no glibc header can slip in.
set(kernel "${CMAKE_BINARY_DIR}/kernel-headers")
file(MAKE_DIRECTORY "${kernel}")
foreach(sub linux asm asm-generic)
  foreach(dir IN LISTS CMAKE_CXX_IMPLICIT_INCLUDE_DIRECTORIES)
    if(IS_DIRECTORY "${dir}/${sub}" AND NOT EXISTS "${kernel}/${sub}")
      file(CREATE_LINK "${dir}/${sub}" "${kernel}/${sub}" SYMBOLIC)
    endif()
  endforeach()
endforeach()
list(APPEND search "SHELL:-idirafter ${kernel}")

# libstdc++ was configured for glibc: these two names are all it asks of it
# that musl spells otherwise.
add_compile_options(-nostdinc ${search} "-D__GLIBC_PREREQ(a,b)=0" -D__locale_t=locale_t
  "$<$<COMPILE_LANGUAGE:CXX>:-fno-exceptions;-fno-rtti>" -fno-asynchronous-unwind-tables)

set(CMAKE_CXX_LINK_EXECUTABLE
  "<CMAKE_CXX_COMPILER> <FLAGS> <CMAKE_CXX_LINK_FLAGS> <LINK_FLAGS> -static -nostdlib ${ZOLT_MUSL_LIB}/crt1.o ${ZOLT_MUSL_LIB}/crti.o ${gcc_crtbegin} <OBJECTS> -o <TARGET> <LINK_LIBRARIES> -Wl,--start-group ${ZOLT_MUSL_LIB}/libc.a ${gcc_libgcc} -Wl,--end-group ${gcc_crtend} ${ZOLT_MUSL_LIB}/crtn.o")
