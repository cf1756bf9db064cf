// File keys of revisions 5 and 6. /U and /O each hold a 32-byte hash, an
// 8-byte validation salt and an 8-byte key salt; the password hashed with
// the validation salt (and, for the owner, the 48 bytes of /U) must give
// the hash, and hashed with the key salt gives the key that decrypts /UE or
// /OE (AES-256, no IV) into the file key. Revision 5 hashes with SHA-256
// once; revision 6 with rounds of AES-128 and SHA-256/384/512.
#include <cstring>

#include "crypto/crypto.h"
#include "security/security_internal.h"

namespace {

using Hash = std::array<uint8_t, 32>;

// The revision 6 hash ends after at least 64 rounds once the last byte of
// a round's encryption is at most the count of rounds minus 32. That byte
// is at most 255, so round 287 ends it whatever the data: the bound only
// says so to the reader of the loop.
constexpr int kMaxHashRounds = 32 + 255;

// Returns the hash of the password with an 8-byte salt and extra (the 48
// bytes of /U for the owner, nothing for the user).
Hash password_hash(const EncryptParams &params, std::string_view password, crypto::Bytes salt,
                   crypto::Bytes extra) {
  crypto::Sha256 sha;
  crypto::sha256_init(sha);
  crypto::sha256_update(sha, bytes_of(password));
  crypto::sha256_update(sha, salt);
  crypto::sha256_update(sha, extra);
  const crypto::Sha256Digest first = crypto::sha256_final(sha);
  Hash out;
  std::memcpy(out.data(), first.data(), out.size());
  if (params.r < 6) return out;
  uint8_t k[64];  // the latest hash: 32, 48 or 64 bytes
  size_t k_size = first.size();
  std::memcpy(k, first.data(), k_size);
  std::vector<uint8_t> block;  // password, k and extra, 64 times
  for (int round = 0; round < kMaxHashRounds; ++round) {
    block.clear();
    for (int i = 0; i < 64; ++i) {
      block.insert(block.end(), password.begin(), password.end());
      block.insert(block.end(), k, k + k_size);
      block.insert(block.end(), extra.begin(), extra.end());
    }
    crypto::AesKey aes;
    crypto::aes_set_key(aes, crypto::Bytes(k, 16));
    crypto::aes_cbc_encrypt(aes, k + 16, block);  // 64 copies: whole blocks
    // The first 16 bytes as a number modulo 3: 256 is 1 modulo 3, so the
    // sum of the bytes has the same remainder.
    unsigned sum = 0;
    for (int i = 0; i < 16; ++i) sum += block[static_cast<size_t>(i)];
    if (sum % 3 == 0) {
      const crypto::Sha256Digest d = crypto::sha256(block);
      k_size = d.size();
      std::memcpy(k, d.data(), k_size);
    } else if (sum % 3 == 1) {
      const crypto::Sha384Digest d = crypto::sha384(block);
      k_size = d.size();
      std::memcpy(k, d.data(), k_size);
    } else {
      const crypto::Sha512Digest d = crypto::sha512(block);
      k_size = d.size();
      std::memcpy(k, d.data(), k_size);
    }
    if (round >= 63 && block.back() <= round - 31) break;
  }
  std::memcpy(out.data(), k, out.size());
  return out;
}

// Returns true with the file key when the password's hash with the
// validation salt of check (/U or /O) is its first 32 bytes; the hash with
// its key salt then decrypts sealed (/UE or /OE).
bool unseal(const EncryptParams &params, std::string_view password, const std::string &check,
            crypto::Bytes extra, const std::string &sealed, std::vector<uint8_t> &key) {
  const crypto::Bytes c = bytes_of(check);
  const Hash hash = password_hash(params, password, c.subspan(32, 8), extra);
  if (std::memcmp(hash.data(), c.data(), hash.size()) != 0) return false;
  const Hash intermediate = password_hash(params, password, c.subspan(40, 8), extra);
  crypto::AesKey aes;
  crypto::aes_set_key(aes, intermediate);
  key.assign(sealed.begin(), sealed.begin() + 32);
  const uint8_t zero_iv[16] = {};
  crypto::aes_cbc_decrypt(aes, zero_iv, key);
  return true;
}

}  // namespace

bool user_key_aes(const EncryptParams &params, std::string_view password, std::vector<uint8_t> &key) {
  return unseal(params, password, params.u, {}, params.ue, key);
}

bool owner_key_aes(const EncryptParams &params, std::string_view password, std::vector<uint8_t> &key) {
  return unseal(params, password, params.o, bytes_of(params.u).first(48), params.oe, key);
}

bool perms_bits(const EncryptParams &params, const std::vector<uint8_t> &key, int32_t &bits) {
  crypto::AesKey aes;
  if (params.perms.size() < 16 || !crypto::aes_set_key(aes, key)) return false;
  uint8_t plain[16];
  crypto::aes_decrypt_block(aes, reinterpret_cast<const uint8_t *>(params.perms.data()), plain);
  // Bytes 0-3: the permissions, low byte first; 8: 'T' or 'F' for
  // /EncryptMetadata; 9-11: "adb".
  if (std::memcmp(plain + 9, "adb", 3) != 0) return false;
  if (plain[8] != (params.encrypt_metadata ? 'T' : 'F')) return false;
  bits = static_cast<int32_t>(static_cast<uint32_t>(plain[0]) | static_cast<uint32_t>(plain[1]) << 8 |
                              static_cast<uint32_t>(plain[2]) << 16 | static_cast<uint32_t>(plain[3]) << 24);
  return true;
}
