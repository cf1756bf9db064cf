// Loading: reads the input file and indexes its objects from the document's
// own cross-reference data, as viewers do: every entry is checked against the
// object header it points at, and objects whose entries fail (or whole files
// whose cross-reference data is missing or unusable) are found by a scan that
// skips object bodies. Object-stream members are read where the index places
// them. Takes /Root, /Info, /ID and /Encrypt from the newest trailer that has
// each, opens an encrypted file with its password when asked to (else
// refuses it) and settles the catalog.
#pragma once

#include <memory>
#include <vector>

#include "common/limits.h"
#include "pdf/pdf_doc.h"

// What loading does with an encrypted document: refuses it (the default),
// or opens it with the password (NULL: the empty user password), with what
// it reads decrypted from then on.
struct Decryption {
  bool open = false;
  const char *password = nullptr;
};

// Returns 1 with doc loaded, or 0 after setting the error text.
int load_document(const char *input_path, PdfDoc &doc, const Decryption &decryption = {});

// The same for a document held in memory: name stands for it in messages.
// The first form copies the bytes; the second takes over a block of exactly
// size bytes, as the file reader makes it.
int load_document_bytes(Bytes input, const char *name, PdfDoc &doc,
                        const Decryption &decryption = {});
int load_document_bytes(std::unique_ptr<uint8_t[]> bytes, int64_t size, const char *name,
                        PdfDoc &doc, const Decryption &decryption = {});

// Returns 1 with doc.security set from its /Encrypt dictionary and the
// password, or 0 after setting the error: the password does not open it,
// its permissions forbid changing it, or its handler is not supported.
int open_encryption(PdfDoc &doc, const Decryption &decryption, const char *name);

// The steps of loading, for the tests: the object index from the
// cross-reference data (with reconstruction where it fails) and the trailer
// keys; then the catalog (/Root when it names an object, else the first
// object of /Type /Catalog).
void build_object_index(PdfDoc &doc);
void settle_catalog(PdfDoc &doc);
