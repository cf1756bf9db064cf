// File keys of revisions 2 to 4: MD5 over the padded password, /O, /P and
// the file's first /ID string (50 more rounds from revision 3), checked by
// encrypting the padding (revision 2) or its MD5 with the file's ID
// (revisions 3 and 4) with RC4 and comparing with /U. The owner password
// decrypts /O into the user password.
#include <cstring>

#include "crypto/crypto.h"
#include "security/security_internal.h"

namespace {

// Applies RC4 with the key, then (revision 3 and later) 19 more times with
// each byte of the key XORed with the round's number: upward to encrypt,
// downward to decrypt.
void rc4_rounds(const EncryptParams &params, const std::vector<uint8_t> &key, uint8_t *data,
                size_t size, bool decrypt) {
  const int rounds = params.r >= 3 ? 20 : 1;
  std::vector<uint8_t> round_key(key.size());
  for (int k = 0; k < rounds; ++k) {
    const int x = decrypt ? rounds - 1 - k : k;
    for (size_t i = 0; i < key.size(); ++i) round_key[i] = static_cast<uint8_t>(key[i] ^ x);
    crypto::Rc4 rc4;
    crypto::rc4_init(rc4, round_key);
    crypto::rc4_apply(rc4, {data, size});
  }
}

// Returns the file key of n bytes that a padded user password gives.
std::vector<uint8_t> file_key(const EncryptParams &params, std::string_view id0,
                              const PaddedPassword &password, size_t n) {
  crypto::Md5 m;
  crypto::md5_init(m);
  crypto::md5_update(m, password);
  crypto::md5_update(m, bytes_of(params.o).first(32));
  const auto p = static_cast<uint32_t>(params.p);
  const uint8_t p_bytes[4] = {static_cast<uint8_t>(p), static_cast<uint8_t>(p >> 8),
                              static_cast<uint8_t>(p >> 16), static_cast<uint8_t>(p >> 24)};
  crypto::md5_update(m, p_bytes);
  crypto::md5_update(m, bytes_of(id0));
  if (params.r >= 4 && !params.encrypt_metadata) {
    const uint8_t all_ones[4] = {0xFF, 0xFF, 0xFF, 0xFF};
    crypto::md5_update(m, all_ones);
  }
  crypto::Md5Digest digest = crypto::md5_final(m);
  if (params.r >= 3)
    for (int i = 0; i < 50; ++i) digest = crypto::md5(crypto::Bytes(digest).first(n));
  return {digest.begin(), digest.begin() + static_cast<std::ptrdiff_t>(n)};
}

// Returns true when the key encrypts to what /U holds: all 32 bytes for
// revision 2, the first 16 for later ones (the rest is arbitrary).
bool matches_u(const EncryptParams &params, std::string_view id0, const std::vector<uint8_t> &key) {
  PaddedPassword u = kPasswordPadding;
  size_t compared = 32;
  if (params.r >= 3) {
    crypto::Md5 m;
    crypto::md5_init(m);
    crypto::md5_update(m, kPasswordPadding);
    crypto::md5_update(m, bytes_of(id0));
    const crypto::Md5Digest digest = crypto::md5_final(m);
    std::memcpy(u.data(), digest.data(), digest.size());
    compared = 16;
  }
  rc4_rounds(params, key, u.data(), compared, false);
  return std::memcmp(u.data(), params.u.data(), compared) == 0;
}

}  // namespace

bool user_key_rc4(const EncryptParams &params, std::string_view id0, const PaddedPassword &password,
                  size_t n, std::vector<uint8_t> &key) {
  key = file_key(params, id0, password, n);
  return matches_u(params, id0, key);
}

bool owner_key_rc4(const EncryptParams &params, std::string_view id0, const PaddedPassword &password,
                   size_t n, std::vector<uint8_t> &key) {
  crypto::Md5Digest digest = crypto::md5(password);
  if (params.r >= 3)
    for (int i = 0; i < 50; ++i) digest = crypto::md5(digest);
  const std::vector<uint8_t> owner_key(digest.begin(), digest.begin() + static_cast<std::ptrdiff_t>(n));
  PaddedPassword user;
  std::memcpy(user.data(), params.o.data(), user.size());
  rc4_rounds(params, owner_key, user.data(), user.size(), true);
  return user_key_rc4(params, id0, user, n, key);
}
