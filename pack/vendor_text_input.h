// The vendor's texts of "zolt-pack create", from the command line and the
// files it names to the block that goes in front of the attachment.
#pragma once

#include <string>
#include <vector>

#include "pack/create_options.h"

// The block for the texts that `o` gives, empty when it gives none. Files are
// read, their tabs expanded, lines of the licence and the thanks longer than
// the page wrapped at blanks; what cannot be shown is refused with its line.
// Throws UsageError for an option's value, Failure for a file.
std::string vendor_texts_block(const CreateOptions& o);

// Lines no longer than `width`, each too long line broken at its last blank
// that keeps it within; blanks at the break are dropped. A line that has no
// such blank is refused: `refused` learns its number from 1 (else 0).
std::vector<std::string> wrap_lines(const std::vector<std::string>& lines, size_t width, size_t* refused);
