// RunLengthDecode: runs of literal bytes and of one repeated byte, each led
// by a length byte.
#include <cstring>

#include "filters/filter_output.h"
#include "filters/filters.h"

FilterStatus run_length_decode(std::span<const uint8_t> in, ByteBuf &out, uint64_t limit) {
  FilterOutput o{out, limit};
  if (!out_room(o, 0)) return out_finish(o, FilterStatus::too_large);
  size_t pos = 0;
  while (pos < in.size()) {
    const unsigned length = in[pos++];
    if (length == 128) break;  // end of data
    if (length < 128) {
      // A literal run of length + 1 bytes; one cut short keeps what is there.
      const size_t count = length + 1u;
      const size_t have = in.size() - pos < count ? in.size() - pos : count;
      if (!out_bytes(o, in.data() + pos, have)) return out_finish(o, FilterStatus::too_large);
      pos += have;
      if (have < count) return out_finish(o, FilterStatus::damaged);
    } else {
      // 257 - length copies of the next byte.
      if (pos == in.size()) return out_finish(o, FilterStatus::damaged);
      const uint64_t count = 257u - length;
      if (!out_room(o, count)) return out_finish(o, FilterStatus::too_large);
      std::memset(out.data + out.length, in[pos++], static_cast<size_t>(count));
      out.length += count;
    }
  }
  return out_finish(o, FilterStatus::ok);
}
