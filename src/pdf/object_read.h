// Reading one indirect object of the file where its header stands: the
// header "num gen obj", the value after it, and for a stream the keyword and
// where its data begins. The data's end needs the stream's /Length, which
// may be an indirect object, so it is settled separately once the index
// knows where that object is.
//
// Readers take an object's end keyword even when it is glued to the token
// before it ("74191endobj"), and so does this reader.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "pdf/pdf_doc.h"

// The parsed "num gen obj" header at pos (after whitespace and comments).
struct ObjectHeader {
  int32_t num = -1;
  int32_t gen = -1;
  int32_t hdr_pos = -1;   // first digit of the object number
  int32_t after_obj = -1; // one past the "obj" keyword
};

// Returns true with the header found at pos (whitespace and comments may
// come first): two unsigned integers separated by whitespace, then "obj".
bool read_object_header(Bytes s, int32_t pos, ObjectHeader *out);


// Remembers the last answer of a forward keyword search: a search from any
// position between the last start and its hit has the same answer, so
// objects that lack their end keyword cost one scan of the file in all, not
// one each.
struct KeywordMemo {
  std::string_view keyword;
  int32_t last_from = -1;
  int32_t last_hit = -1;
};

// Returns find_end_keyword(s, from, end of s, memo.keyword), remembering it.
int32_t find_end_keyword_memo(Bytes s, int32_t from, KeywordMemo &memo);

// Returns the entry of the object whose header was read: its value (body_pos
// to endobj_pos), and for a stream the "stream" keyword and the first data
// byte (data_end stays -1). obj_end is one past its "endobj", or the end of
// its value when it has none, or -1 when the value does not close (the body
// then runs to the next "endobj", or to bound). Nothing at or beyond bound
// (the next object's start when known, else the end of the file) is taken
// into the object; with endobj given, searches for "endobj" go through it.
ObjEntry read_object_at(Bytes s, const ObjectHeader &header, int32_t bound,
                        KeywordMemo *endobj = nullptr);

// Settles where a stream's data ends. declared is its /Length as resolved
// (-1 when missing or unusable): it is used when "endstream" follows that
// many bytes (after optional whitespace); otherwise the data ends before the
// next "endstream" (or, where that keyword is missing or misspelt, before
// the object's "endobj"), less one end-of-line; the keywords are searched up
// to bound, or through memo[0] ("endstream") and memo[1] ("endobj") when
// given. Also settles obj_end. A stream followed by neither keyword stays
// unresolved (data_end -1).
void settle_stream_extent(Bytes s, ObjEntry &e, int32_t declared, int32_t bound,
                          KeywordMemo *memo = nullptr);

// Returns the direct /Length of a stream entry, -1 when it has none, and
// with *indirect set to the object number when /Length is a reference.
int32_t stream_length_value(Bytes s, const ObjEntry &e, int32_t *indirect);

// Returns the position of the first "keyword" in [from, bound) that is not
// followed by a regular character; the byte before it is not examined, so a
// keyword glued to a number ("74191endobj") is found.
int32_t find_end_keyword(Bytes s, int32_t from, int32_t bound, std::string_view keyword);
