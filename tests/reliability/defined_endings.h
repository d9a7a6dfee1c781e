// How a run of the installer may end when it does not complete: the texts of
// its termination routines. Shared by the robustness tests and the fuzz
// target of the installation, which check every run against it.
#pragma once

#include <string>

extern const char* const kTerminatedEnding;  // "\n\nInstallation terminated.\n"

// The message of a run that ended through error or error_errno: `err` is all
// that the run wrote to standard error. The message line is returned from
// the start of its message, without any progress text in front of it ("Can't
// create file - Is a directory (err=5)."). Empty when `err` does not end with
// a message of the defined set followed by the ending.
std::string final_message(const std::string& err);

// The message of a run refused because what lies at `path` (the full path,
// as the run prints it) is in the way of an entry.
std::string in_the_way(const std::string& path);
