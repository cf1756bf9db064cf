// Reading a host's folimark_options record into a stamp request: every
// field checked against its documented range, never clamped.
#pragma once

#include <folimark.h>

#include <cstddef>

#include "abi/datetime_text.h"
#include "abi/font_file.h"
#include "abi/image_stamp.h"
#include "pdf/placement.h"
#include "pdf/stamp_request.h"

// The size of the record's first version (up to the font fields): hosts
// built against it pass at least this much. When the record grows, this
// stays the first size.
inline constexpr size_t kOptionsSizeV1 = offsetof(folimark_options, font_path);
// The second version ended with the font fields.
inline constexpr size_t kOptionsSizeV2 = offsetof(folimark_options, password);

// Returns the host's record with the fields its size does not cover (a
// host built against an earlier, smaller record) at their defaults.
folimark_options full_options(const folimark_options &host);

// What a request points into for the length of one call.
struct RequestParts {
  StampPlacement placement;
  PreparedImage image;
  PreparedFont font;
  char datetime_text[kDatetimeTextSize] = {};
};

// Returns 1 with request, parts and source filled from options; 0 after
// setting the error (ErrorCode::argument for a field out of its range, or
// the picture's own failure).
int read_options(const folimark_options &options, StampRequest &request, RequestParts &parts,
                 StampSource &source);

// Sets every field's default but size's.
void default_options(folimark_options &options);
