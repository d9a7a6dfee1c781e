// How zolt-pack reports what went wrong. Commands throw; main catches once,
// prints "zolt-pack: " and the message on standard error and sets the exit
// status: 1 when data is bad or an operation fails, 2 for a usage error.
#pragma once

#include <stdexcept>
#include <string>

constexpr int EXIT_DATA = 1;
constexpr int EXIT_USAGE = 2;

// The data is bad or an operation failed. The message carries its context
// (file, entry, offset) and has no program name.
struct Failure : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// The command line is wrong. `command` names the subcommand whose --help to
// point at, empty for the program as a whole.
struct UsageError : std::runtime_error {
  UsageError(const std::string& command, const std::string& message) : std::runtime_error(message), command(command) {}
  std::string command;
};

// "PATH: what: system text" for a failed system call whose errno is `error_number`.
std::string system_failure(const std::string& path, const std::string& what, int error_number);
