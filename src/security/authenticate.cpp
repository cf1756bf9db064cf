// Authentication: which handler, revision and methods the dictionary asks
// for, whether its key strings are there, then the password tried as the
// owner's and as the user's, and the permissions that result.
#include <algorithm>
#include <string>

#include "security/security_internal.h"

namespace {

// Returns true when the handler, revision and version are ones this handler
// serves; false with why otherwise.
bool supported_revision(const EncryptParams &params, std::string &why) {
  if (params.filter != "Standard") {
    const bool public_key = params.filter == "Adobe.PubSec" ||
                            params.sub_filter.rfind("adbe.pkcs7", 0) == 0;
    why = std::string(public_key ? "the public-key security handler /" : "the security handler /") +
          params.filter + " is not supported";
    return false;
  }
  if (params.r < 2 || params.r > 6) {
    why = "security handler revision " + std::to_string(params.r) + " is not supported";
    return false;
  }
  const bool v_fits = params.r <= 4 ? params.v == 1 || params.v == 2 || params.v == 4 : params.v == 5;
  if (!v_fits) {
    why = "encryption version /V " + std::to_string(params.v) + " with revision " +
          std::to_string(params.r) + " is not supported";
    return false;
  }
  return true;
}

// Returns true with the methods of strings, streams and embedded files:
// RC4 throughout below /V 4, else the crypt filters /StrF, /StmF and /EFF
// name; false with why for a method missing or not of the revision's kind.
bool settle_methods(const EncryptParams &params, SecurityKey &key, std::string &why) {
  if (params.v < 4) {
    key.strings = key.streams = key.embedded_files = CryptMethod::rc4;
    return true;
  }
  if (!crypt_filter_method(params, params.str_f, key.strings, why) ||
      !crypt_filter_method(params, params.stm_f, key.streams, why) ||
      !crypt_filter_method(params, params.eff, key.embedded_files, why))
    return false;
  for (const CryptMethod m : {key.strings, key.streams, key.embedded_files}) {
    // AES-256 needs the 32-byte key of revisions 5 and 6, which serve only it.
    if (m != CryptMethod::identity && (m == CryptMethod::aesv3) != (params.r >= 5)) {
      why = "revision " + std::to_string(params.r) + " with the crypt filter method " +
            (m == CryptMethod::aesv3 ? "/AESV3" : m == CryptMethod::rc4 ? "/V2" : "/AESV2") +
            " is not supported";
      return false;
    }
  }
  return true;
}

// Returns true when each key string is at least as long as the revision
// reads it; false with why naming the first that is not.
bool strings_long_enough(const EncryptParams &params, std::string &why) {
  struct Need {
    const char *name;
    const std::string &bytes;
    size_t size;
  };
  const bool aes = params.r >= 5;
  const Need needs[] = {
      {"O", params.o, aes ? 48u : 32u},
      {"U", params.u, aes ? 48u : params.r == 2 ? 32u : 16u},
      {"OE", params.oe, aes ? 32u : 0u},
      {"UE", params.ue, aes ? 32u : 0u},
  };
  for (const Need &n : needs) {
    if (n.bytes.size() < n.size) {
      why = "the /Encrypt dictionary's /" + std::string(n.name) + " holds " +
            std::to_string(n.bytes.size()) + " bytes; revision " +
            std::to_string(params.r) + " needs " + std::to_string(n.size);
      return false;
    }
  }
  if (!params.p_given) {
    why = "the /Encrypt dictionary has no /P";
    return false;
  }
  return true;
}

// Returns the key lengths in bytes to try for revisions 3 and 4, the one
// the dictionary states first. Producers disagree where /Length is
// missing, odd or at odds with /V: some take 40 bits, some 128; the check
// against /U tells which one the file was made with, so each is tried.
std::vector<size_t> key_lengths(const EncryptParams &params) {
  if (params.r == 2) return {5};
  const bool valid = params.length_given && params.length_bits >= 40 && params.length_bits <= 128 &&
                     params.length_bits % 8 == 0;
  const size_t stated = valid ? static_cast<size_t>(params.length_bits / 8) : 5;
  std::vector<size_t> out;
  const auto add = [&out](size_t n) {
    if (std::find(out.begin(), out.end(), n) == out.end()) out.push_back(n);
  };
  // /V 1 means 40 bits and /V 4 means 128, whatever /Length says.
  add(params.v == 1 ? 5 : params.v == 4 ? 16 : stated);
  add(stated);
  add(5);
  add(16);
  return out;
}

// Returns user or owner with key.file_key set, or wrong.
Authentication try_password(const EncryptParams &params, std::string_view id0,
                            std::string_view password, SecurityKey &key) {
  if (params.r >= 5) {
    const std::string_view bytes = aes_password(password);
    if (owner_key_aes(params, bytes, key.file_key)) return Authentication::owner;
    if (user_key_aes(params, bytes, key.file_key)) return Authentication::user;
    return Authentication::wrong;
  }
  const PaddedPassword padded = padded_password(password);
  const std::vector<size_t> lengths = key_lengths(params);
  for (const size_t n : lengths)
    if (owner_key_rc4(params, id0, padded, n, key.file_key)) return Authentication::owner;
  for (const size_t n : lengths)
    if (user_key_rc4(params, id0, padded, n, key.file_key)) return Authentication::user;
  return Authentication::wrong;
}

}  // namespace

Authentication authenticate(const EncryptParams &params, std::string_view id0,
                            std::string_view password, SecurityKey &out, std::string &why) {
  out = SecurityKey{};
  why.clear();
  if (!supported_revision(params, why) || !settle_methods(params, out, why))
    return Authentication::unsupported;
  if (!strings_long_enough(params, why)) return Authentication::damaged;
  const Authentication result = try_password(params, id0, password, out);
  if (result == Authentication::wrong) {
    out = SecurityKey{};
    why = "the password is neither the user nor the owner password";
    return result;
  }
  out.owner = result == Authentication::owner;
  out.revision = params.r;
  out.encrypt_metadata = params.encrypt_metadata;
  out.permissions = params.p;
  if (params.r >= 5) {
    int32_t stated = 0;
    const bool readable = perms_bits(params, out.file_key, stated);
    out.perms_match = readable && stated == params.p;
    // A /P that grants more than its encrypted copy has been changed: only
    // what both grant stands.
    if (readable) out.permissions &= stated;
  }
  return result;
}
