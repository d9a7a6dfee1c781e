# Flags shared by every target of the project.
add_compile_options(-Wall -Wextra)
if(ZOLT_WERROR)
  add_compile_options(-Werror)
endif()

if(ZOLT_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

# Lets the linker drop what a program does not use: the installer links only
# the decoding half of the codec and the reading half of the archive.
add_compile_options(-ffunction-sections -fdata-sections)
add_link_options(-Wl,--gc-sections)

# Every library and program includes by path from the top: "archive/format.h".
include_directories(${PROJECT_SOURCE_DIR})
