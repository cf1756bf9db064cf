// The one error channel of the library: every layer below the exports
// reports a failure here, once, where it is found; callers only pass the
// failure up. The exports hand the text to the host.
#pragma once

// Holds the message of the last failure; empty after a success. 1024 bytes,
// always NUL-terminated.
extern char g_err[1024];

// Returns 0, so that a check reads `return set_error(...)`. Formats a message
// with printf semantics into g_err, cut at 1023 characters.
int set_error(const char *format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

// Empties g_err.
void clear_error();
