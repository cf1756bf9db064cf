/* Compiled as C99: the public header must be valid C and usable from it. */
#include <folimark.h>

int header_c_check(void) {
  int pages[] = {1, 2};
  int (*text_fn)(const char *, const char *, const char *, float, float, int, float, float, int,
                 int, int) = folimark_text;
  (void)text_fn;
  (void)pages;
  return folimark_init() && folimark_last_error() != 0;
}
