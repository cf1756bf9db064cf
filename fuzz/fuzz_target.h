// The entry every fuzz target defines: libFuzzer calls it with each input,
// and the replay driver with each file named on its command line.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

namespace fuzz {

// Returns the path of a file private to this process that now holds the
// bytes, for the functions that read their input from a path.
std::string write_input(const uint8_t *data, size_t size);

}  // namespace fuzz
