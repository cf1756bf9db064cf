#include "pdf/identity.h"

namespace {

// The header stands at the start of the file; readers accept it within the
// first kilobyte, after junk that some producers put before it.
constexpr int32_t kHeaderWindow = 1024;

// Returns a 128-bit FNV-1a digest of the bytes as 32 hexadecimal digits.
// Deterministic, so that the same stamp of the same input gives the same
// file on every platform; not a cryptographic hash, which an identifier
// that only has to change with the contents does not need.
std::string digest_hex(Bytes bytes) {
  uint64_t a = 0xcbf29ce484222325ull;  // the FNV-1a offset basis
  uint64_t b = 0x84222325cbf29ce4ull;  // a second, independent basis
  for (const uint8_t c : bytes) {
    a = (a ^ c) * 0x100000001b3ull;
    b = (b ^ c) * 0x100000001b3ull;
    b ^= b >> 29;
  }
  static const char kHex[] = "0123456789ABCDEF";
  std::string out(32, '0');
  for (int i = 0; i < 16; ++i) {
    out[static_cast<size_t>(i)] = kHex[(a >> (60 - 4 * i)) & 0xF];
    out[static_cast<size_t>(16 + i)] = kHex[(b >> (60 - 4 * i)) & 0xF];
  }
  return out;
}

}  // namespace

std::string output_version(Bytes input) {
  const int32_t window = size_of(input) < kHeaderWindow ? size_of(input) : kHeaderWindow;
  const Bytes head = input.first(static_cast<size_t>(window));
  for (int32_t p = 0; p + 8 <= window; ++p) {
    if (!bytes_at(head, p, "%PDF-")) continue;
    const uint8_t major = head[p + 5], dot = head[p + 6], minor = head[p + 7];
    if (!is_digit(major) || dot != '.' || !is_digit(minor)) break;
    if (p + 8 < window && is_digit(head[p + 8])) break;  // "1.10": not a version we know
    if (major > '1' || (major == '1' && minor > '4'))
      return {static_cast<char>(major), '.', static_cast<char>(minor)};
    break;
  }
  return "1.4";
}

std::string output_id(std::string_view input_id, Bytes changed) {
  const std::string second = "<" + digest_hex(changed) + ">";
  const Bytes id(reinterpret_cast<const uint8_t *>(input_id.data()), input_id.size());
  // The first element of "[<...> <...>]" (or literal strings), as written.
  int32_t p = skip_ws(id, 0);
  if (p < size_of(id) && id[p] == '[') {
    p = skip_ws(id, p + 1);
    const int32_t end = skip_pdf_value(id, p);
    if (end > p && p < size_of(id) && (id[p] == '<' || id[p] == '(')) {
      const std::string first(input_id.substr(static_cast<size_t>(p), static_cast<size_t>(end - p)));
      return "[" + first + " " + second + "]";
    }
  }
  return "[" + second + " " + second + "]";
}
