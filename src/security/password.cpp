// Passwords as the key derivations take them. Revisions 2 to 4 work on
// bytes of PDFDocEncoding, padded to 32; revisions 5 and 6 on UTF-8 (not
// normalised with SASLprep: a password typed in another normalisation form
// than the one it was set in does not match).
#include <algorithm>
#include <cstring>

#include "pdf/winansi.h"
#include "security/security_internal.h"

namespace {

// The longest password of revisions 5 and 6, in bytes.
constexpr size_t kMaxAesPassword = 127;

// The characters PDFDocEncoding places where Latin-1 has others: codes
// 0x18-0x1F and 0x80-0xA0, in order. 0 marks a code without a character.
constexpr uint16_t kLow[8] = {0x02D8, 0x02C7, 0x02C6, 0x02D9, 0x02DD, 0x02DB, 0x02DA, 0x02DC};
constexpr uint16_t kHigh[33] = {
    0x2022, 0x2020, 0x2021, 0x2026, 0x2014, 0x2013, 0x0192, 0x2044, 0x2039, 0x203A, 0x2212,
    0x2030, 0x201E, 0x201C, 0x201D, 0x2018, 0x2019, 0x201A, 0x2122, 0xFB01, 0xFB02, 0x0141,
    0x0152, 0x0160, 0x0178, 0x017D, 0x0131, 0x0142, 0x0153, 0x0161, 0x017E, 0x0000, 0x20AC};

// Returns the PDFDocEncoding code of a character, or -1 when it has none.
int pdfdoc_code(uint32_t c) {
  if (c < 0x18 || (c >= 0x20 && c < 0x7F) || (c >= 0xA1 && c <= 0xFF && c != 0xAD))
    return static_cast<int>(c);
  for (int i = 0; i < 8; ++i)
    if (kLow[i] == c) return 0x18 + i;
  for (int i = 0; i < 33; ++i)
    if (kHigh[i] != 0 && kHigh[i] == c) return 0x80 + i;
  return -1;
}

// Returns the text in PDFDocEncoding, or the bytes as given when a
// character has no code there or the text is not UTF-8.
std::string pdfdoc_or_bytes(std::string_view utf8) {
  std::string out;
  for (size_t at = 0; at < utf8.size();) {
    const Utf8Char c = utf8_char_at(utf8, at);
    const int code = c.valid ? pdfdoc_code(c.code_point) : -1;
    if (code < 0) return std::string(utf8);
    out += static_cast<char>(code);
    at += c.used;
  }
  return out;
}

}  // namespace

PaddedPassword padded_password(std::string_view utf8) {
  const std::string bytes = pdfdoc_or_bytes(utf8);
  PaddedPassword out{};
  const size_t n = std::min<size_t>(bytes.size(), 32);
  std::memcpy(out.data(), bytes.data(), n);
  std::memcpy(out.data() + n, kPasswordPadding.data(), 32 - n);
  return out;
}

std::string_view aes_password(std::string_view utf8) {
  return utf8.substr(0, std::min(utf8.size(), kMaxAesPassword));
}
