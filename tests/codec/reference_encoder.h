// The compressor as it stood before its speed work, kept for the tests (and
// the encode benchmark) as the yardstick that every faster version must match
// byte for byte. It uses the same context record and has the same contract as
// `codec_encode` in codec/encoder.h.
#pragma once

#include <cstdint>

#include "codec/codec_context.h"

namespace reference_encoder {

int32_t codec_encode(CodecContext* context, ByteRange* input, ByteRange* output);

}  // namespace reference_encoder
