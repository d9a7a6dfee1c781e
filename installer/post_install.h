// The vendor's post-install step: a program or script that the attachment
// carries as an entry of its own (ENTRY_POST_INSTALL, the last one) and that
// runs once after the installation is complete and its record written.
//
// The program is held in an anonymous memory file (memfd) rather than in a
// file of the installation tree: nothing is left behind after a crash, there
// is no name that another run or another user could swap, and the record
// directory's lock, released when the record is final, guards nothing it
// needs. The memory file is executed through its descriptor (fexecve); a
// script's interpreter reads it through /dev/fd, so the descriptor stays open
// in the step's process.
#pragma once

#include <cstdint>

#include "engine/read/entry_reader.h"

struct PostInstall {
  int fd;  // the memory file; -1 when the attachment carries no step
  char name[64];  // argv[0] of the step: the base name the vendor gave, cut short
};

// No step yet.
void post_install_init(PostInstall* step);
void post_install_release(PostInstall* step);

// Keeps the step of `entry`: its file_size bytes from `held`, or, when that
// is null, from `stream` with `crc_table` (the data is checked there).
// A later step replaces an earlier one. 0; or -1 with `*fault` set (damaged
// data) or, with `*fault` FAILURE_NONE, errno set (no memory file).
int post_install_keep(PostInstall* step, EntryStream* stream, const uint8_t* crc_table, const Entry& entry,
                      const uint8_t* held, int* fault);

// Runs the step, when there is one, from `install_dir` with its absolute
// path as the only argument and in ZOLT_INSTALL_DIR; standard input is
// /dev/null unless `interactive`; standard output and error are the
// installer's. Returns the step's exit status (128 + the signal's number when
// a signal ended it, 127 when it could not be started), 0 when there is none.
int post_install_run(const PostInstall* step, const char* install_dir, int interactive);
