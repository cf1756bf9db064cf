// folimark-stamp: the library's extended interface from the command line.
// One file from path or standard input to path or standard output, or
// several files stamped in parallel in place or into a folder.
#include <folimark.h>

#include <algorithm>
#include <cstdio>
#include <exception>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "jobs.h"
#include "options.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace {

void complain(const std::string &message) {
  std::fprintf(stderr, "folimark-stamp: %s\n", message.c_str());
}

// Returns all of standard input, or false when it cannot be read.
bool read_standard_input(std::vector<unsigned char> &bytes) {
#ifdef _WIN32
  _setmode(_fileno(stdin), _O_BINARY);
#endif
  unsigned char chunk[1 << 16];
  size_t n;
  while ((n = std::fread(chunk, 1, sizeof chunk, stdin)) > 0) bytes.insert(bytes.end(), chunk, chunk + n);
  return !std::ferror(stdin);
}

bool write_standard_output(const unsigned char *data, size_t size) {
#ifdef _WIN32
  _setmode(_fileno(stdout), _O_BINARY);
#endif
  return std::fwrite(data, 1, size, stdout) == size && std::fflush(stdout) == 0;
}

// Returns true when standard error is a terminal, where progress is shown.
bool stderr_is_terminal() {
#ifdef _WIN32
  return _isatty(_fileno(stderr)) != 0;
#else
  return isatty(fileno(stderr)) != 0;
#endif
}

// Stamps one document, either end a path or "-" for the standard streams.
int stamp_one(const cli::Options &o) {
  const std::string &input = o.inputs.front(), &output = o.outputs.front();
  folimark_options r = cli::stamp_record(o);
  std::vector<unsigned char> bytes;
  if (input == "-") {
    if (!read_standard_input(bytes)) {
      complain("cannot read standard input");
      return cli::kExitFailed;
    }
    // An empty input is still given as data, for the library to refuse as no PDF.
    static const unsigned char kNothing = 0;
    r.input_data = bytes.empty() ? &kNothing : bytes.data();
    r.input_size = bytes.size();
  } else {
    r.input_path = input.c_str();
  }
  if (output != "-") r.output_path = output.c_str();
  unsigned char *data = nullptr;
  size_t size = 0;
  if (folimark_stamp(&r, &data, &size) != FOLIMARK_OK) {
    complain(folimark_error_message());
    return cli::kExitFailed;
  }
  if (output != "-") return cli::kExitOk;
  const bool written = write_standard_output(data, size);
  folimark_free(data);
  if (!written) {
    complain("cannot write to standard output");
    return cli::kExitFailed;
  }
  return cli::kExitOk;
}

// Stamps every input, one line on standard error for each file that failed
// and a count at the end.
int stamp_several(const cli::Options &o) {
  const long jobs =
      o.jobs > 0 ? o.jobs : std::max(1L, static_cast<long>(std::thread::hardware_concurrency()));
  const std::vector<cli::FileResult> results = cli::stamp_files(o, jobs, stderr_is_terminal());
  size_t failed = 0;
  for (size_t i = 0; i < results.size(); ++i) {
    if (results[i].code == FOLIMARK_OK) continue;
    ++failed;
    // The library's messages name the file; one that does not gets its name.
    const std::string &message = results[i].message;
    const bool named = message.find(o.inputs[i]) != std::string::npos ||
                       message.find(o.outputs[i]) != std::string::npos;
    complain(named ? message : o.inputs[i] + ": " + message);
  }
  const size_t total = results.size();
  complain("stamped " + std::to_string(total - failed) + " of " + std::to_string(total) +
           (total == 1 ? " file" : " files"));
  return cli::exit_status(failed);
}

int run(const std::vector<std::string> &args) {
  const cli::ParseResult parsed = cli::parse_command_line(args);
  if (!parsed.options) {
    complain(parsed.error);
    return cli::kExitUsage;
  }
  const cli::Options &o = *parsed.options;
  switch (o.command) {
    case cli::Command::help:
      std::fputs(cli::usage(), stdout);
      return cli::kExitOk;
    case cli::Command::version:
      std::printf("folimark-stamp %s\n", folimark_version(nullptr, nullptr, nullptr));
      return cli::kExitOk;
    default:
      break;
  }
  return o.destination == cli::Destination::file ? stamp_one(o) : stamp_several(o);
}

int guarded_run(const std::vector<std::string> &args) {
  try {
    return run(args);
  } catch (const std::bad_alloc &) {
    complain("out of memory");
  } catch (const std::exception &e) {
    complain(e.what());
  }
  return cli::kExitFailed;
}

#ifdef _WIN32
// Returns the UTF-8 form of a UTF-16 argument (an unpaired surrogate becomes U+FFFD).
std::string utf8_from_wide(const wchar_t *wide) {
  const int size = WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
  if (size <= 1) return std::string();
  std::string text(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide, -1, text.data(), size, nullptr, nullptr);
  text.pop_back();  // the terminating NUL
  return text;
}
#endif

}  // namespace

#ifdef _WIN32
// The arguments come as UTF-16, so that paths outside the ANSI code page
// reach the library intact, as UTF-8.
int wmain(int argc, wchar_t **argv) {
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.push_back(utf8_from_wide(argv[i]));
  return guarded_run(args);
}
#else
int main(int argc, char **argv) { return guarded_run(std::vector<std::string>(argv + 1, argv + argc)); }
#endif
