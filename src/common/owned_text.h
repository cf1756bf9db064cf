// Ownership of the malloc'ed C strings that dictionary copies and edits
// hand around.
#pragma once

#include <cstdlib>
#include <memory>

struct FreeDeleter {
  void operator()(void *p) const noexcept { std::free(p); }
};

// A malloc'ed, NUL-terminated text released with free.
using OwnedText = std::unique_ptr<char, FreeDeleter>;
