// Ownership of malloc'ed blocks released with free: the picture planes, and
// the C string that get_obj_dict_text returns. Dictionary copies and edits
// are std::string, which carries their length.
#pragma once

#include <cstdlib>
#include <memory>

struct FreeDeleter {
  void operator()(void *p) const noexcept { std::free(p); }
};

// A malloc'ed, NUL-terminated text released with free.
using OwnedText = std::unique_ptr<char, FreeDeleter>;
