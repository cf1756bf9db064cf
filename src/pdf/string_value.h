// PDF string values, both ways: reading a literal "( ... )" or hexadecimal
// "< ... >" string into its bytes, and writing bytes as either form. The
// bytes are what the string holds, before any decryption; no text encoding
// (PDFDocEncoding, UTF-16) is interpreted here.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "pdf/scan.h"

struct ByteBuf;

// Returns the position just past the string value that starts at the first
// non-whitespace byte at or after pos, with its bytes in out; -1 (out
// empty) when no string starts there or it does not end inside s.
//
// A literal string keeps balanced parentheses, reads the escapes \n \r \t
// \b \f \( \) \\ and one to three octal digits (above \377 the high bit is
// lost), drops a backslash before an end of line and the end of line with
// it, drops a backslash before any other byte, and reads an unescaped CR or
// CR LF as LF. A hexadecimal string reads two digits a byte, passes over
// whitespace, and takes a missing last digit as 0; any other byte in it
// makes it no string.
int32_t read_string_value(Bytes s, int32_t pos, std::string &out);

// Appends bytes as the inside of a PDF literal string, without its
// parentheses: delimiters escaped, bytes outside printable ASCII in octal.
void append_literal_codes(ByteBuf &out, std::string_view bytes);

// Appends bytes as the digits of a PDF hexadecimal string, without its
// angle brackets.
void append_hex_codes(ByteBuf &out, std::string_view bytes);

// Appends bytes as a whole hexadecimal string, "<" digits ">". Encrypted
// strings are written so: any byte may stand in them, and the form needs
// no escapes.
void append_hex_string(ByteBuf &out, std::string_view bytes);
