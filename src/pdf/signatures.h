// What the document's signatures allow. A signed document keeps the bytes
// its signatures cover only when a change is appended to it as an update;
// a certification that permits no changes at all forbids stamping. Whether
// a signature is valid is not checked: the document is treated as its
// signer left it.
#pragma once

#include "pdf/pdf_doc.h"

enum class Signing {
  none,         // not signed: the output may be a new file
  signed_doc,   // signed: the stamp is appended as an update
  no_changes,   // certified with permission level 1: nothing may change
};

// Returns how the document is signed. It counts as signed when its catalog
// has /Perms, or when its form's field tree (/AcroForm /Fields, through
// /Kids) holds a signature field (/FT /Sig, its own or inherited) whose
// value is a signature dictionary with /ByteRange.
Signing document_signing(const PdfDoc &doc);
