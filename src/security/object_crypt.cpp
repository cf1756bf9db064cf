// The encryption of one object's strings and stream data. RC4 and AES-128
// use a key of their own for each object: MD5 of the file key, the low 3
// bytes of the object number and the low 2 of the generation (and "sAlT"
// for AES), cut to the file key's length plus 5, at most 16. AES-256 uses
// the file key itself. AES data is a 16-byte IV followed by CBC blocks
// padded as PKCS#7 pads them.
#include <cstring>

#include "crypto/crypto.h"
#include "platform/random_bytes.h"
#include "security/security.h"

namespace {

// Returns true with the key of the method for object num gen; false when
// the file key cannot serve the method (AES-256 needs 32 bytes, the others
// the 5 to 16 of revisions 2-4).
bool object_key(const SecurityKey &key, CryptMethod method, int32_t num, int32_t gen,
                std::vector<uint8_t> &out) {
  const size_t n = key.file_key.size();
  if (method == CryptMethod::aesv3) {
    out = key.file_key;
    return n == 32;
  }
  if (n < 5 || n > 16) return false;
  const auto nu = static_cast<uint32_t>(num);
  const auto gu = static_cast<uint32_t>(gen);
  const uint8_t tail[9] = {static_cast<uint8_t>(nu), static_cast<uint8_t>(nu >> 8),
                           static_cast<uint8_t>(nu >> 16), static_cast<uint8_t>(gu),
                           static_cast<uint8_t>(gu >> 8), 's', 'A', 'l', 'T'};
  crypto::Md5 m;
  crypto::md5_init(m);
  crypto::md5_update(m, key.file_key);
  crypto::md5_update(m, crypto::Bytes(tail, method == CryptMethod::aesv2 ? 9 : 5));
  const crypto::Md5Digest digest = crypto::md5_final(m);
  out.assign(digest.begin(), digest.begin() + static_cast<std::ptrdiff_t>(n + 5 > 16 ? 16 : n + 5));
  return true;
}

// Returns true with the AES key of the method for object num gen.
bool aes_key(const SecurityKey &key, CryptMethod method, int32_t num, int32_t gen,
             crypto::AesKey &aes) {
  std::vector<uint8_t> k;
  return object_key(key, method, num, gen, k) && crypto::aes_set_key(aes, k);
}

// Returns the count of padding bytes at the end of whole decrypted blocks,
// or 0 when the last block does not end in valid padding (1 to 16 bytes,
// each holding the count).
size_t padding_size(const std::vector<uint8_t> &plain) {
  if (plain.empty()) return 0;
  const uint8_t pad = plain.back();
  if (pad == 0 || pad > 16 || pad > plain.size()) return 0;
  for (size_t i = plain.size() - pad; i < plain.size(); ++i)
    if (plain[i] != pad) return 0;
  return pad;
}

}  // namespace

bool decrypt_data(const SecurityKey &key, CryptMethod method, int32_t num, int32_t gen, Bytes in,
                  std::vector<uint8_t> &out) {
  out.clear();
  if (method == CryptMethod::identity) {
    out.assign(in.begin(), in.end());
    return true;
  }
  if (method == CryptMethod::rc4) {
    std::vector<uint8_t> k;
    if (!object_key(key, method, num, gen, k)) return false;
    crypto::Rc4 rc4;
    crypto::rc4_init(rc4, k);
    out.assign(in.begin(), in.end());
    crypto::rc4_apply(rc4, out);
    return true;
  }
  crypto::AesKey aes;
  if (!aes_key(key, method, num, gen, aes)) return false;
  // Less than an IV holds nothing.
  if (in.size() < 16) return true;
  const Bytes body = in.subspan(16);
  // A last block cut short is completed with zero bytes and decrypted as
  // well, as other readers do, rather than the whole data refused.
  out.assign(body.begin(), body.end());
  out.resize((body.size() + 15) / 16 * 16, 0);
  crypto::aes_cbc_decrypt(aes, in.data(), out);
  out.resize(out.size() - padding_size(out));
  return true;
}

bool encrypt_data(const SecurityKey &key, CryptMethod method, int32_t num, int32_t gen, Bytes in,
                  std::vector<uint8_t> &out) {
  if (method != CryptMethod::aesv2 && method != CryptMethod::aesv3)
    return decrypt_data(key, method, num, gen, in, out);  // RC4 and identity are their own inverse
  out.clear();
  crypto::AesKey aes;
  if (!aes_key(key, method, num, gen, aes)) return false;
  const size_t pad = 16 - in.size() % 16;
  out.resize(16 + in.size() + pad);
  if (!random_bytes(std::span<uint8_t>(out).first(16))) {
    out.clear();
    return false;
  }
  if (!in.empty()) std::memcpy(out.data() + 16, in.data(), in.size());
  std::memset(out.data() + 16 + in.size(), static_cast<int>(pad), pad);
  crypto::aes_cbc_encrypt(aes, out.data(), std::span<uint8_t>(out).subspan(16));
  return true;
}
