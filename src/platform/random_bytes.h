// Random bytes from the operating system, for initialisation vectors and
// the like: getrandom (or /dev/urandom where it is missing) on Linux,
// BCryptGenRandom on Windows.
#pragma once

#include <cstdint>
#include <span>

// Returns true with out filled; false when the system gives none.
bool random_bytes(std::span<uint8_t> out);
