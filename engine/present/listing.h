// The listing of an installer, the same lines whoever prints it (the
// installer's --list and zolt-pack list): the header, the vendor's texts
// (those of several lines by their first line and line count), then one line
// per entry in the manner of "tar tv". Names and texts are shown escaped.
// Written with the caller's FILE and fixed buffers, as the installer has no
// C++ run-time library.
#pragma once

#include <cstdio>

#include "archive/format.h"
#include "archive/vendor_texts.h"
#include "engine/read/entry_reader.h"

// The header's lines, the texts' lines and the blank line that ends them.
void list_header(FILE* out, const AttachmentHeader& header, const VendorTexts& texts, const char* signer = nullptr);

// One entry's line; a link's target ("NAME -> TARGET") or a hard link's
// first name ("NAME => FIRST") is read from entry.data.
void list_entry(FILE* out, const Entry& entry);
