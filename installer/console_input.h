// Reading the user's answers from standard input.
//
// Every reader of the console treats the end of standard input (or a read
// error, which stdio reports the same way) as the user's Cancel: an installer
// whose input has gone away must end, not spin on a line that never comes.
#pragma once

// Reads and drops characters up to and including the next newline or NUL
// byte. 1 when one was found, 0 when input ended first.
int drop_line();
