/* A Windows host written in C, as a customer's program would be: it loads
 * tarvello-folimark.dll through its import library and calls every export.
 *
 *   dll_host WORKDIR
 *
 * WORKDIR holds sample.pdf (two pages), picture.png and picture.jpg. The host
 * checks what each call returns and reports; the PDFs it leaves there are
 * judged afterwards by PDF tools on the build machine. Exit status 0 when
 * every check held. */
#include <folimark.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <wchar.h>

static int failures = 0;
static const char *work_dir = ".";

#define CHECK(condition, what)                                             \
  do {                                                                     \
    if (!(condition)) {                                                    \
      ++failures;                                                          \
      fprintf(stderr, "FAILED: %s (line %d): %s\n", what, __LINE__,        \
              folimark_last_error());                                      \
    }                                                                      \
  } while (0)

/* Returns WORKDIR\name in one of a few rotating buffers: valid until eight
 * more calls. */
static const char *in_work(const char *name) {
  static char buffers[8][1024];
  static int next = 0;
  char *out = buffers[next];
  next = (next + 1) % 8;
  snprintf(out, sizeof buffers[0], "%s\\%s", work_dir, name);
  return out;
}

/* The sample's path, kept apart from the rotating buffers. */
static const char *sample_path(void) {
  static char path[1024];
  snprintf(path, sizeof path, "%s\\sample.pdf", work_dir);
  return path;
}

static int file_exists(const char *path) {
  FILE *f = fopen(path, "rb");
  if (f == NULL) return 0;
  fclose(f);
  return 1;
}

static int starts_with(const char *text, const char *prefix) {
  return strncmp(text, prefix, strlen(prefix)) == 0;
}

static int copy_file(const char *from, const char *to) {
  char buffer[65536];
  size_t n;
  int ok = 1;
  FILE *in = fopen(from, "rb");
  FILE *out = in != NULL ? fopen(to, "wb") : NULL;
  if (out == NULL) {
    if (in != NULL) fclose(in);
    return 0;
  }
  while ((n = fread(buffer, 1, sizeof buffer, in)) > 0) {
    if (fwrite(buffer, 1, n, out) != n) ok = 0;
  }
  fclose(in);
  if (fclose(out) != 0) ok = 0;
  return ok;
}

/* Writes today's date as the stamp will show it, for the checks that follow. */
static void write_expected_date(void) {
  char text[64];
  time_t now = time(NULL);
  struct tm *local = localtime(&now);
  FILE *f = fopen(in_work("expected-date.txt"), "wb");
  if (f == NULL || local == NULL || strftime(text, sizeof text, "%Y-%m-%d", local) == 0) {
    CHECK(0, "writing expected-date.txt");
    if (f != NULL) fclose(f);
    return;
  }
  fputs(text, f);
  fclose(f);
}

static void stamps(void) {
  const char *sample = sample_path();
  const int second_page[] = {2};

  CHECK(folimark_init() == 1, "folimark_init");
  CHECK(strcmp(folimark_last_error(), "") == 0, "no error after init");

  CHECK(folimark_text(sample, in_work("text.pdf"), "Windows text\nsecond line", 72, 700, 20,
                      0.5f, 30, 200, 0, 0) == 1,
        "folimark_text");
  CHECK(strcmp(folimark_last_error(), "") == 0, "no error after a success");

  CHECK(folimark_text_pages(sample, in_work("pages.pdf"), "Listed page stamp", 72, 72, 14, 1,
                            second_page, 1) == 1,
        "folimark_text_pages");

  write_expected_date();
  CHECK(folimark_datetime(sample, in_work("datetime.pdf"), "YYYY-MM-DD", 300, 40, 12) == 1,
        "folimark_datetime with a picture");
  /* Conversions the Windows runtime does not know must print, not abort. */
  CHECK(folimark_datetime(sample, in_work("datetime-format.pdf"), "%F|%e|%z|%Q", 300, 60, 12) ==
            1,
        "folimark_datetime with a strftime format");

  CHECK(folimark_image(sample, in_work("png.pdf"), in_work("picture.png"), 300, 500, 2, 0.8f) ==
            1,
        "folimark_image with a PNG");
  CHECK(folimark_image(sample, in_work("jpg.pdf"), in_work("picture.jpg"), 100, 100, 0, 1) == 1,
        "folimark_image with a JPEG");

  /* The output may name the input: the file is replaced in one step. */
  CHECK(copy_file(sample, in_work("in-place.pdf")), "copying the sample");
  CHECK(folimark_text(in_work("in-place.pdf"), in_work("in-place.pdf"), "Replaced in place", 72,
                      400, 16, 1, 0, 0, 0, 255) == 1,
        "stamping a file onto itself");
}

/* The extended interface: UTF-8 paths beyond the ANSI code page, the result
 * in memory, codes and the version. */
static void extended_interface(void) {
  /* "stamped-Žluťoučký-日本.pdf" and the same as input for a second stamp. */
  const char *name = "stamped-\xC5\xBDlu\xC5\xA5ou\xC4\x8Dk\xC3\xBD-\xE6\x97\xA5\xE6\x9C\xAC.pdf";
  const wchar_t *wide_name = L"stamped-\u017Dlu\u0165ou\u010Dk\u00FD-\u65E5\u672C.pdf";
  char utf8_path[1024];
  wchar_t wide_path[1024];
  folimark_options o;
  unsigned char *data = NULL;
  size_t size = 0;
  FILE *f;
  int major = 0;

  snprintf(utf8_path, sizeof utf8_path, "%s\\%s", work_dir, name);
  /* The work folder's name is plain ASCII. */
  mbstowcs(wide_path, work_dir, 900);
  wide_path[900] = L'\0';
  wcscat(wide_path, L"\\");
  wcscat(wide_path, wide_name);
  _wremove(wide_path);
  CHECK(folimark_options_init(&o, sizeof o) == FOLIMARK_OK, "options_init");
  o.input_path = sample_path();
  o.output_path = utf8_path;
  o.text = "UTF-8 path";
  o.anchor = FOLIMARK_ANCHOR_TOP_RIGHT;
  o.x = o.y = 36;
  CHECK(folimark_stamp(&o, NULL, NULL) == FOLIMARK_OK, folimark_error_message());
  f = _wfopen(wide_path, L"rb");
  CHECK(f != NULL, "the output has its UTF-8 name on disk");
  if (f != NULL) fclose(f);

  o.input_path = utf8_path;
  o.output_path = NULL;
  CHECK(folimark_stamp(&o, &data, &size) == FOLIMARK_OK, folimark_error_message());
  CHECK(data != NULL && size > 1000 && memcmp(data, "%PDF-", 5) == 0, "the result in memory");
  folimark_free(data);

  o.input_path = in_work("missing.pdf");
  CHECK(folimark_stamp(&o, &data, &size) == FOLIMARK_ERROR_READ, "a missing input's code");
  CHECK(folimark_error_code() == FOLIMARK_ERROR_READ, "the thread's code");
  CHECK(strcmp(folimark_version(&major, NULL, NULL), "") != 0, "the version");
}

static void failures_are_reported(void) {
  const char *sample = sample_path();
  const char *missing = in_work("missing.pdf");
  const char *no_output = in_work("never-written.pdf");
  const int pages[] = {1};

  remove(no_output);
  CHECK(folimark_text(missing, no_output, "x", 10, 10, 12, 1, 0, 0, 0, 0) == 0,
        "a missing input fails");
  CHECK(starts_with(folimark_last_error(), "cannot open "), "message for a missing input");
  CHECK(strstr(folimark_last_error(), "No such file or directory") != NULL,
        "reason for a missing input");

  CHECK(folimark_image(sample, no_output, sample, 10, 10, 1, 1) == 0, "a PDF as picture fails");
  CHECK(starts_with(folimark_last_error(), "unsupported image format"), "message for a bad picture");

  CHECK(folimark_text_pages(sample, no_output, "x", 10, 10, 12, 1, NULL, 1) == 0,
        "a missing page list fails");
  CHECK(folimark_last_error()[0] != '\0', "message for a missing page list");

  CHECK(folimark_text_pages(sample, in_work("no-such-folder\\out.pdf"), "x", 10, 10, 12, 1, pages,
                            1) == 0,
        "an output in a missing folder fails");
  CHECK(starts_with(folimark_last_error(), "cannot open output file "),
        "message for an unwritable output");

  CHECK(!file_exists(no_output), "no output after failures");

  folimark_cleanup();
  CHECK(strcmp(folimark_last_error(), "") == 0, "cleanup empties the message");
}

int main(int argc, char **argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: dll_host WORKDIR\n");
    return 2;
  }
  work_dir = argv[1];
  stamps();
  extended_interface();
  failures_are_reported();
  if (failures != 0) {
    fprintf(stderr, "%d check(s) failed\n", failures);
    return 1;
  }
  printf("all checks passed\n");
  return 0;
}
