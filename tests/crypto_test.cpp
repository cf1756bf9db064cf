// MD5, SHA-256/384/512, RC4 and AES against the vectors their authors
// published and, where OpenSSL's libcrypto was found at build time, against
// it on random data; random_bytes against what any source of random bytes
// must do.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <random>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#if FOLIMARK_HAVE_OPENSSL
#include <openssl/evp.h>
#include <openssl/opensslv.h>
#if OPENSSL_VERSION_NUMBER >= 0x30000000L
#include <openssl/provider.h>
#endif
#endif

#include "crypto/crypto.h"
#include "platform/random_bytes.h"

namespace {

using Buffer = std::vector<uint8_t>;

Buffer from_hex(std::string_view hex) {
  Buffer out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) {
    out.push_back(static_cast<uint8_t>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16)));
  }
  return out;
}

std::string to_hex(std::span<const uint8_t> bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  for (const uint8_t b : bytes) {
    out += kDigits[b >> 4];
    out += kDigits[b & 15];
  }
  return out;
}

std::span<const uint8_t> bytes_of(std::string_view s) {
  return {reinterpret_cast<const uint8_t *>(s.data()), s.size()};
}

enum class Hash { md5, sha256, sha384, sha512 };

// Returns the hex digest of data taken in updates that end at each cut
// (ascending) and one more for the rest.
template <typename State, typename Digest>
std::string digest_in_pieces(void (*init)(State &), void (*update)(State &, crypto::Bytes),
                             Digest (*final)(State &), std::span<const uint8_t> data,
                             std::span<const size_t> cuts) {
  State state;
  init(state);
  size_t from = 0;
  for (const size_t cut : cuts) {
    update(state, data.subspan(from, cut - from));
    from = cut;
  }
  update(state, data.subspan(from));
  return to_hex(final(state));
}

// Returns the hex digest of data: by the one-call function when cuts is
// empty, otherwise in pieces.
std::string digest_hex(Hash hash, std::span<const uint8_t> data, std::span<const size_t> cuts = {}) {
  using namespace crypto;
  const bool whole = cuts.empty();
  switch (hash) {
    case Hash::md5:
      return whole ? to_hex(md5(data)) : digest_in_pieces(md5_init, md5_update, md5_final, data, cuts);
    case Hash::sha256:
      return whole ? to_hex(sha256(data))
                   : digest_in_pieces(sha256_init, sha256_update, sha256_final, data, cuts);
    case Hash::sha384:
      return whole ? to_hex(sha384(data))
                   : digest_in_pieces(sha384_init, sha512_update, sha384_final, data, cuts);
    case Hash::sha512:
      return whole ? to_hex(sha512(data))
                   : digest_in_pieces(sha512_init, sha512_update, sha512_final, data, cuts);
  }
  return {};
}

// Cuts after every byte: each update takes one byte.
std::vector<size_t> every_byte(size_t length) {
  std::vector<size_t> cuts;
  for (size_t i = 1; i < length; ++i) cuts.push_back(i);
  return cuts;
}

// --- published digests --------------------------------------------------------

struct DigestVector {
  Hash hash;
  std::string_view message;
  size_t repeat;  // the message is this many copies of `message`
  std::string_view digest;
};

constexpr std::string_view kTwoBlocks448 = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
constexpr std::string_view kTwoBlocks896 =
    "abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopqrs"
    "mnopqrstnopqrstu";

// MD5: the test suite of RFC 1321 appendix A.5. SHA-2: the example
// messages of FIPS 180-4 ("abc", the 448 and 896-bit messages, a million
// 'a'), each through all three hashes.
const DigestVector kDigestVectors[] = {
    {Hash::md5, "", 1, "d41d8cd98f00b204e9800998ecf8427e"},
    {Hash::md5, "a", 1, "0cc175b9c0f1b6a831c399e269772661"},
    {Hash::md5, "abc", 1, "900150983cd24fb0d6963f7d28e17f72"},
    {Hash::md5, "message digest", 1, "f96b697d7cb7938d525a2f31aaf161d0"},
    {Hash::md5, "abcdefghijklmnopqrstuvwxyz", 1, "c3fcd3d76192e4007dfb496cca67e13b"},
    {Hash::md5, "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", 1,
     "d174ab98d277d9f5a5611c2c9f419d9f"},
    {Hash::md5, "1234567890", 8, "57edf4a22be3c955ac49da2e2107b67a"},
    {Hash::sha256, "abc", 1, "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
    {Hash::sha256, kTwoBlocks448, 1, "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
    {Hash::sha256, kTwoBlocks896, 1, "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1"},
    {Hash::sha256, "a", 1000000, "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    {Hash::sha384, "abc", 1,
     "cb00753f45a35e8bb5a03d699ac65007272c32ab0eded1631a8b605a43ff5bed8086072ba1e7cc2358baeca134c825a7"},
    {Hash::sha384, kTwoBlocks448, 1,
     "3391fdddfc8dc7393707a65b1b4709397cf8b1d162af05abfe8f450de5f36bc6b0455a8520bc4e6f5fe95b1fe3c8452b"},
    {Hash::sha384, kTwoBlocks896, 1,
     "09330c33f71147e83d192fc782cd1b4753111b173b3b05d22fa08086e3b0f712fcc7c71a557e2db966c3e9fa91746039"},
    {Hash::sha384, "a", 1000000,
     "9d0e1809716474cb086e834e310a4a1ced149e9c00f248527972cec5704c2a5b07b8b3dc38ecc4ebae97ddd87f3d8985"},
    {Hash::sha512, "abc", 1,
     "ddaf35a193617abacc417349ae20413112e6fa4e89a97ea20a9eeee64b55d39a"
     "2192992a274fc1a836ba3c23a3feebbd454d4423643ce80e2a9ac94fa54ca49f"},
    {Hash::sha512, kTwoBlocks448, 1,
     "204a8fc6dda82f0a0ced7beb8e08a41657c16ef468b228a8279be331a703c335"
     "96fd15c13b1b07f9aa1d3bea57789ca031ad85c7a71dd70354ec631238ca3445"},
    {Hash::sha512, kTwoBlocks896, 1,
     "8e959b75dae313da8cf4f72814fc143f8f7779c6eb9f7fa17299aeadb6889018"
     "501d289e4900f7e4331b99dec4b5433ac7d329eeb6dd26545e96e55b874be909"},
    {Hash::sha512, "a", 1000000,
     "e718483d0ce769644e2e42c7bc15b4638e1f98b13b2044285632a803afa973eb"
     "de0ff244877ea60a4cb0432ce577c31beb009c5c2c49aa2e4eadb217ad8cc09b"},
};

// Guards the round functions, constants, padding and length field, and the
// buffering of updates that do not end on a block boundary.
TEST(Crypto, DigestsMatchPublishedVectors) {
  for (const DigestVector &v : kDigestVectors) {
    std::string message;
    for (size_t i = 0; i < v.repeat; ++i) message += v.message;
    SCOPED_TRACE(std::string(v.message.substr(0, 16)) + " x" + std::to_string(v.repeat) + " -> " +
                 std::string(v.digest.substr(0, 8)));
    EXPECT_EQ(digest_hex(v.hash, bytes_of(message)), v.digest);
    EXPECT_EQ(digest_hex(v.hash, bytes_of(message), every_byte(message.size())), v.digest);
  }
}

// --- RC4 ------------------------------------------------------------------------

struct Rc4Vector {
  std::string_view key;
  size_t offset;  // position of these bytes in the key stream
  std::string_view stream;
};

// RFC 6229: the 40, 128 and 256-bit keys 01 02 03 ..., at six offsets each.
const Rc4Vector kRc4Vectors[] = {
    {"0102030405", 0, "b2396305f03dc027ccc3524a0a1118a8"},
    {"0102030405", 16, "6982944f18fc82d589c403a47a0d0919"},
    {"0102030405", 240, "28cb1132c96ce286421dcaadb8b69eae"},
    {"0102030405", 256, "1cfcf62b03eddb641d77dfcf7f8d8c93"},
    {"0102030405", 1520, "3294f744d8f9790507e70f62e5bbceea"},
    {"0102030405", 4080, "068326a2118416d21f9d04b2cd1ca050"},
    {"0102030405060708090a0b0c0d0e0f10", 0, "9ac7cc9a609d1ef7b2932899cde41b97"},
    {"0102030405060708090a0b0c0d0e0f10", 16, "5248c4959014126a6e8a84f11d1a9e1c"},
    {"0102030405060708090a0b0c0d0e0f10", 240, "065902e4b620f6cc36c8589f66432f2b"},
    {"0102030405060708090a0b0c0d0e0f10", 256, "d39d566bc6bce3010768151549f3873f"},
    {"0102030405060708090a0b0c0d0e0f10", 1520, "b40110c4190b5622a96116b0017ed297"},
    {"0102030405060708090a0b0c0d0e0f10", 4080, "ff38265c1642c1abe8d3c2fe5e572bf8"},
    {"0102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f20", 0,
     "eaa6bd25880bf93d3f5d1e4ca2611d91"},
    {"0102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f20", 16,
     "cfa45c9f7e714b54bdfa80027cb14380"},
    {"0102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f20", 240,
     "114ae344ded71b35f2e60febad727fd8"},
    {"0102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f20", 256,
     "02e1e7056b0f623900496422943e97b6"},
    {"0102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f20", 1520,
     "40f250b26d1f096a4afd4c340a588815"},
    {"0102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f20", 4080,
     "a13a7c79c7e119b5ab0296ab28c300b9"},
};

// Guards the key schedule and the state carried from one call to the next:
// the bytes before the offset are taken in two calls of uneven length.
TEST(Crypto, Rc4MatchesPublishedKeyStreams) {
  for (const Rc4Vector &v : kRc4Vectors) {
    SCOPED_TRACE(std::string(v.key) + " at " + std::to_string(v.offset));
    const Buffer key = from_hex(v.key);
    crypto::Rc4 r;
    crypto::rc4_init(r, key);
    Buffer skipped(v.offset);
    crypto::rc4_apply(r, std::span(skipped).first(v.offset / 3));
    crypto::rc4_apply(r, std::span(skipped).subspan(v.offset / 3));
    Buffer stream(16);  // zeros, so the XOR leaves the key stream itself
    crypto::rc4_apply(r, stream);
    EXPECT_EQ(to_hex(stream), v.stream);
  }
}

// An empty key cannot drive the schedule; it stands for the key 00.
TEST(Crypto, Rc4EmptyKeyIsTheZeroByteKey) {
  const uint8_t zero[1] = {0};
  crypto::Rc4 empty, single;
  crypto::rc4_init(empty, {});
  crypto::rc4_init(single, zero);
  Buffer a(64), b(64);
  crypto::rc4_apply(empty, a);
  crypto::rc4_apply(single, b);
  EXPECT_EQ(a, b);
}

// --- AES ------------------------------------------------------------------------

struct AesBlockVector {
  std::string_view key, plain, cipher;
};

// FIPS 197 appendix B (the worked example) and C.1 and C.3 (128 and
// 256-bit keys).
const AesBlockVector kAesBlockVectors[] = {
    {"2b7e151628aed2a6abf7158809cf4f3c", "3243f6a8885a308d313198a2e0370734",
     "3925841d02dc09fbdc118597196a0b32"},
    {"000102030405060708090a0b0c0d0e0f", "00112233445566778899aabbccddeeff",
     "69c4e0d86a7b0430d8cdb78070b4c55a"},
    {"000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f",
     "00112233445566778899aabbccddeeff", "8ea2b7ca516745bfeafc49904b496089"},
};

// Guards the key expansion of both key sizes, the round tables, and the
// decryption schedule of the equivalent inverse cipher.
TEST(Crypto, AesBlocksMatchPublishedVectors) {
  for (const AesBlockVector &v : kAesBlockVectors) {
    SCOPED_TRACE(v.key);
    crypto::AesKey key;
    ASSERT_TRUE(crypto::aes_set_key(key, from_hex(v.key)));
    const Buffer plain = from_hex(v.plain), cipher = from_hex(v.cipher);
    uint8_t out[16];
    crypto::aes_encrypt_block(key, plain.data(), out);
    EXPECT_EQ(to_hex(out), v.cipher);
    crypto::aes_decrypt_block(key, cipher.data(), out);
    EXPECT_EQ(to_hex(out), v.plain);
  }
}

struct AesCbcVector {
  std::string_view key, iv, plain, cipher;
};

// NIST SP 800-38A F.2.1 and F.2.2 (AES-128), F.2.5 and F.2.6 (AES-256):
// one row each, encrypted one way and decrypted the other.
const AesCbcVector kAesCbcVectors[] = {
    {"2b7e151628aed2a6abf7158809cf4f3c", "000102030405060708090a0b0c0d0e0f",
     "6bc1bee22e409f96e93d7e117393172aae2d8a571e03ac9c9eb76fac45af8e51"
     "30c81c46a35ce411e5fbc1191a0a52eff69f2445df4f9b17ad2b417be66c3710",
     "7649abac8119b246cee98e9b12e9197d5086cb9b507219ee95db113a917678b2"
     "73bed6b8e3c1743b7116e69e222295163ff1caa1681fac09120eca307586e1a7"},
    {"603deb1015ca71be2b73aef0857d77811f352c073b6108d72d9810a30914dff4",
     "000102030405060708090a0b0c0d0e0f",
     "6bc1bee22e409f96e93d7e117393172aae2d8a571e03ac9c9eb76fac45af8e51"
     "30c81c46a35ce411e5fbc1191a0a52eff69f2445df4f9b17ad2b417be66c3710",
     "f58c4c04d6e5f1ba779eabfb5f7bfbd69cfc4e967edb808d679f777bc6702c7d"
     "39f23369a9d9bacfa530e26304231461b2eb05e2c39be9fcda6c19078c6a9d1b"},
};

// Guards the chaining: each block takes the one before it, the first the IV.
TEST(Crypto, AesCbcMatchesPublishedVectors) {
  for (const AesCbcVector &v : kAesCbcVectors) {
    SCOPED_TRACE(v.key);
    crypto::AesKey key;
    ASSERT_TRUE(crypto::aes_set_key(key, from_hex(v.key)));
    const Buffer iv = from_hex(v.iv);
    Buffer data = from_hex(v.plain);
    ASSERT_TRUE(crypto::aes_cbc_encrypt(key, iv.data(), data));
    EXPECT_EQ(to_hex(data), v.cipher);
    ASSERT_TRUE(crypto::aes_cbc_decrypt(key, iv.data(), data));
    EXPECT_EQ(to_hex(data), v.plain);
  }
}

// Refused: keys of other lengths (192-bit keys are not offered), CBC over
// a partial block, and CBC with a key that was never set. Nothing changes.
TEST(Crypto, AesRefusesWhatItDoesNotOffer) {
  crypto::AesKey key;
  for (const size_t length : {0, 15, 17, 24, 31, 33}) {
    const Buffer bytes(length, 7);
    EXPECT_FALSE(crypto::aes_set_key(key, bytes)) << length;
    EXPECT_EQ(key.rounds, 0);
  }
  const uint8_t iv[16] = {};
  Buffer data(40, 9);
  EXPECT_FALSE(crypto::aes_cbc_encrypt(key, iv, std::span(data).first(32)));
  ASSERT_TRUE(crypto::aes_set_key(key, Buffer(16, 1)));
  EXPECT_FALSE(crypto::aes_cbc_encrypt(key, iv, data));
  EXPECT_FALSE(crypto::aes_cbc_decrypt(key, iv, data));
  EXPECT_EQ(data, Buffer(40, 9));
  EXPECT_TRUE(crypto::aes_cbc_encrypt(key, iv, {}));
}

// --- against OpenSSL's libcrypto on random data ----------------------------------

#if FOLIMARK_HAVE_OPENSSL
constexpr bool kHaveOpenssl = true;

std::string openssl_digest(Hash hash, std::span<const uint8_t> data) {
  const EVP_MD *md = hash == Hash::md5      ? EVP_md5()
                     : hash == Hash::sha256 ? EVP_sha256()
                     : hash == Hash::sha384 ? EVP_sha384()
                                            : EVP_sha512();
  uint8_t out[EVP_MAX_MD_SIZE];
  unsigned length = 0;
  if (EVP_Digest(data.data(), data.size(), out, &length, md, nullptr) != 1) {
    ADD_FAILURE() << "EVP_Digest failed";
    return {};
  }
  return to_hex(std::span(out, length));
}

// Returns data run through cipher in one call, without padding; empty with
// a failure when OpenSSL refuses.
Buffer openssl_cipher(const EVP_CIPHER *cipher, bool encrypt, const Buffer &key, const uint8_t *iv,
                      const Buffer &data) {
  Buffer out(data.size() + 32);
  int length = 0, final_length = 0;
  EVP_CIPHER_CTX *ctx = EVP_CIPHER_CTX_new();
  const bool ok = ctx != nullptr &&
                  EVP_CipherInit_ex(ctx, cipher, nullptr, nullptr, nullptr, encrypt) == 1 &&
                  EVP_CIPHER_CTX_set_key_length(ctx, static_cast<int>(key.size())) == 1 &&
                  EVP_CipherInit_ex(ctx, nullptr, nullptr, key.data(), iv, encrypt) == 1 &&
                  EVP_CIPHER_CTX_set_padding(ctx, 0) == 1 &&
                  EVP_CipherUpdate(ctx, out.data(), &length, data.data(),
                                   static_cast<int>(data.size())) == 1 &&
                  EVP_CipherFinal_ex(ctx, out.data() + length, &final_length) == 1;
  EVP_CIPHER_CTX_free(ctx);
  if (!ok) {
    ADD_FAILURE() << "OpenSSL refused the cipher";
    return {};
  }
  out.resize(static_cast<size_t>(length + final_length));
  return out;
}

Buffer openssl_aes_cbc(bool encrypt, const Buffer &key, const Buffer &iv, const Buffer &data) {
  return openssl_cipher(key.size() == 16 ? EVP_aes_128_cbc() : EVP_aes_256_cbc(), encrypt, key,
                        iv.data(), data);
}

// OpenSSL 3 keeps RC4 in its legacy provider; loading it by name also ends
// the implicit loading of the default one, so both are loaded, for the
// rest of the run.
bool openssl_has_rc4() {
#if OPENSSL_VERSION_NUMBER >= 0x30000000L
  struct Providers {
    OSSL_PROVIDER *legacy = OSSL_PROVIDER_load(nullptr, "legacy");
    OSSL_PROVIDER *fallback = OSSL_PROVIDER_load(nullptr, "default");
    ~Providers() {
      if (legacy != nullptr) OSSL_PROVIDER_unload(legacy);
      if (fallback != nullptr) OSSL_PROVIDER_unload(fallback);
    }
  };
  static const Providers providers;
  return providers.legacy != nullptr && providers.fallback != nullptr;
#else
  return true;
#endif
}

Buffer openssl_rc4(const Buffer &key, const Buffer &data) {
  return openssl_cipher(EVP_rc4(), true, key, nullptr, data);
}
#else
constexpr bool kHaveOpenssl = false;
std::string openssl_digest(Hash, std::span<const uint8_t>) { return {}; }
Buffer openssl_aes_cbc(bool, const Buffer &, const Buffer &, const Buffer &) { return {}; }
bool openssl_has_rc4() { return false; }
Buffer openssl_rc4(const Buffer &, const Buffer &) { return {}; }
#endif

constexpr const char *kNoOpenssl = "OpenSSL's libcrypto was not found when this test was built";

// Around the padding's edges (55/56 bytes of the last block, 111/112 for
// SHA-512), block sizes and their neighbours, and a few long inputs.
constexpr size_t kLengths[] = {0,   1,   15,  16,   17,   55,    56,     63,          64,
                               65,  111, 112, 127,  128,  129,   1000,   4096 + 13,
                               65536, 100003, (1 << 20) + 7};

Buffer random_buffer(std::mt19937 &rng, size_t length) {
  Buffer out(length);
  for (uint8_t &b : out) b = static_cast<uint8_t>(rng());
  return out;
}

// Returns count random cuts of [0, length], ascending; equal cuts make
// empty updates.
std::vector<size_t> random_cuts(std::mt19937 &rng, size_t length, size_t count) {
  std::vector<size_t> cuts(count);
  for (size_t &cut : cuts) cut = rng() % (length + 1);
  std::sort(cuts.begin(), cuts.end());
  return cuts;
}

// Guards what the vectors leave out: every length class of the padding, and
// updates split anywhere, empty ones included.
TEST(Crypto, DigestsMatchOpensslOnRandomData) {
  if (!kHaveOpenssl) GTEST_SKIP() << kNoOpenssl;
  std::mt19937 rng(1321);
  for (const size_t length : kLengths) {
    const Buffer data = random_buffer(rng, length);
    for (const Hash hash : {Hash::md5, Hash::sha256, Hash::sha384, Hash::sha512}) {
      SCOPED_TRACE("hash " + std::to_string(static_cast<int>(hash)) + ", " +
                   std::to_string(length) + " bytes");
      const std::string expected = openssl_digest(hash, data);
      EXPECT_EQ(digest_hex(hash, data), expected);
      for (const size_t count : {1, 2, 7}) {
        EXPECT_EQ(digest_hex(hash, data, random_cuts(rng, length, count)), expected);
      }
    }
  }
}

// Guards the key schedule over random keys and CBC over long runs, both ways.
TEST(Crypto, AesCbcMatchesOpensslOnRandomData) {
  if (!kHaveOpenssl) GTEST_SKIP() << kNoOpenssl;
  std::mt19937 rng(197);
  for (const size_t key_size : {16, 32}) {
    for (const size_t length : kLengths) {
      SCOPED_TRACE(std::to_string(key_size) + "-byte key, " + std::to_string(length) + " bytes");
      const Buffer key = random_buffer(rng, key_size), iv = random_buffer(rng, 16);
      const Buffer plain = random_buffer(rng, length - length % 16);
      crypto::AesKey k;
      ASSERT_TRUE(crypto::aes_set_key(k, key));
      Buffer data = plain;
      ASSERT_TRUE(crypto::aes_cbc_encrypt(k, iv.data(), data));
      EXPECT_EQ(data, openssl_aes_cbc(true, key, iv, plain));
      ASSERT_TRUE(crypto::aes_cbc_decrypt(k, iv.data(), data));
      EXPECT_EQ(data, plain);
      const Buffer theirs = openssl_aes_cbc(true, key, iv, plain);
      data = theirs;
      ASSERT_TRUE(crypto::aes_cbc_decrypt(k, iv.data(), data));
      EXPECT_EQ(data, openssl_aes_cbc(false, key, iv, theirs));
    }
  }
}

// Guards keys of every length class (the 40-bit keys of old documents to
// 256 bytes) and the stream carried across calls split anywhere.
TEST(Crypto, Rc4MatchesOpensslOnRandomData) {
  if (!kHaveOpenssl) GTEST_SKIP() << kNoOpenssl;
  if (!openssl_has_rc4()) GTEST_SKIP() << "OpenSSL's legacy provider, which holds RC4, is absent";
  std::mt19937 rng(6229);
  for (const size_t key_size : {1, 5, 7, 16, 32, 255, 256}) {
    for (const size_t length : kLengths) {
      SCOPED_TRACE(std::to_string(key_size) + "-byte key, " + std::to_string(length) + " bytes");
      const Buffer key = random_buffer(rng, key_size), plain = random_buffer(rng, length);
      crypto::Rc4 r;
      crypto::rc4_init(r, key);
      Buffer data = plain;
      size_t from = 0;
      for (const size_t cut : random_cuts(rng, length, 3)) {
        crypto::rc4_apply(r, std::span(data).subspan(from, cut - from));
        from = cut;
      }
      crypto::rc4_apply(r, std::span(data).subspan(from));
      EXPECT_EQ(data, openssl_rc4(key, plain));
    }
  }
}

// --- random_bytes ---------------------------------------------------------------

TEST(Crypto, RandomBytesFillsAndDiffers) {
  EXPECT_TRUE(random_bytes({}));
  // 100000 bytes: more than one read may be needed, and each must land
  // after the last.
  Buffer a(100000), b(100000);
  ASSERT_TRUE(random_bytes(a));
  ASSERT_TRUE(random_bytes(b));
  EXPECT_NE(a, b);
  // The chance that the last 64 bytes are all zero is 2^-512: they were written.
  EXPECT_NE(Buffer(a.end() - 64, a.end()), Buffer(64, 0));
}

}  // namespace
