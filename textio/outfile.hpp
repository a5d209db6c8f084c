// Output files that are whole or absent: each is written to a temporary file
// beside its target and renamed into place when complete. Until then the
// target is untouched; an interrupt renames into place the files that are
// whole at every moment (written in complete rows) and removes the others; an
// abort removes them all.
#pragma once

#include <string>
#include <string_view>

namespace textio {

class OutputFile {
 public:
  // Creates the temporary file beside `path`; ok() tells whether that worked,
  // and error() why not.
  explicit OutputFile(std::string path);
  ~OutputFile();  // removes the temporary file unless committed
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  bool ok() const { return error_.empty(); }
  const std::string& error() const { return error_; }
  const std::string& path() const { return path_; }

  // Appends text; false (and error()) once a write has failed.
  bool write(std::string_view text);
  // From now on an interrupt renames the file into place as it stands: call it
  // when what has been written is whole and every later write keeps it so.
  void keep_on_interrupt();
  // Renames the file into place; false (and error()) on failure, and then the
  // temporary file is removed.
  bool commit();

 private:
  std::string path_;
  std::string temp_;
  int fd_ = -1;
  int slot_ = -1;  // in the table the signal handlers read
  std::string error_;
};

// The file an output of that name replaces: the path made absolute, with the
// symbolic links of its final name followed (to a file that may not exist
// yet) and its folder free of links and dots. Two names of one output have
// the same target.
std::string output_target(const std::string& path);

// For the handlers of interrupt and termination signals (async-signal-safe):
// renames into place the files marked to be kept and removes the others.
void settle_outputs_on_interrupt();
// Removes every temporary file not yet in place (before an abort).
void discard_outputs();

}  // namespace textio
