// The lines --verify prints, in the manner of rpm -V: a fixed-width word of
// the attributes that differ, then the path as every printed path is shown
// (text_escape.h), so that scripts can cut the columns and no name can
// forge a line.
#pragma once

#include <cstddef>
#include <cstdio>

// "SM5LT": size, mode or type, the CRC of the bytes, a link's target, the
// modification time; '.' where it matches, '?' where it could not be
// compared (the bytes or target unreadable, another kind of object where
// only the kind is compared, or all five where its directory could not be
// read). "missing" for a path with nothing
// there. `word` holds 8 bytes.
void difference_word(unsigned differences, char word[8]);

// One line to `out`: the word, padded to the width of "missing", two
// blanks, then the path as print_path_line shows it.
void print_difference(FILE* out, unsigned differences, const char* directory, const char* path);

// One line to `out`: `lead`, `directory`, a '/' unless it ends in one, and
// `path`, the two escaped.
void print_path_line(FILE* out, const char* lead, const char* directory, const char* path);
