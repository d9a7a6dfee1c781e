// The step-by-step block decoder: each bit field is read through the
// context's 16-bit bit input exactly as the stream rules put it, each match
// byte copied on its own. It is slow and plainly right, and it is what the
// fast `codec_decode` is compared with, call by call, in the tests, the
// differential fuzz target and the benchmark.
#pragma once

#include <cstdint>

#include "codec/codec_context.h"

// Same contract as codec_decode (codec/decoder.h): the same output, result,
// state and status, the same input position and count, and the same context
// fields after every call, so that a stream may pass from one decoder to the
// other between any two calls.
int32_t reference_decode(CodecContext* context, ByteRange* input, ByteRange* output);

// The name of the first field in which two contexts' decoder state differs
// (state, status, bit input, block and match state, lengths, tables, trees,
// the window), or null when they agree: a stream could then go on from
// either as from the other.
const char* decoder_state_difference(const CodecContext& a, const CodecContext& b);
