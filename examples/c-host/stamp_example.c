/* A small C host for folimark: stamps a text and today's date onto every
 * page of a PDF.
 *
 *   stamp_example IN.pdf OUT.pdf [TEXT]
 *
 * Built against the installed package, with CMake (see CMakeLists.txt here)
 * or with pkg-config:
 *
 *   cc stamp_example.c $(pkg-config --cflags --libs folimark) -o stamp_example */
#include <folimark.h>

#include <stdio.h>

int main(int argc, char **argv) {
  const char *text = argc > 3 ? argv[3] : "EXAMPLE";
  if (argc < 3 || argc > 4) {
    fprintf(stderr, "usage: %s IN.pdf OUT.pdf [TEXT]\n", argv[0]);
    return 2;
  }
  folimark_init();

  /* Grey, half-transparent, turned by 45 degrees, 48 points high. */
  if (!folimark_text(argv[1], argv[2], text, 150, 300, 48, 0.5f, 45.0f, 128, 128, 128)) {
    fprintf(stderr, "stamping the text failed: %s\n", folimark_last_error());
    return 1;
  }
  /* The output may also be the input: the date goes onto the stamped file. */
  if (!folimark_datetime(argv[2], argv[2], "DD.MM.YYYY", 36, 20, 10)) {
    fprintf(stderr, "stamping the date failed: %s\n", folimark_last_error());
    return 1;
  }

  folimark_cleanup();
  printf("stamped %s into %s\n", argv[1], argv[2]);
  return 0;
}
