// Reading a whole JPEG file into a block that the caller releases with free.

#include "jpeg/jpeg.h"
#include "platform/file_io.h"

int jpg_read_file(const char *path, JpegFileSpan *span) {
  if (span == nullptr) return 0;
  span->data = nullptr;
  span->size = 0;
  if (path == nullptr) return 0;
  try {
    MallocReadResult file = read_whole_file_malloc(path);
    // A file of one byte cannot even hold a start-of-image marker.
    if (file.status != ReadStatus::ok || file.size <= 1) return 0;
    span->data = file.bytes.release();
    span->size = static_cast<uint64_t>(file.size);
    return 1;
  } catch (...) {
    // Nothing above is expected to throw; the C caller must never see it.
    span->data = nullptr;
    span->size = 0;
    return 0;
  }
}
