// The one-line progress display on standard error, rewritten in place with
// backspaces, and the string joiner it and the extraction use.
#pragma once

// Shows "%3d%% %3d%%  NAME " unless nothing changed since the last call; a
// null name erases the line. The bytes may be held back: on a terminal for
// at most 50 ms while updates keep coming, on a pipe until a buffer fills.
void progress_line(const char* name, int entries_percent, int bytes_percent);

// Writes out what progress_line held back, and on a terminal waits for it
// to be shown; called before any other output to standard error. Also done
// at exit.
void progress_flush();

// A new string holding the `count` arguments that are not null, one after
// another; null when memory cannot be had. The caller frees it.
char* concat_strings(int count, ...);
