// ByteBuf: the growable byte buffer in which the engine builds every
// generated text, every stream it decodes for its own use and the whole
// output file.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

// Storage starts at 64 KiB and doubles. After an append that finds storage,
// length < capacity and data[length] == 0, so the contents also read as a C
// string. A failed growth empties the buffer (data NULL, length and capacity
// 0) and sets `failed`, which stays set: whoever must not lose data checks it.
// The buffer owns its storage and frees it when destroyed.
struct ByteBuf {
  uint8_t *data = nullptr;
  uint64_t length = 0;
  uint64_t capacity = 0;
  bool failed = false;

  ByteBuf() = default;
  ByteBuf(const ByteBuf &) = delete;
  ByteBuf &operator=(const ByteBuf &) = delete;
  ByteBuf(ByteBuf &&other) noexcept;
  ByteBuf &operator=(ByteBuf &&other) noexcept;
  ~ByteBuf();
};

// Ensures room for `extra` more bytes plus a terminator (no terminator is
// written). A buffer without storage first gets 65,536 bytes.
void buf_reserve(ByteBuf &buf, uint64_t extra);

// Appends `count` bytes (nothing for a NULL source or a count of 0).
void buf_bytes(ByteBuf &buf, const void *src, uint64_t count);

// Appends the bytes of a string (nothing when it is empty).
void buf_str(ByteBuf &buf, std::string_view text);

// Returns the buffer holding the count bytes of a malloc'ed block (which it
// takes over, shrunk to count + 1 for the terminator); an empty, failed
// buffer when the block cannot be resized.
ByteBuf buf_adopt(void *block, uint64_t count);

// Gives back the storage beyond the contents and their terminator, so that
// many finished buffers held at once cost their size, not 64 KiB each.
void buf_shrink_to_fit(ByteBuf &buf);

// Releases the storage and empties the buffer; `failed` is kept.
void buf_free(ByteBuf &buf);

// Returns the contents as a byte range.
inline std::span<const uint8_t> buf_view(const ByteBuf &buf) {
  return {buf.data, static_cast<size_t>(buf.length)};
}
