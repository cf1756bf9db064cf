// Test-only runner of outside programs (the oracles qpdf, pdftotext and
// pdftoppm, the producer Ghostscript, our own command-line host): runs one
// command without a shell, captures what it prints and how it ended.
// POSIX only.
#pragma once

#include <chrono>
#include <string>
#include <vector>

namespace testtool {

struct ToolResult {
  int exit_code = -1;      // the program's exit status; -1 when it did not exit normally
  int signal = 0;          // the signal that ended it, or 0
  bool timed_out = false;  // it was killed because it ran past its time
  bool started = false;    // false when the program could not be run at all
  std::string out;         // standard output
  std::string err;         // standard error

  // Returns true when the program exited with status 0.
  bool ok() const { return started && !timed_out && signal == 0 && exit_code == 0; }
};

// Returns how argv[0] (a path, or a name looked up in PATH) ended when run
// with argv[1..] as arguments, standard input from /dev/null and LC_ALL=C.
// A program still running after timeout is killed.
ToolResult run(const std::vector<std::string> &argv,
               std::chrono::milliseconds timeout = std::chrono::seconds(60));

// Returns a one-line description of a run for failure messages: the command,
// how it ended and the start of what it printed on standard error.
std::string describe(const std::vector<std::string> &argv, const ToolResult &result);

}  // namespace testtool
