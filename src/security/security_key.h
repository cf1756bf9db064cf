// What decrypts and encrypts an encrypted document's objects once a
// password has opened it: the file key and the methods of its strings and
// streams. The document holds one; the security handler (security.h)
// makes it.
#pragma once

#include <cstdint>
#include <vector>

// How a string or a stream is encrypted.
enum class CryptMethod : uint8_t {
  identity,  // not at all: the bytes stand as they are
  rc4,       // RC4 with an object key from the file key
  aesv2,     // AES-128-CBC with an object key from the file key
  aesv3,     // AES-256-CBC with the file key itself
};

struct SecurityKey {
  std::vector<uint8_t> file_key;  // 5 to 16 bytes for revisions 2-4, 32 for 5 and 6
  CryptMethod strings = CryptMethod::identity;
  CryptMethod streams = CryptMethod::identity;
  CryptMethod embedded_files = CryptMethod::identity;  // streams of embedded files
  bool encrypt_metadata = true;  // false: metadata streams are not encrypted
  bool owner = false;            // the owner password was given
  int32_t permissions = 0;       // /P: the user's permission bits
  int32_t revision = 0;
  // Revisions 5 and 6: whether the encrypted copy of the permissions in
  // /Perms reads back and states the same bits as /P. When it reads back
  // but differs, permissions holds only the bits both grant.
  bool perms_match = true;
};
