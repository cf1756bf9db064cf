// What the files of the security handler share: passwords as the key
// derivations take them, and the derivations of each family of revisions.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "security/security.h"

// A password of revisions 2 to 4: 32 bytes, padded with the fixed padding
// string.
using PaddedPassword = std::array<uint8_t, 32>;

// What fills a password of revisions 2 to 4 up to 32 bytes; also the
// plaintext of /U.
inline constexpr PaddedPassword kPasswordPadding = {
    0x28, 0xBF, 0x4E, 0x5E, 0x4E, 0x75, 0x8A, 0x41, 0x64, 0x00, 0x4E, 0x56, 0xFF, 0xFA, 0x01, 0x08,
    0x2E, 0x2E, 0x00, 0xB6, 0xD0, 0x68, 0x3E, 0x80, 0x2F, 0x0C, 0xA9, 0xFE, 0x64, 0x53, 0x69, 0x7A};

// Returns the password of revisions 2 to 4 from the caller's UTF-8: in
// PDFDocEncoding when every character has a code there, else the bytes as
// given; cut or padded to 32 bytes.
PaddedPassword padded_password(std::string_view utf8);

// Returns the password of revisions 5 and 6: the UTF-8 bytes, cut to 127.
std::string_view aes_password(std::string_view utf8);

// Returns the bytes of a string as the primitives take them.
inline std::span<const uint8_t> bytes_of(std::string_view s) {
  return {reinterpret_cast<const uint8_t *>(s.data()), s.size()};
}

// Revisions 2 to 4. Return true with the file key of n bytes (5 to 16)
// when the padded password is the user password, or the owner password.
// /O holds at least 32 bytes, /U at least 32 (revision 2) or 16.
bool user_key_rc4(const EncryptParams &params, std::string_view id0, const PaddedPassword &password,
                  size_t n, std::vector<uint8_t> &key);
bool owner_key_rc4(const EncryptParams &params, std::string_view id0, const PaddedPassword &password,
                   size_t n, std::vector<uint8_t> &key);

// Revisions 5 and 6. Return true with the 32-byte file key when the
// password is the user password, or the owner password. /O and /U hold at
// least 48 bytes, /OE and /UE at least 32.
bool user_key_aes(const EncryptParams &params, std::string_view password, std::vector<uint8_t> &key);
bool owner_key_aes(const EncryptParams &params, std::string_view password, std::vector<uint8_t> &key);

// Returns true with the permission bits that /Perms states, decrypted with
// the file key, when it reads back (and states /EncryptMetadata as the
// dictionary does).
bool perms_bits(const EncryptParams &params, const std::vector<uint8_t> &key, int32_t &bits);
