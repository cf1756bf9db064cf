// Opening an encrypted document: its /Encrypt dictionary read, the password
// tried, and the permission to change it checked.
#include <string>

#include "common/error.h"
#include "pdf/load.h"
#include "security/security.h"

int open_encryption(PdfDoc &doc, const Decryption &decryption, const char *name) {
  const DictRange dict = encrypt_dict_range(doc);
  if (!dict.present)
    return set_error(ErrorCode::damaged, "cannot open %s: its /Encrypt dictionary is missing or damaged",
                     name);
  EncryptParams params;
  std::string why;
  if (!read_encrypt_params(doc, dict, params, why))
    return set_error(ErrorCode::damaged, "cannot open %s: %s", name, why.c_str());
  const bool given = decryption.password != nullptr && decryption.password[0] != '\0';
  SecurityKey key;
  switch (authenticate(params, first_file_id(doc.trailer_id), given ? decryption.password : "", key,
                       why)) {
    case Authentication::user:
    case Authentication::owner:
      break;
    case Authentication::wrong:
      if (given)
        return set_error(ErrorCode::password,
                         "a password is needed to open %s: the password given does not open it",
                         name);
      return set_error(ErrorCode::password, "a password is needed to open %s", name);
    case Authentication::unsupported:
      return set_error(ErrorCode::encrypted, "cannot open %s: %s", name, why.c_str());
    case Authentication::damaged:
      return set_error(ErrorCode::damaged, "cannot open %s: %s", name, why.c_str());
  }
  if (!may_modify(key))
    return set_error(ErrorCode::permission,
                     "cannot stamp %s: its permissions forbid changing it; its owner password "
                     "allows it",
                     name);
  doc.security = std::move(key);
  return 1;
}
