// The cryptographic primitives the standard PDF security handler needs:
// MD5, SHA-256/384/512, RC4 and AES (128 and 256-bit keys, single blocks and
// CBC without padding). Each works on whole byte ranges in memory and keeps
// no state beyond the structs given to it, so calls may overlap. They are
// for reading and writing encrypted documents, not for protecting secrets
// in this process: no constant-time guarantees, no key wiping.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace crypto {

using Bytes = std::span<const uint8_t>;

// ---- MD5 (RFC 1321) ---------------------------------------------------
using Md5Digest = std::array<uint8_t, 16>;

struct Md5 {
  uint32_t state[4];
  uint64_t length;     // bytes hashed so far
  uint8_t block[64];   // bytes waiting for a whole block
};

void md5_init(Md5 &m);
void md5_update(Md5 &m, Bytes data);
// Returns the digest; m must be initialised again before reuse.
Md5Digest md5_final(Md5 &m);
// Returns the MD5 digest of data.
Md5Digest md5(Bytes data);

// ---- SHA-2 (FIPS 180-4) -----------------------------------------------
using Sha256Digest = std::array<uint8_t, 32>;
using Sha384Digest = std::array<uint8_t, 48>;
using Sha512Digest = std::array<uint8_t, 64>;

struct Sha256 {
  uint32_t state[8];
  uint64_t length;
  uint8_t block[64];
};

// SHA-384 is SHA-512 with other initial values, cut to 48 bytes.
struct Sha512 {
  uint64_t state[8];
  uint64_t length;     // bytes hashed so far (inputs stay far below 2^64)
  uint8_t block[128];
};

void sha256_init(Sha256 &s);
void sha256_update(Sha256 &s, Bytes data);
Sha256Digest sha256_final(Sha256 &s);
Sha256Digest sha256(Bytes data);

void sha384_init(Sha512 &s);
void sha512_init(Sha512 &s);
void sha512_update(Sha512 &s, Bytes data);  // for SHA-384 as well
Sha384Digest sha384_final(Sha512 &s);
Sha512Digest sha512_final(Sha512 &s);
Sha384Digest sha384(Bytes data);
Sha512Digest sha512(Bytes data);

// ---- RC4 ----------------------------------------------------------------
struct Rc4 {
  uint8_t s[256];
  uint8_t i, j;
};

// Keys of 1 to 256 bytes; an empty key gives the state of a one-byte 0 key.
void rc4_init(Rc4 &r, Bytes key);
// XORs the next bytes of the key stream into data, in place.
void rc4_apply(Rc4 &r, std::span<uint8_t> data);

// ---- AES (FIPS 197) -----------------------------------------------------
struct AesKey {
  uint32_t round_keys[60];  // encryption schedule
  uint32_t inverse_keys[60];  // decryption schedule (equivalent inverse cipher)
  int rounds = 0;  // 10 for 128-bit keys, 14 for 256-bit keys; 0 when unset
};

// Returns false, leaving rounds 0, for a key that is not 16 or 32 bytes.
bool aes_set_key(AesKey &k, Bytes key);
// One block; in and out may be the same. With a key aes_set_key did not
// accept, out is all zeros.
void aes_encrypt_block(const AesKey &k, const uint8_t in[16], uint8_t out[16]);
void aes_decrypt_block(const AesKey &k, const uint8_t in[16], uint8_t out[16]);
// CBC over whole blocks, in place; iv is the 16-byte initialisation vector.
// Returns false, changing nothing, when data is not a multiple of 16 bytes
// or the key was not accepted.
bool aes_cbc_encrypt(const AesKey &k, const uint8_t iv[16], std::span<uint8_t> data);
bool aes_cbc_decrypt(const AesKey &k, const uint8_t iv[16], std::span<uint8_t> data);

}  // namespace crypto
