// Where a symbolic link of the tree leads, judged from the link's own place
// alone: the installer never resolves a target, so the only question is
// whether the link, once installed, points into the installation directory.
#pragma once

#include <string>

// Why the link `name` (relative to the tree, '/'-separated) with `target`
// leads outside the tree, in words for a refusal (archive/entry_paths.h has
// the rule); empty when it stays inside.
std::string link_target_escape(const std::string& name, const std::string& target);
