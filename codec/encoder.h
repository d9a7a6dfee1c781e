// The compressor: one call turns a whole input into one complete -lh5-
// stream, LZ77 over an 8192-byte window with matches of 3 to 256 bytes and a
// one-step lazy choice, coded block by block.
//
// The tree and the block state are reset at the start of every call, so a
// new context always turns the same bytes into the same stream. The bytes
// past the end of the input in `text_buf` are not cleared, though: in a used
// context they are what an earlier input left there, and although no match
// runs past the input, they can steer which of two equally long matches is
// taken near its end. Such a stream differs but decodes to the same bytes.
#pragma once

#include <cstdint>

#include "codec/codec_context.h"

// Compresses everything from input->cur to input->end into output.
//
// 1: the whole stream is in the output range; input->cur is at input->end,
//    output->cur and output->count have advanced by the stream's length.
// 0: the output range was too small (`out_full` is set); output->cur stops at
//    output->end at most and what was written is an incomplete stream.
// CODEC_NO_MEMORY: the context lacked its dictionary arrays or work buffer and
//    they could not be allocated; neither range was touched.
// CODEC_MISUSE: a null context or range.
// Otherwise the non-zero `status` that the context already held (left by a
// failed decode); nothing is written then.
//
// `status` and `out_full` are never cleared here: a context whose earlier
// stream ran out of room keeps returning 0 until its caller clears out_full.
// Nothing is allocated once the context has its buffers. Compressing
// overwrites state that the decoder uses, so a context serves one direction
// at a time.
int32_t codec_encode(CodecContext* context, ByteRange* input, ByteRange* output);
