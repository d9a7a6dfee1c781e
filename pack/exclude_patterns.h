// --exclude patterns, matched as tar matches them by default: a shell glob
// ('*' also matches '/') against the path relative to the tree or against any
// tail of it that starts after a '/', so "*.o" leaves out object files at any
// depth and "build" every path named build, with everything below it.
#pragma once

#include <string>
#include <vector>

// The pattern as it is matched: without a leading "./" or trailing '/'.
std::string normalized_pattern(const std::string& pattern);

// The first of `patterns` (normalised) that matches `name`, or null.
const std::string* excluding_pattern(const std::vector<std::string>& patterns, const std::string& name);
