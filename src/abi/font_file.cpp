#include "abi/font_file.h"

#include <cstring>

#include "common/error.h"
#include "platform/file_io.h"

bool prepare_font(const char *path, int32_t index, PreparedFont &font) {
  ReadResult file = read_whole_file(path);
  switch (file.status) {
    case ReadStatus::ok:
      break;
    case ReadStatus::cannot_open:
      set_error(ErrorCode::read, "cannot open font file %s: %s", path,
                std::strerror(file.error_number));
      return false;
    case ReadStatus::empty:
      set_error(ErrorCode::damaged, "empty font file: %s", path);
      return false;
    case ReadStatus::too_large:
      set_error(ErrorCode::unsupported, "the font %s is too large to embed", path);
      return false;
    case ReadStatus::out_of_memory:
      set_error(ErrorCode::memory, "out of memory reading %s", path);
      return false;
    case ReadStatus::read_failed:
      set_error(ErrorCode::read, "failed to read font file %s", path);
      return false;
  }
  font.bytes = std::move(file.bytes);
  const std::span<const uint8_t> bytes(font.bytes.get(), static_cast<size_t>(file.size));
  return read_font_face(bytes, index, path, font.face) == 1;
}

bool prepare_font_bytes(std::span<const uint8_t> bytes, int32_t index, PreparedFont &font) {
  font.bytes.reset();
  return read_font_face(bytes, index, "given in memory", font.face) == 1;
}
