#include "common/error.h"

#include <cstdarg>
#include <cstdio>

ErrorRecord &thread_error() {
  thread_local ErrorRecord record;
  return record;
}

int set_error(ErrorCode code, const char *format, ...) {
  ErrorRecord &record = thread_error();
  record.code = code;
  va_list args;
  va_start(args, format);
  const int written = std::vsnprintf(record.text, sizeof record.text, format, args);
  va_end(args);
  if (written < 0) record.text[0] = '\0';
  return 0;
}

void clear_error() {
  ErrorRecord &record = thread_error();
  record.code = ErrorCode::none;
  record.text[0] = '\0';
}
