// Runs a program as a child process with a chosen argv[0], feeds its standard
// input and captures both output streams.
#pragma once

#include <sys/resource.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

struct ProcessOptions {
  std::string argv0;               // empty: the program path
  std::vector<std::string> args;   // argv[1..]
  std::string input;               // written to stdin, which is then closed
  std::string cwd;                 // empty: inherit
  std::vector<std::pair<int, rlim_t>> limits;  // setrlimit in the child
  bool ignore_sigxfsz = false;
  int timeout_seconds = 60;        // the child is killed after this long
};

struct ProcessResult {
  int exit_status = -1;   // -1 when killed by a signal
  int term_signal = 0;
  bool timed_out = false;
  std::string out;
  std::string err;
};

ProcessResult run_process(const std::string& program, const ProcessOptions& options);

// Runs `body` in a forked child with the options' stdin, working directory and
// limits; the child exits with 0 when `body` returns. For code that ends the
// process, such as the installer's termination routines. argv0 and args are
// not used.
ProcessResult run_in_child(const std::function<void()>& body, const ProcessOptions& options = {});
