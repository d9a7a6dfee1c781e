// Which characters of a text a terminal obeys rather than shows. The texts
// and names an installer carries are UTF-8 by convention but may hold any
// byte; a byte that begins no valid UTF-8 sequence counts as the character
// of its own value, since a terminal that is not set to UTF-8 takes it so:
// 0x9B is then CSI. One definition for the installer's checks, the escaper
// and zolt-pack's refusals, so that none accepts what another would obey.
#pragma once

#include <cstddef>
#include <cstdint>

// C0, DEL and C1 (U+0080..U+009F).
constexpr bool is_control_code(uint32_t code) { return code < 0x20 || (code >= 0x7F && code < 0xA0); }

// The length of the valid UTF-8 sequence at text[i] (not overlong, no
// surrogate, at most U+10FFFF) with its code point in `code`, or 0.
size_t utf8_sequence_at(const char* text, size_t length, size_t i, uint32_t* code);

// The character at text[i] (i < length): its length, with its code point in
// `code`; or 0 for a byte that begins no valid UTF-8 sequence, whose value
// `code` then holds.
size_t text_character_at(const char* text, size_t length, size_t i, uint32_t* code);

// Whether `text` holds a character that a terminal obeys: a control code, or
// a byte that begins no valid UTF-8 sequence and counts as one by its value.
bool text_has_control(const char* text, size_t length);
