// Reconstruction of the object index by scanning the file, for files whose
// cross-reference data is missing, unusable or wrong for some objects. The
// scan reads each object it finds and skips its body once the body's extent
// is known (a stream's data by its verified length or its "endstream", a
// dictionary by its balanced close, strings included), so text inside data
// or strings is never taken for an object header.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "pdf/pdf_doc.h"

struct ScanResult {
  std::vector<ObjEntry> objects;  // every definition found, in file order
  std::vector<int32_t> trailers;  // "<<" of each trailer dictionary, in file order
};

// Returns the objects and trailers found by scanning s. indirect_length
// gives the integer value of object n when the caller knows it (-1 when
// not), for streams whose /Length is a reference.
ScanResult scan_file_objects(Bytes s, const std::function<int32_t(int32_t)> &indirect_length);
