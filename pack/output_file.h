// Every output of zolt-pack goes through here, so that no command can destroy
// a file it was not asked to create, nor the one it was when it fails.
//
// A regular file (or a name not yet taken) is written under a temporary name
// beside it and renamed into place by commit(): until then nothing under the
// output's name changes, and without commit() the temporary goes again. A
// symbolic link to a regular file is followed, so the link stays and its
// target is replaced, as writing through the link would have done.
// Anything else (standard output, a device, a FIFO, a terminal) is written as
// it is: never truncated, never removed. An output that is one of the
// command's inputs is refused before anything is written, and so is a
// directory. A command whose output must be a file of its own asks for
// REGULAR_ONLY: anything else under the name is refused before it is opened,
// so that a FIFO nobody reads cannot hold the command up.
#pragma once

#include <sys/types.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

class PendingFile;

class OutputFile {
 public:
  enum Kind { ANY, REGULAR_ONLY };
  // `path` "-" is standard output. `inputs` are the files the command reads
  // ("-" for standard input). Throws Failure.
  OutputFile(const std::string& path, const std::vector<std::string>& inputs, Kind kind = ANY);
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  FILE* stream() { return stream_; }
  // For messages: the path, or "standard output".
  const std::string& label() const { return label_; }
  // True when the output is written beside its name and renamed into place.
  bool replaces() const { return pending_ != nullptr; }
  // The file being written while replaces(); readable once closed.
  const std::string& written_path() const;
  bool is_terminal() const;

  // Flushes and closes. A new regular file gets `new_mode` exactly; one that
  // is replaced keeps its mode unless `force_mode` is set. Throws Failure.
  void close(mode_t new_mode, bool force_mode = false);
  // Throws Failure unless commit() can put the file in place: something that
  // is not a regular file (a directory) has taken its name since.
  void check_place() const;
  // Puts the closed file in place. Throws Failure.
  void commit();

 private:
  std::string path_;   // where the file goes: links to regular files resolved
  std::string label_;
  FILE* stream_ = nullptr;
  bool own_stream_ = false;  // a special file opened here, closed by close()
  std::unique_ptr<PendingFile> pending_;
  bool existed_ = false;
  mode_t old_mode_ = 0;
};

// The mode that a new file gets by default: 0666 less the umask.
mode_t default_file_mode();
