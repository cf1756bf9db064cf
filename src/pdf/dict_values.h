// The one home of reading a dictionary's own entries: finding a key among
// its top-level entries (not in the values nested inside it), and reading
// the value that follows. A plain text search for "/Contents" in a page
// would also find the /Contents string of an annotation written inline in
// /Annots; walking the entries finds the page's own.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "pdf/scan.h"

// Returns the position of the '/' of key `name` among the top-level entries
// of the dictionary that starts at or after start (after whitespace) in
// [start, end), or -1 when it has none. A dictionary that cannot be walked
// entry by entry (damaged, or not a dictionary) is searched as text instead:
// the first "/name" anywhere in the range.
int32_t find_dict_key(Bytes s, int32_t start, int32_t end, std::string_view name);

// Returns the position of the '/' of the next key `name` among a
// dictionary's entries, walking them from pos (just after the "<<" or after
// a value); -1 when the dictionary ends first, -2 when the entries cannot be
// walked from there.
int32_t next_dict_key(Bytes s, int32_t pos, std::string_view name);

// One entry of a dictionary as it is walked: where its key's '/' stands,
// the key as written (without the '/', escapes not decoded), and where its
// value starts and ends (value_end -1 when the value does not end).
struct DictEntry {
  int32_t key_pos = -1;
  std::string_view key;
  int32_t value_pos = -1;
  int32_t value_end = -1;
};

// Returns 1 with the entry that starts at pos (after whitespace), walking a
// dictionary's entries from just after its "<<" or after a value; 0 at its
// ">>"; -1 when no entry stands there.
int read_dict_entry(Bytes s, int32_t pos, DictEntry &out);

// Returns true with the integer token at *p (optional sign, at most 18
// digits) and *p moved past it; false when none stands there or a point
// follows (a real number).
bool read_int_token(Bytes s, int32_t *p, int64_t *out);

// Readers of one value of a dictionary's own keys (not keys nested in its
// values), for a dictionary whose "<<" is at start within [0, end) of s.

// Returns the end of the trailer dictionary at start: just past its ">>",
// or kMaxTrailerBytes further when it does not close by then.
int32_t trailer_end(Bytes s, int32_t start);

// Returns the position of the value of key (after whitespace), or -1 when
// the dictionary has no such key.
int32_t key_value_pos(Bytes s, int32_t start, int32_t end, std::string_view key);

// Returns the bytes of key's value as they stand ("12 0 R" counts as one
// value), or an empty view when the key is absent or its value does not end
// inside the dictionary.
std::string_view key_value_text(Bytes s, int32_t start, int32_t end, std::string_view key);

// Returns the integer value of key, or `missing` when the key is absent or
// its value is not an integer. A reference "n g R" is not an integer.
int64_t dict_key_int(Bytes s, int32_t start, int32_t end, std::string_view key, int64_t missing);

// Returns the object number of the reference value "n g R" of key, or -1.
int32_t dict_key_ref(Bytes s, int32_t start, int32_t end, std::string_view key);

// Returns the integers of the array value of key ("[1 2 3]"), stopping at
// the first element that is not an integer; empty when there is no array.
std::vector<int64_t> dict_key_ints(Bytes s, int32_t start, int32_t end, std::string_view key);

// Returns true when the value of key is the name `name` (written directly).
bool dict_key_name_is(Bytes s, int32_t start, int32_t end, std::string_view key,
                      std::string_view name);

// Returns true when the dictionary's /Type is the name `type`.
bool dict_type_is(Bytes s, int32_t start, int32_t end, std::string_view type);

// Returns the positions of the elements of the array whose '[' is at pos,
// within [pos, end) of s; a reference "n g R" is one element. Reading stops
// at the array's "]", at its end, or at bytes that are no value.
std::vector<int32_t> array_elements(Bytes s, int32_t pos, int32_t end);
