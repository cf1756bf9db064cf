// Adler-32 (RFC 1950).
#pragma once

#include <cstddef>
#include <cstdint>

namespace flate {

// Continues the checksum adler (1 for an empty prefix) over data[0..len).
uint32_t adler32_update(uint32_t adler, const unsigned char *data, size_t len);

}  // namespace flate
