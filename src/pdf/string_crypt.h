// The strings inside an object's text, decrypted or encrypted in place for
// an encrypted document. Text the engine composes (rewritten pages, copied
// resources, new objects) holds its strings as plain bytes; they are
// encrypted with the key of the object they are written in, and strings
// copied out of an object of the file are first decrypted with that
// object's key.
#pragma once

#include <cstdint>
#include <string>

#include "pdf/pdf_doc.h"

// Returns text with each of its string values decrypted as strings of object
// num gen are, each written back as a hexadecimal string; text as it is
// when the document is not encrypted or its strings are not.
std::string decrypt_strings(const PdfDoc &doc, std::string text, int32_t num, int32_t gen);

// The reverse: each string value encrypted for object num gen.
std::string encrypt_strings(const PdfDoc &doc, std::string text, int32_t num, int32_t gen);

// Returns a copy of the dictionary at pos of the entry's bytes (its
// dict_range base) with its strings as plain bytes: decrypted when the entry
// is an object of an encrypted file, as they stand in an object-stream
// member's text or an added object. Empty when no dictionary closes there.
std::string plain_dict_copy(const PdfDoc &doc, const ObjEntry &entry, Bytes bytes, int32_t pos);
