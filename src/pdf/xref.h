// The document's own cross-reference data: classic tables and
// cross-reference streams, hybrid files (/XRefStm), and the /Prev chain of
// every update. The newest section's entry for a number wins, whether it
// places the object in the file, in an object stream, or marks the number
// free. Nothing here trusts an entry: the loader checks each one against
// the bytes it points at.
#pragma once

#include <cstdint>
#include <vector>

#include "pdf/scan.h"

enum class XrefKind : uint8_t {
  none,        // no section mentions the number
  free_entry,  // the newest section marks it free (deleted)
  in_file,     // a plain object at `offset`
  compressed,  // member `index` of the object stream `container`
};

struct XrefEntry {
  XrefKind kind = XrefKind::none;
  int32_t gen = 0;
  int64_t offset = 0;     // in_file: byte offset of the header
  int32_t container = 0;  // compressed: object number of the object stream
  int32_t index = 0;      // compressed: position in that stream's list
  int32_t section = -1;   // which section set it (0 is the newest)
};

struct XrefData {
  std::vector<XrefEntry> entries;  // by object number
  // The trailer dictionaries of the sections read ("<<" positions), newest
  // first: a classic section's trailer, or a cross-reference stream's own
  // dictionary.
  std::vector<int32_t> trailers;
  // Object numbers of the cross-reference streams read; they describe the
  // input's layout and are not part of the document.
  std::vector<int32_t> xref_streams;
  int32_t startxref = -1;  // the offset after the last "startxref", or -1
  bool usable = false;     // the newest section could be read
  bool newest_is_stream = false;  // the newest section is a cross-reference stream
  bool complete = false;   // every section of the chain could be read
};

// Returns the offset written after the last "startxref" of the file, found
// from the end whatever trails it, or -1.
int32_t find_startxref(Bytes s);

// Reads every section reachable from startxref. Loops and repeated sections
// end the chain.
XrefData read_xref(Bytes s);
