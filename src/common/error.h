// The one error channel of the library: every layer below the exports
// reports a failure here, once, where it is found, with its kind and its
// message; callers only pass the failure up. Each thread has its own
// record, so that calls on different threads never see each other's
// failures. The exports hand the record to the host.
#pragma once

#include <cstdint>

// What kind of failure it was; the values are the public result codes.
enum class ErrorCode : int32_t {
  none = 0,
  argument = 1,     // a missing or out-of-range argument
  read = 2,         // an input cannot be read
  damaged = 3,      // not a PDF or damaged beyond repair; an undecodable picture
  encrypted = 4,    // an encrypted document that cannot be opened here
  unsupported = 5,  // valid input the library cannot stamp
  write = 6,        // the output cannot be written
  memory = 7,       // memory ran out
  password = 8,     // an encrypted document the password does not open
  permission = 9,   // an encrypted document whose permissions forbid changing it
};

// The calling thread's last failure: empty text and ErrorCode::none after a
// success. The text is 1024 bytes, always NUL-terminated.
struct ErrorRecord {
  ErrorCode code = ErrorCode::none;
  char text[1024] = {};
};
ErrorRecord &thread_error();

// Returns 0, so that a check reads `return set_error(...)`. Records the code
// and a message formatted with printf semantics, cut at 1023 characters.
int set_error(ErrorCode code, const char *format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;

// Empties the calling thread's record.
void clear_error();

// The calling thread's last message ("" after a success).
inline const char *error_text() { return thread_error().text; }
