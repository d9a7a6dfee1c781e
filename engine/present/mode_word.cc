#include "engine/present/mode_word.h"

void mode_word(uint16_t mode, char text[11]) {
  static const char types[] = "?pc?d?b?-?l?s???";  // by the file-type bits
  text[0] = mode & 0170000 ? types[(mode >> 12) & 15] : '-';
  const char* letters = "rwxrwxrwx";
  for (int i = 0; i < 9; i++) text[1 + i] = mode & (0400 >> i) ? letters[i] : '-';
  if (mode & 04000) text[3] = text[3] == 'x' ? 's' : 'S';
  if (mode & 02000) text[6] = text[6] == 'x' ? 's' : 'S';
  if (mode & 01000) text[9] = text[9] == 'x' ? 't' : 'T';
  text[10] = 0;
}
