// The output's identity: the header's version and the trailer's /ID. A
// stamped document stays the document it was: its version is kept when it
// is above 1.4, and the first element of its /ID is carried over, while the
// second changes with the file's contents.
#pragma once

#include <cstdint>
#include <string>

#include "pdf/scan.h"

// Returns the version the output's header states: the input's "%PDF-x.y"
// when it is above 1.4 (a 1.7 or 2.0 document stays so), else "1.4".
std::string output_version(Bytes input);

// Returns the output's /ID array: the input's first element as written, and
// a second made from `changed` (bytes that differ whenever the output does).
// An input without a readable /ID gets a new identifier, twice.
std::string output_id(std::string_view input_id, Bytes changed);
