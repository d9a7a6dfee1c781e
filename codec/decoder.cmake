# Decoding half of the codec: bit input, decoding tables, block decoder.
# The installer links only this (and the context).
add_library(zolt_codec_decoder STATIC
  ${CMAKE_CURRENT_LIST_DIR}/decode_table.cc
  ${CMAKE_CURRENT_LIST_DIR}/decoder.cc
)
target_link_libraries(zolt_codec_decoder PUBLIC zolt_codec_context PRIVATE zolt_build_options)
if(ZOLT_STUB_HOT)
  # -O2 rather than the other hot loops' -O3: installing /usr/include's -lh5-
  # installer took the same processor time (0.22 s against 0.22 s for
  # --check, which decodes every file), and the stub is 5.4 KB smaller.
  target_compile_options(zolt_codec_decoder PRIVATE $<$<CONFIG:MinSizeRel>:-O2>)
endif()
