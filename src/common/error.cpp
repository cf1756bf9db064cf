#include "common/error.h"

#include <cstdarg>
#include <cstdio>

char g_err[1024];

int set_error(const char *format, ...) {
  va_list args;
  va_start(args, format);
  const int written = std::vsnprintf(g_err, sizeof g_err, format, args);
  va_end(args);
  if (written < 0) g_err[0] = '\0';
  return 0;
}

void clear_error() { g_err[0] = '\0'; }
