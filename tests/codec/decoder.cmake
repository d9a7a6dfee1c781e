zolt_add_test(decoder_tests
  ${CMAKE_CURRENT_LIST_DIR}/stream_builder.cc
  ${CMAKE_CURRENT_LIST_DIR}/reference_decoder.cc
  ${CMAKE_CURRENT_LIST_DIR}/lzh_samples.cc
  ${CMAKE_CURRENT_LIST_DIR}/decode_table_test.cc
  ${CMAKE_CURRENT_LIST_DIR}/decoder_test.cc
  ${CMAKE_CURRENT_LIST_DIR}/decoder_interop_test.cc
  ${CMAKE_CURRENT_LIST_DIR}/decoder_differential_test.cc
  LIBS zolt_codec_decoder
)

# The decoder gets all its memory from codec_create: its objects must not
# refer to any allocator.
add_test(NAME decoder_allocates_nothing
  COMMAND sh -c "! nm -u \"$1\" | grep -E ' (malloc|calloc|realloc|posix_memalign|aligned_alloc|_Zn[wa].*)$'"
    sh $<TARGET_FILE:zolt_codec_decoder>)
