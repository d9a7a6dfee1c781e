# The compressing direction: only the packing tool and the tests link it.
add_library(zolt_codec_encoder STATIC
  ${CMAKE_CURRENT_LIST_DIR}/encoder.cc
  ${CMAKE_CURRENT_LIST_DIR}/match_finder.cc
  ${CMAKE_CURRENT_LIST_DIR}/block_writer.cc
  ${CMAKE_CURRENT_LIST_DIR}/huffman_code.cc
)
target_link_libraries(zolt_codec_encoder PUBLIC zolt_codec_context PRIVATE zolt_build_options)
