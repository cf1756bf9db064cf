// The boundary every export runs its body behind: no C++ exception leaves
// the library; running out of memory becomes a failure with a message.
#pragma once

#include <new>

#include "common/error.h"

// Returns what body() returns, or 0 after recording why it threw.
template <typename Body>
int guarded(Body body) noexcept {
  try {
    return body();
  } catch (const std::bad_alloc &) {
    set_error(ErrorCode::memory, "out of memory");
  } catch (...) {
    set_error(ErrorCode::unsupported, "internal error");
  }
  return 0;
}
