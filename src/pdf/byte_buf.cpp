#include "pdf/byte_buf.h"

#include <cstdlib>
#include <cstring>
#include <utility>

namespace {

// The first block: large enough for most generated texts in one go.
constexpr uint64_t kFirstCapacity = 65536;

void lose_contents(ByteBuf &buf) {
  std::free(buf.data);
  buf.data = nullptr;
  buf.length = 0;
  buf.capacity = 0;
  buf.failed = true;
}

}  // namespace

ByteBuf::ByteBuf(ByteBuf &&other) noexcept
    : data(std::exchange(other.data, nullptr)),
      length(std::exchange(other.length, 0)),
      capacity(std::exchange(other.capacity, 0)),
      failed(other.failed) {}

ByteBuf &ByteBuf::operator=(ByteBuf &&other) noexcept {
  if (this != &other) {
    std::free(data);
    data = std::exchange(other.data, nullptr);
    length = std::exchange(other.length, 0);
    capacity = std::exchange(other.capacity, 0);
    failed = other.failed;
  }
  return *this;
}

ByteBuf::~ByteBuf() { std::free(data); }

void buf_reserve(ByteBuf &buf, uint64_t extra) {
  if (buf.data == nullptr) {
    buf.data = static_cast<uint8_t *>(std::malloc(kFirstCapacity));
    if (buf.data == nullptr) {
      buf.failed = true;
      return;
    }
    buf.length = 0;
    buf.capacity = kFirstCapacity;
  }
  // length + extra + 1 must not wrap; a request that large cannot be met.
  if (extra >= UINT64_MAX / 2 - buf.length) {
    lose_contents(buf);
    return;
  }
  const uint64_t need = buf.length + extra + 1;
  if (buf.capacity >= need) return;
  uint64_t capacity = buf.capacity;
  while (capacity < need) capacity *= 2;
  void *grown = capacity <= SIZE_MAX ? std::realloc(buf.data, static_cast<size_t>(capacity)) : nullptr;
  if (grown == nullptr) {
    lose_contents(buf);
    return;
  }
  buf.data = static_cast<uint8_t *>(grown);
  buf.capacity = capacity;
}

void buf_bytes(ByteBuf &buf, const void *src, uint64_t count) {
  if (src == nullptr || count == 0) return;
  buf_reserve(buf, count);
  if (buf.data == nullptr) return;
  std::memcpy(buf.data + buf.length, src, static_cast<size_t>(count));
  buf.length += count;
  buf.data[buf.length] = 0;
}

void buf_str(ByteBuf &buf, std::string_view text) { buf_bytes(buf, text.data(), text.size()); }

ByteBuf buf_adopt(void *block, uint64_t count) {
  ByteBuf buf;
  void *fitted = count < SIZE_MAX ? std::realloc(block, static_cast<size_t>(count) + 1) : nullptr;
  if (fitted == nullptr) {
    std::free(block);
    buf.failed = true;
    return buf;
  }
  buf.data = static_cast<uint8_t *>(fitted);
  buf.length = count;
  buf.capacity = count + 1;
  buf.data[count] = 0;
  return buf;
}

void buf_shrink_to_fit(ByteBuf &buf) {
  if (buf.data == nullptr || buf.capacity <= buf.length + 1) return;
  void *fitted = std::realloc(buf.data, static_cast<size_t>(buf.length) + 1);
  if (fitted == nullptr) return;  // the larger block stays valid
  buf.data = static_cast<uint8_t *>(fitted);
  buf.capacity = buf.length + 1;
}

void buf_free(ByteBuf &buf) {
  std::free(buf.data);
  buf.data = nullptr;
  buf.length = 0;
  buf.capacity = 0;
}
