// Test-only replacement of operator new for the whole test program: a test
// can make the n-th allocation fail (bad_alloc, or nullptr for the nothrow
// forms) or record the largest request of a call. Linking
// support/failing_allocator.cpp into a test installs it.
#pragma once

#include <cstddef>

extern long g_allocations_left;  // allocations before the next one fails; negative: never
extern bool g_failed;            // set when an allocation was made to fail
extern bool g_tracking;          // record the largest request in g_largest
extern size_t g_largest;
