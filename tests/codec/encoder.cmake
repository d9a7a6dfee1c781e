# The compressor's tests. Round trips, and the checks against independent LHA
# tools, read the streams back through the project's decoder.
zolt_add_test(encoder_tests
  ${CMAKE_CURRENT_LIST_DIR}/encode_helpers.cc
  ${CMAKE_CURRENT_LIST_DIR}/encoder_test.cc
  ${CMAKE_CURRENT_LIST_DIR}/block_writer_test.cc
  ${CMAKE_CURRENT_LIST_DIR}/huffman_code_test.cc
  ${CMAKE_CURRENT_LIST_DIR}/match_finder_test.cc
  ${CMAKE_CURRENT_LIST_DIR}/encoder_roundtrip_test.cc
  ${CMAKE_CURRENT_LIST_DIR}/encoder_interop_test.cc
  ${CMAKE_CURRENT_LIST_DIR}/encoder_inputs.cc
  ${CMAKE_CURRENT_LIST_DIR}/encoder_golden_test.cc
  ${CMAKE_CURRENT_LIST_DIR}/encoder_differential_test.cc
  ${CMAKE_CURRENT_LIST_DIR}/reference_encoder.cc
  LIBS zolt_codec_encoder zolt_codec_decoder
)

# Counts allocations by standing in for malloc, which the sanitizers do not allow.
if(NOT ZOLT_SANITIZE)
  zolt_add_test(encoder_allocation_tests
    ${CMAKE_CURRENT_LIST_DIR}/encode_helpers.cc
    ${CMAKE_CURRENT_LIST_DIR}/encoder_allocation_test.cc
    LIBS zolt_codec_encoder zolt_codec_decoder
  )
endif()
