// Start-up: find and check the attachment, read the command line, set the
// default directory.
#pragma once

#include <cstdio>

#include "archive/format.h"

// Fills `header` from `file` or ends the process with the locator's message.
void locate_attachment(FILE* file, AttachmentHeader* header);

// 1 when an argument equals "-autonext" exactly (argv[0] included), else 0.
int find_autonext(int argc, char** argv);

// Everything up to the first page: opens argv[0], locates the attachment,
// checks its volume, sets autonext and install_dir. Ends the process on failure.
void start_installer(int argc, char** argv);

// Takes the command line's choices into the installer's state, after
// start_installer. An unattended run without the licence accepted, and a
// target longer than the directory page takes, end the process.
struct InstallerOptions;
void apply_installer_options(const InstallerOptions& options);
