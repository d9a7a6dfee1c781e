// Process-wide state of the installer, alive for the whole run.
#pragma once

#include "archive/format.h"

constexpr int INSTALL_DIR_SIZE = 4096;  // directory selection accepts at most 4094 characters

// The header block found at start-up; never changes afterwards.
extern AttachmentHeader attachment_header;
// 1 when "-autonext" was given: prompts with a default answer themselves.
extern int autonext;
// The installation directory, NUL-terminated.
extern char install_dir[INSTALL_DIR_SIZE];
