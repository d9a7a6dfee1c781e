// The mode word "ls -l" shows ("-rw-r--r--"), for the listings of the
// installer and of zolt-pack.
#pragma once

#include <cstdint>

// Writes the ten letters and a NUL: the file type's letter ('-' when the
// mode has no type bits, '?' for a type no listing names), then the
// permissions with set-id and sticky bits as "s", "S", "t", "T".
void mode_word(uint16_t mode, char text[11]);
