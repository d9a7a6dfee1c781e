// Where a symbolic link of the tree leads, judged from the link's own place
// alone: the installer never resolves a target, so the only question is
// whether the link, once installed, points into the installation directory.
#pragma once

#include <string>

// Why the link `name` (relative to the tree, '/'-separated) with `target`
// leads outside the tree: an absolute target, or one whose ".." components,
// resolved against the link's directory, climb above the tree's top. Empty
// when it stays inside. Components are taken as written; links met on the
// way are judged on their own.
std::string link_target_escape(const std::string& name, const std::string& target);
