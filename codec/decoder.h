// Block decoder of the -lh5- compressed-data format: LZ77 over an 8192-byte
// window, coded block by block with static Huffman codes whose lengths head
// each block.
//
// The decoder is incremental. Each call produces min(end - cur, 8192) bytes
// of the output slice, and everything needed to go on (bit input, the current
// block's tables, the window, an unfinished match) stays in the context. The
// stream has no length and no end marker: the caller knows the uncompressed
// size and stops calling when it has it.
//
// Calling rule: every call of a stream but the last must ask for at least
// 8192 bytes, so that the window index of each byte is its offset modulo 8192.
// A caller that breaks the rule gets wrong bytes, never unsafe memory access.
//
// Symbols are decoded from a 64-bit word refilled eight bytes at a time and
// matches copied in words (decoder.cc tells how); what a caller or a later
// call can see is exactly what the plain step-by-step rules give: the bytes,
// the result, the input's cur and count, and every field of the context.
// Each call works in about 25 KiB of stack (the window, the new chunk and
// a copy of the literal/length table) and allocates nothing.
#pragma once

#include <cstdint>

#include "codec/codec_context.h"

// `context` comes from codec_create and serves one stream from its first byte.
// `input` covers the compressed stream, or what is left of it; the same range
// is passed to every call, and its `cur` and `count` advance as bytes are
// fetched. Past its end the stream reads as zero bits. `output` is the slice
// to fill; its `cur` advances by the bytes produced, its `count` is left
// alone. Both ranges need only live for the call.
//
// Returns 0 when the chunk was produced. Returns CODEC_BAD_TABLE when this or
// an earlier call met a block head that is no valid code; the chunk of the
// call that met it is still produced (from the tables as they stood) and
// delivered, after which the context is stopped: every later call returns
// CODEC_BAD_TABLE at once and touches neither range. An empty slice produces
// nothing. CODEC_MISUSE for a null context, a context without its window, or
// a null range.
int32_t codec_decode(CodecContext* context, ByteRange* input, ByteRange* output);
