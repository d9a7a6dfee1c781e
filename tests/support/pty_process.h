// Runs a program, or a function in a forked child, on a pseudo-terminal, so
// that code meant for a terminal (tcdrain, backspace rewriting, input typed
// line by line) runs against a real one. Standard input and standard error
// are the terminal; standard output is a pipe, captured on its own.
//
// The terminal is in canonical mode (input arrives a line at a time, ^D at
// the start of a line is end of input) with output processing off, so the
// captured terminal bytes are exactly what the child wrote, plus the echo of
// typed keys when echo is asked for. With echo on, send keys only after
// wait_for has seen the prompt they answer: the terminal echoes a key when it
// is typed, not when it is read.
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

struct PtyOptions {
  std::vector<std::string> args;  // argv[1..]; argv[0] is the program path
  std::string cwd;                // empty: inherit
  bool echo = false;
  int timeout_seconds = 30;       // for the whole run; the child is then killed
};

struct PtyResult {
  int exit_status = -1;  // -1 when killed by a signal
  int term_signal = 0;
  bool timed_out = false;
  std::string out;       // standard output
  std::string terminal;  // everything the terminal showed
};

class PtyProcess {
 public:
  PtyProcess(const std::string& program, const PtyOptions& options = {});
  // `body` runs in the child, which exits with 0 when it returns.
  PtyProcess(const std::function<void()>& body, const PtyOptions& options = {});
  ~PtyProcess();  // kills a child that is still running
  PtyProcess(const PtyProcess&) = delete;
  PtyProcess& operator=(const PtyProcess&) = delete;

  // Reads terminal output until `text` appears behind the end of the previous
  // match. False when the child ends or time runs out first.
  bool wait_for(const std::string& text);
  // Types `keys` on the terminal.
  void send(const std::string& keys);
  // Types the end-of-file character (^D).
  void send_eof();
  // Reads everything up to the child's end and waits for it.
  PtyResult finish();

 private:
  void start(const std::function<void()>& body, const PtyOptions& options);
  bool pump(int timeout_ms);  // reads what is there; false once the terminal is closed
  bool expired() const;

  pid_t pid_ = -1;
  int master_ = -1;
  int out_ = -1;
  double deadline_ = 0;
  size_t matched_ = 0;
  PtyResult result_;
};
