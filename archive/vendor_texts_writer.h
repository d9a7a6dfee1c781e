// Building the block of vendor texts (archive/vendor_texts.h) that zolt-pack
// puts between the stub and the attachment.
#pragma once

#include <optional>
#include <string>

// The block for the texts given, absent ones left out; empty when none is
// given, so that such an installer carries no block at all. The texts are
// taken as they are: check them with vendor_text_problem first.
std::string build_vendor_texts(const std::optional<std::string> (&texts)[5]);
