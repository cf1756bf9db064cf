// FlateDecode: the library's inflater, writing straight into the output
// buffer and enlarging it as it goes, so that no stream is inflated twice.
#include "filters/filter_output.h"
#include "filters/filters.h"
#include "flate/inflate_growing.h"

namespace {

// The inflater's view of the output: the bytes of buf after base, no
// further than the limit.
struct FlateSink {
  ByteBuf &buf;
  uint64_t base;
  uint64_t limit;
};

// Points the inflater at the sink's storage after base, up to the limit.
void aim(flate::GrowableOutput &g, const FlateSink &s) {
  const uint64_t room = s.buf.capacity - s.base - 1;  // the terminator's byte stays free
  const uint64_t allowed = s.limit - s.base;
  g.data = s.buf.data + s.base;
  g.capacity = static_cast<size_t>(room < allowed ? room : allowed);
}

bool grow_sink(void *ctx, flate::GrowableOutput &g, size_t need) {
  FlateSink &s = *static_cast<FlateSink *>(ctx);
  if (need > s.limit - s.base) return false;
  // ByteBuf grows from its length: make it count what the inflater wrote.
  s.buf.length = s.base;
  buf_reserve(s.buf, need);
  if (s.buf.data == nullptr) return false;
  aim(g, s);
  return true;
}

}  // namespace

FilterStatus flate_decode(std::span<const uint8_t> in, ByteBuf &out, uint64_t limit) {
  // A zlib header (method 8, window field at most 7, check bits) is dropped;
  // the Adler-32 trailer is ignored by the inflater.
  if (in.size() >= 3 && (in[0] & 0x8F) == 0x08 && ((in[0] << 8) | in[1]) % 31 == 0) in = in.subspan(2);
  FilterOutput o{out, limit};
  if (!out_room(o, 0)) return out_finish(o, FilterStatus::too_large);
  FlateSink sink{out, out.length, limit};
  // A first guess that holds most streams; storage that a reused buffer
  // already has is used as it is.
  const uint64_t guess = 4 * static_cast<uint64_t>(in.size()) + 4096;
  const uint64_t allowed = limit - sink.base;
  if (!out_room(o, guess < allowed ? guess : allowed)) return out_finish(o, FilterStatus::too_large);
  flate::GrowableOutput g;
  g.grow = grow_sink;
  g.ctx = &sink;
  aim(g, sink);
  const flate::InflateResult r = flate::inflate_growing(in, g);
  if (out.data == nullptr) return out_finish(o, FilterStatus::too_large);  // storage was lost
  out.length = sink.base + r.written;
  switch (r.end) {
    case flate::InflateEnd::complete: return out_finish(o, FilterStatus::ok);
    case flate::InflateEnd::damaged: return out_finish(o, FilterStatus::damaged);
    case flate::InflateEnd::no_room: break;
  }
  return out_finish(o, FilterStatus::too_large);
}
