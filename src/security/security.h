// The standard security handler of encrypted PDF documents: what the
// /Encrypt dictionary states, the file key from a user or owner password
// (revisions 2 to 6: 40- to 128-bit RC4, AES-128 and AES-256), the
// permissions it grants, and the encryption of each object's strings and
// stream data (RC4, AES-128 and AES-256 in CBC with the IV first).
//
// Not supported: security handlers other than the standard one (the
// public-key handler /Adobe.PubSec and any other), revisions below 2 or
// above 6, the unpublished /V 3 algorithm, crypt filter methods other than
// /None, /V2, /AESV2 and /AESV3. Passwords of revisions 5 and 6 are taken
// as the UTF-8 bytes given, without SASLprep normalisation.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "pdf/pdf_doc.h"
#include "security/security_key.h"

// One entry of the /CF dictionary: a crypt filter's name and its /CFM as
// written (empty when the entry has none).
struct CryptFilter {
  std::string name;
  std::string cfm;
};

// What an /Encrypt dictionary states, its strings as their bytes.
struct EncryptParams {
  std::string filter;      // "Standard", or another handler's name
  std::string sub_filter;  // empty when absent
  int32_t v = 0;
  int32_t r = 0;
  int32_t length_bits = 40;     // /Length, 40 when absent
  bool length_given = false;    // whether /Length was an integer
  std::string o, u, oe, ue, perms;
  int32_t p = 0;                // /P as a signed 32-bit value
  bool p_given = false;         // whether /P was an integer
  bool encrypt_metadata = true;
  // The crypt filters named by /StmF, /StrF and /EFF ("Identity" when
  // absent; /EFF defaults to /StmF's), and the entries of /CF.
  std::string stm_f = "Identity", str_f = "Identity", eff;
  std::vector<CryptFilter> crypt_filters;
};

// Returns the range of the document's /Encrypt dictionary (the object the
// newest trailer names, or the dictionary written in the trailer itself),
// present false when there is none or it is not a dictionary.
DictRange encrypt_dict_range(const PdfDoc &doc);

// Returns true with the dictionary's entries in out (values may be
// references to other objects of doc); false with why when it is no
// dictionary or lacks /Filter.
bool read_encrypt_params(const PdfDoc &doc, const DictRange &dict, EncryptParams &out,
                         std::string &why);

// Returns the bytes of the first string of the trailer's /ID array as the
// document holds it (PdfDoc::trailer_id), empty when there is none. The
// file key of revisions 2 to 4 depends on them.
std::string first_file_id(std::string_view trailer_id);

// Returns true with the method of the crypt filter called name: "Identity",
// or an entry of /CF. False with why for a name /CF lacks or a /CFM that is
// not supported. Streams with a /Crypt filter name theirs in /DecodeParms.
bool crypt_filter_method(const EncryptParams &params, std::string_view name, CryptMethod &out,
                         std::string &why);

// The outcome of authentication.
enum class Authentication {
  user,         // the password is the user password
  owner,        // the password is the owner password (also when it is both)
  wrong,        // it is neither
  unsupported,  // another handler, revision or method: no password can open it here
  damaged,      // the dictionary's key strings are missing or too short
};

// Returns how password (UTF-8, as the caller gives it) opens the document
// of params and id0 (first_file_id), with out filled for user and owner and
// why set for the others. The owner password is tried before the user
// password.
Authentication authenticate(const EncryptParams &params, std::string_view id0,
                            std::string_view password, SecurityKey &out, std::string &why);

// The permission bit that allows changing the document's contents (bit 4
// of /P); the others are for readers.
inline constexpr int32_t kPermissionModify = 1 << 3;

// Returns true when the key allows changing the document: the owner
// password was given, or the user permissions allow it.
inline bool may_modify(const SecurityKey &key) {
  return key.owner || (key.permissions & kPermissionModify) != 0;
}

// Returns true with the bytes of a string or of a stream's data, belonging
// to object num gen, decrypted by method into out. AES data shorter than
// one block gives no bytes; a last block cut short is completed with zero
// bytes; the padding is taken off only where it is valid, else every byte
// is kept. False (out empty) for a method the key cannot serve (AESV3 with
// a key of revisions 2-4, or the reverse).
bool decrypt_data(const SecurityKey &key, CryptMethod method, int32_t num, int32_t gen, Bytes in,
                  std::vector<uint8_t> &out);

// Returns true with the bytes encrypted by method for object num gen into
// out: AES with a fresh random IV first and padding to whole blocks. False
// (out empty) for a method the key cannot serve or when the system gives no
// random bytes.
bool encrypt_data(const SecurityKey &key, CryptMethod method, int32_t num, int32_t gen, Bytes in,
                  std::vector<uint8_t> &out);
