// The line that shows, on a terminal, how far a run over several files is.
#pragma once

#include <cstddef>
#include <string>

namespace cli {

// Returns the progress line after `done` of `total` files, the last one
// `name`: "[3/10] name", at most `width` characters (the name's start is cut
// to "...").
std::string progress_line(size_t done, size_t total, const std::string &name, size_t width);

}  // namespace cli
