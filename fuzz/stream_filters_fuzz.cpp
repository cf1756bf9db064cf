// Any bytes as a PDF file: every stream object a scan finds is decoded
// through its filters, with the buffers reused from stream to stream as the
// engine's callers reuse them.
#include "common/limits.h"
#include "fuzz_target.h"
#include "pdf/reconstruct.h"
#include "pdf/stream_filters.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size > INT32_MAX) return 0;
  const Bytes file(data, size);
  const ScanResult scan = scan_file_objects(file, [](int32_t) { return -1; });
  ByteBuf out;
  ByteBuf spare;
  for (const ObjEntry &e : scan.objects) {
    if (!e.is_stream) continue;
    Bytes decoded;
    const DecodeStatus status = decode_stream_view(file, e, out, spare, &decoded);
    // Decoded data never passes the limit; data seen in place lies in the file.
    if (decoded.size() > kMaxInflatedStream && decoded.data() == out.data) __builtin_trap();
    if (status != DecodeStatus::ok && status != DecodeStatus::damaged && !decoded.empty()) __builtin_trap();
  }
  return 0;
}
