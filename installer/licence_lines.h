// The licence agreement, one entry per line without line ends, ended by a
// null entry. It is generated at build time from a plain text file
// (installer/licence.txt unless the build names another with
// ZOLT_LICENCE_FILE), whose lines have at most LICENCE_LINE_MAX characters.
#pragma once

constexpr int LICENCE_LINE_MAX = 74;

extern const char* const licence_lines[];
