/* Stamps every file named in a list with the Windows DLL, in one process,
 * and records what each call gave, so that the results can be compared with
 * the native build's on the same files. It calls folimark_stamp, as
 * folimark-stamp does.
 *
 *   corpus_host text LIST OUTDIR RESULTS          each PDF gets a text stamp
 *   corpus_host image SAMPLE LIST OUTDIR RESULTS  each picture goes onto SAMPLE
 *
 * LIST holds one path per line. The output for the input NAME is OUTDIR\NAME
 * (a PDF) or OUTDIR\NAME.pdf (a picture); RESULTS gets one line per input:
 * "NAME<TAB>rc<TAB>message". The stamps are the ones the comparison script
 * asks of the native tool. */
#include <folimark.h>

#include <stdio.h>
#include <string.h>

/* The file name of a path: what follows its last '/' or '\'. */
static const char *base_name(const char *path) {
  const char *name = path;
  for (const char *p = path; *p != '\0'; ++p) {
    if (*p == '/' || *p == '\\') name = p + 1;
  }
  return name;
}

int main(int argc, char **argv) {
  char line[4096];
  char out[4096 + 64];
  int count = 0;
  const int pictures = argc == 6 && strcmp(argv[1], "image") == 0;
  const char *sample = pictures ? argv[2] : NULL;
  const char *list_path;
  const char *out_dir;
  const char *results_path;
  FILE *list;
  FILE *results;
  if (!pictures && !(argc == 5 && strcmp(argv[1], "text") == 0)) {
    fprintf(stderr, "usage: corpus_host text LIST OUTDIR RESULTS\n"
                    "       corpus_host image SAMPLE LIST OUTDIR RESULTS\n");
    return 2;
  }
  list_path = argv[argc - 3];
  out_dir = argv[argc - 2];
  results_path = argv[argc - 1];
  list = fopen(list_path, "rb");
  results = fopen(results_path, "wb");
  if (list == NULL || results == NULL) {
    fprintf(stderr, "corpus_host: cannot open %s or %s\n", list_path, results_path);
    if (list != NULL) fclose(list);
    if (results != NULL) fclose(results);
    return 2;
  }
  while (fgets(line, sizeof line, list) != NULL) {
    folimark_options options;
    int rc;
    size_t n = strlen(line);
    while (n > 0 && (line[n - 1] == '\n' || line[n - 1] == '\r')) line[--n] = '\0';
    if (n == 0) continue;
    folimark_options_init(&options, sizeof options);
    options.x = 100;
    options.y = 100;
    options.output_path = out;
    if (pictures) {
      snprintf(out, sizeof out, "%s\\%s.pdf", out_dir, base_name(line));
      options.kind = FOLIMARK_KIND_PICTURE;
      options.input_path = sample;
      options.picture_path = line;
      options.scale = 0.5;
      options.opacity = 0.8;
    } else {
      snprintf(out, sizeof out, "%s\\%s", out_dir, base_name(line));
      options.kind = FOLIMARK_KIND_TEXT;
      options.input_path = line;
      options.text = "FOLIMARK";
      options.font_size = 24;
      options.opacity = 0.5;
      options.rotation = 30;
      options.red = 200;
    }
    rc = folimark_stamp(&options, NULL, NULL) == FOLIMARK_OK;
    fprintf(results, "%s\t%d\t%s\n", base_name(line), rc, folimark_error_message());
    ++count;
  }
  fclose(list);
  if (fclose(results) != 0) return 2;
  printf("%d files stamped or refused\n", count);
  return 0;
}
