// Stamping as folimark-stamp's options say, through the library's extended
// interface: the options record of one file, and several files stamped at
// once, each by its own thread's call.
#pragma once

#include <folimark.h>

#include <string>
#include <vector>

#include "options.h"

namespace cli {

// Returns a record with the library's defaults overlaid by what the command
// line says, paths and data left unset. The record points into `o`.
folimark_options stamp_record(const Options &o);

struct FileResult {
  int code = FOLIMARK_OK;  // a FOLIMARK_ code
  std::string message;     // the library's message when code is not FOLIMARK_OK
};

// Returns the result of stamping each of o.inputs into the output beside
// it, up to `jobs` files at a time, in the order of the inputs. With
// `progress`, a line on standard error counts the files done and names the
// last one, rewritten in place (for a terminal), and is cleared at the end.
std::vector<FileResult> stamp_files(const Options &o, long jobs, bool progress);

}  // namespace cli
