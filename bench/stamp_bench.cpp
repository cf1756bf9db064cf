// Stamping speed and memory: folimark-stamp beside mutool and qpdf on
// documents of 1, 100, 1,000 and 10,000 pages. Every tool runs as a child
// process doing the whole job (read the input, stamp every page, write the
// output); the tools take turns within each round (folimark, mutool, qpdf,
// folimark, ...), so a burst of load from elsewhere falls on all of them
// alike. The wall time is the median of the timed rounds and the peak memory
// the largest resident set (wait4's ru_maxrss) that any run reached. An
// untimed first round warms the file cache, and its outputs are checked:
// qpdf --check must pass and pdftotext must find the stamp on every page.
//
// usage: stamp_bench [--runs N] [--pages 1,100,1000,10000] [--inputs gs|synthetic]
//                    [--cache DIR] [--keep DIR] [--no-check]
//                    [--gs PATH] [--mutool PATH] [--qpdf PATH] [--pdftotext PATH]
//
// The default inputs are made by Ghostscript's pdfwrite from prose.ps: pages
// of 10 pt prose, as a word processor printing to PDF would give them. They
// are written once into the cache folder, named after the page count and a
// checksum of prose.ps, since 10,000 pages take Ghostscript a while.
// --inputs synthetic writes the earlier documents instead (a page tree of
// nodes holding 50 pages each, one shared Helvetica font, and per page one
// /FlateDecode content stream of 40 lines of text).
//
// mutool runs mutool_stamp.js; qpdf overlays, on every page, a one-page
// stamp PDF that folimark-stamp itself made. The output is markdown, ready
// to paste into README.md.
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "flate/flate.h"

extern char **environ;

namespace fs = std::filesystem;

namespace {

// Pages per intermediate node of the synthetic page tree, as word
// processors write them (no node is anywhere near a reader's kid limits).
constexpr int kPagesPerNode = 50;

// The stamp every tool puts on every page.
constexpr const char *kStampText = "CONFIDENTIAL";

std::string zlib(const std::string &data) {
  unsigned char *packed = nullptr;
  size_t packed_len = 0;
  if (tvl_deflate(reinterpret_cast<const unsigned char *>(data.data()), data.size(), &packed,
                  &packed_len) != 0)
    throw std::runtime_error("tvl_deflate failed");
  std::string out(reinterpret_cast<const char *>(packed), packed_len);
  std::free(packed);
  return out;
}

std::string page_content(int page) {
  static const char *const words[] = {"lorem",       "ipsum",      "dolor",      "sit", "amet",
                                      "consectetur", "adipiscing", "elit",       "sed", "do",
                                      "eiusmod",     "tempor",     "incididunt", "ut",  "labore",
                                      "et",          "dolore",     "magna"};
  std::string s = "BT /F1 11 Tf 14 TL 72 740 Td\n";
  unsigned seed = static_cast<unsigned>(page) * 2654435761u;
  for (int line = 0; line < 40; ++line) {
    s += "(Page " + std::to_string(page) + " line " + std::to_string(line + 1) + ":";
    for (int w = 0; w < 9; ++w) {
      seed = seed * 1103515245u + 12345u;
      s += " ";
      s += words[(seed >> 16) % (sizeof words / sizeof words[0])];
    }
    s += ") Tj T*\n";
  }
  return s + "ET\n";
}

// Writes a synthetic document of `pages` pages (content empty when blank).
// It goes to the file as it is made: this process stays small, because every
// child's peak memory starts from this process's (see spawn).
void write_document(const std::string &path, int pages, bool blank) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  size_t written = 0;
  auto put = [&](const std::string &text) {
    f.write(text.data(), static_cast<std::streamsize>(text.size()));
    written += text.size();
  };
  put("%PDF-1.7\n%\xE2\xE3\xCF\xD3\n");
  std::vector<size_t> offsets;
  auto add = [&](int num, const std::string &body) {
    if (static_cast<size_t>(num) >= offsets.size()) offsets.resize(static_cast<size_t>(num) + 1, 0);
    offsets[static_cast<size_t>(num)] = written;
    put(std::to_string(num) + " 0 obj\n" + body + "\nendobj\n");
  };
  const int nodes = (pages + kPagesPerNode - 1) / kPagesPerNode;
  const int first_node = 4;
  const int first_page = first_node + nodes;
  add(1, "<< /Type /Catalog /Pages 2 0 R >>");
  std::string kids;
  for (int n = 0; n < nodes; ++n) kids += std::to_string(first_node + n) + " 0 R ";
  add(2, "<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(pages) + " >>");
  add(3, "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>");
  for (int n = 0; n < nodes; ++n) {
    std::string node_kids;
    const int from = n * kPagesPerNode, to = std::min(pages, from + kPagesPerNode);
    for (int p = from; p < to; ++p) node_kids += std::to_string(first_page + 2 * p) + " 0 R ";
    add(first_node + n, "<< /Type /Pages /Parent 2 0 R /Kids [" + node_kids + "] /Count " +
                            std::to_string(to - from) + " >>");
  }
  for (int p = 0; p < pages; ++p) {
    const int num = first_page + 2 * p;
    add(num, "<< /Type /Page /Parent " + std::to_string(first_node + p / kPagesPerNode) +
                 " 0 R /MediaBox [0 0 612 792] /Resources << /Font << /F1 3 0 R >> >> /Contents " +
                 std::to_string(num + 1) + " 0 R >>");
    const std::string data = zlib(blank ? std::string() : page_content(p + 1));
    add(num + 1, "<< /Filter /FlateDecode /Length " + std::to_string(data.size()) +
                     " >>\nstream\n" + data + "\nendstream");
  }
  const size_t xref = written;
  put("xref\n0 " + std::to_string(offsets.size()) + "\n0000000000 65535 f \n");
  for (size_t n = 1; n < offsets.size(); ++n) {
    char line[32];
    std::snprintf(line, sizeof line, "%010zu 00000 n \n", offsets[n]);
    put(line);
  }
  put("trailer\n<< /Size " + std::to_string(offsets.size()) + " /Root 1 0 R >>\nstartxref\n" +
      std::to_string(xref) + "\n%%EOF\n");
  if (!f.flush()) throw std::runtime_error("cannot write " + path);
}

std::string read_text(const std::string &path) {
  std::ifstream f(path, std::ios::binary);
  if (!f) throw std::runtime_error("cannot read " + path);
  return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

std::string command_text(const std::vector<std::string> &argv) {
  std::string cmd;
  for (const std::string &a : argv) cmd += (cmd.empty() ? "" : " ") + a;
  return cmd;
}

struct Run {
  int exit_code = 0;  // -1 when the child did not exit by itself
  double seconds = 0;
  long max_rss_kib = 0;
};

// Returns how one run of argv went: its standard output goes to out_path,
// and so does its standard error when with_stderr is set. The child's peak
// resident set is never below this process's: posix_spawn starts it in this
// process's memory, and exec keeps that memory's high-water mark as the
// child's starting peak. So this process holds nothing large, and the
// report states its own peak as the floor under every figure.
Run spawn(const std::vector<std::string> &argv, const std::string &out_path, bool with_stderr) {
  std::vector<char *> args;
  for (const std::string &a : argv) args.push_back(const_cast<char *>(a.c_str()));
  args.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0644);
  if (with_stderr) posix_spawn_file_actions_adddup2(&actions, 1, 2);
  const auto start = std::chrono::steady_clock::now();
  pid_t pid = 0;
  const int spawned = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) throw std::runtime_error("cannot run " + argv[0]);
  int status = 0;
  rusage usage{};
  if (wait4(pid, &status, 0, &usage) != pid) throw std::runtime_error("wait4 failed");
  const auto end = std::chrono::steady_clock::now();
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1,
          std::chrono::duration<double>(end - start).count(), usage.ru_maxrss};
}

// Returns one run of argv, which must exit with status 0.
Run run_child(const std::vector<std::string> &argv) {
  const Run r = spawn(argv, "/dev/null", false);
  if (r.exit_code != 0) throw std::runtime_error("failed: " + command_text(argv));
  return r;
}

// Returns what argv wrote to its standard output and error, through a file
// in `scratch`; *exit_code gets its status.
std::string capture(const std::vector<std::string> &argv, const fs::path &scratch,
                    int *exit_code = nullptr) {
  const std::string path = (scratch / "captured.txt").string();
  const Run r = spawn(argv, path, true);
  if (exit_code) *exit_code = r.exit_code;
  std::string text = read_text(path);
  fs::remove(path);
  return text;
}

// Returns the first line of what argv prints, or "unknown" when it fails.
std::string first_line(const std::vector<std::string> &argv, const fs::path &scratch) {
  int code = 0;
  std::string text;
  try {
    text = capture(argv, scratch, &code);
  } catch (const std::exception &) {
    return "unknown";
  }
  if (code != 0 || text.empty()) return "unknown";
  return text.substr(0, text.find('\n'));
}

// Returns an empty text when `path` passes qpdf --check and pdftotext finds
// the stamp on each of its `pages` pages, else what is wrong. The stamp is
// rotated, so pdftotext gives its letters one to a line: white space is
// dropped before searching each page's text. The text is read in blocks,
// which keeps this process small.
std::string check_output(const std::string &path, int pages, const std::string &qpdf,
                         const std::string &pdftotext, const fs::path &scratch) {
  int code = 0;
  const std::string report = capture({qpdf, "--check", path}, scratch, &code);
  if (code != 0) return "qpdf --check exit status " + std::to_string(code) + ": " + report;
  const std::string text_path = (scratch / "text.txt").string();
  code = spawn({pdftotext, "-raw", path, text_path}, "/dev/null", false).exit_code;
  if (code != 0) return "pdftotext exit status " + std::to_string(code);
  const std::string_view stamp = kStampText;
  int stamped = 0, seen = 0;
  bool found = false;
  std::string last;  // the page's latest non-space characters, at most stamp.size()
  std::ifstream f(text_path, std::ios::binary);
  char block[1 << 16];
  while (f.read(block, sizeof block) || f.gcount() > 0) {
    for (const char c : std::string_view(block, static_cast<size_t>(f.gcount()))) {
      if (c == '\f') {
        ++seen;
        stamped += found;
        found = false;
        last.clear();
      } else if (c != ' ' && c != '\n' && c != '\r' && c != '\t') {
        last += c;
        if (last.size() > stamp.size()) last.erase(0, 1);
        found = found || last == stamp;
      }
    }
  }
  f.close();
  fs::remove(text_path);
  if (seen != pages || stamped != pages)
    return "pdftotext: " + std::to_string(stamped) + " of " + std::to_string(seen) +
           " pages stamped, " + std::to_string(pages) + " expected";
  return {};
}

// Returns the FNV-1a hash of `text`, which names cached inputs after the
// program that made them.
uint32_t fnv1a(const std::string &text) {
  uint32_t h = 2166136261u;
  for (const char c : text) {
    h ^= static_cast<unsigned char>(c);
    h *= 16777619u;
  }
  return h;
}

// Returns the path of a Ghostscript document of `pages` pages of prose,
// making it in `cache` when it is not there yet. gs writes to a temporary
// name first, so an interrupted run leaves no half-made input behind.
std::string gs_document(const std::string &gs, const std::string &prose_ps, const fs::path &cache,
                        int pages) {
  char hash[16];
  std::snprintf(hash, sizeof hash, "%08x", static_cast<unsigned>(fnv1a(read_text(prose_ps))));
  const fs::path path =
      cache / ("prose-" + std::string(hash) + "-" + std::to_string(pages) + ".pdf");
  if (fs::exists(path) && fs::file_size(path) > 0) return path.string();
  const fs::path part = path.string() + ".part";
  std::fprintf(stderr, "making %s with Ghostscript...\n", path.string().c_str());
  run_child({gs, "-q", "-dNOPAUSE", "-dBATCH", "-dSAFER", "-sDEVICE=pdfwrite",
             "-dPAGES=" + std::to_string(pages), "-sOutputFile=" + part.string(), prose_ps});
  fs::rename(part, path);
  return path.string();
}

struct Tool {
  std::string name;
  std::vector<std::string> argv;  // "@IN" and "@OUT" stand for the two paths
};

std::vector<std::string> tool_argv(const Tool &tool, const std::string &in,
                                   const std::string &out) {
  std::vector<std::string> argv = tool.argv;
  for (std::string &a : argv) {
    if (a == "@IN") a = in;
    if (a == "@OUT") a = out;
  }
  return argv;
}

struct Measure {
  std::vector<double> times;
  long max_rss_kib = 0;
};

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

std::string cpu_model() {
  std::ifstream f("/proc/cpuinfo");
  for (std::string line; std::getline(f, line);) {
    if (line.rfind("model name", 0) == 0) return line.substr(line.find(':') + 2);
  }
  return "unknown";
}

double memory_gib() {
  std::ifstream f("/proc/meminfo");
  for (std::string line; std::getline(f, line);) {
    if (line.rfind("MemTotal:", 0) == 0) return std::stod(line.substr(9)) / (1 << 20);
  }
  return 0;
}

std::string fmt(const char *format, double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, format, v);
  return buf;
}

// Returns n with commas between groups of three digits, as the README
// writes page counts and large times.
std::string grouped(long n) {
  std::string digits = std::to_string(n), out;
  for (size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) out += ',';
    out += digits[i];
  }
  return out;
}

std::string milliseconds(double seconds) {
  const double ms = seconds * 1000;
  return (ms < 100 ? fmt("%.1f", ms) : grouped(static_cast<long>(ms + 0.5))) + " ms";
}

std::string mebibytes(double bytes) {
  const double mib = bytes / (1 << 20);
  if (bytes < 1000 * 1024) return fmt("%.1f KiB", bytes / 1024);
  return fmt(mib < 10 ? "%.2f MiB" : "%.1f MiB", mib);
}

std::vector<int> parse_list(const std::string &text) {
  std::vector<int> out;
  std::stringstream in(text);
  for (std::string item; std::getline(in, item, ',');) out.push_back(std::stoi(item));
  return out;
}

}  // namespace

int main(int argc, char **argv) try {
  int runs = 5;
  std::vector<int> sizes = {1, 100, 1000, 10000};
  std::string inputs = "gs", cache = FOLIMARK_BENCH_CACHE, keep;
  std::string gs = "gs", mutool = "mutool", qpdf = "qpdf", pdftotext = "pdftotext";
  bool check = true;
  const std::pair<std::string_view, std::string *> text_options[] = {
      {"--inputs", &inputs}, {"--cache", &cache}, {"--keep", &keep},          {"--gs", &gs},
      {"--mutool", &mutool}, {"--qpdf", &qpdf},   {"--pdftotext", &pdftotext}};
  for (int i = 1; i < argc; ++i) {
    const std::string opt = argv[i];
    if (opt == "--no-check") {
      check = false;
      continue;
    }
    if (i + 1 >= argc) throw std::runtime_error("option " + opt + " needs a value");
    const std::string value = argv[++i];
    const auto text = std::find_if(std::begin(text_options), std::end(text_options),
                                   [&](const auto &o) { return o.first == opt; });
    if (opt == "--runs")
      runs = std::max(1, std::stoi(value));
    else if (opt == "--pages")
      sizes = parse_list(value);
    else if (text != std::end(text_options))
      *text->second = value;
    else
      throw std::runtime_error("unknown option " + opt);
  }
  if (inputs != "gs" && inputs != "synthetic")
    throw std::runtime_error("--inputs takes gs or synthetic, not " + inputs);
  const fs::path dir = keep.empty() ? fs::temp_directory_path() /
                                          ("folimark-stamp-bench-" + std::to_string(getpid()))
                                    : fs::path(keep);
  fs::create_directories(dir);
  if (inputs == "gs") fs::create_directories(cache);
  const std::string stamp_tool = FOLIMARK_STAMP_CLI;
  const std::string bench_dir = FOLIMARK_BENCH_DIR;

  // The one-page stamp for qpdf: the same stamp on a blank page, made by us.
  const std::string blank = (dir / "blank.pdf").string(), stamp = (dir / "stamp.pdf").string();
  write_document(blank, 1, true);
  const std::vector<Tool> tools = {
      {"folimark",
       {stamp_tool, "text", "-x", "72", "-y", "300", "--size", "36", "--opacity", "0.5",
        "--rotation", "45", "--color", "200,0,0", "@IN", "@OUT", kStampText}},
      {"mutool", {mutool, "run", bench_dir + "/mutool_stamp.js", "@IN", "@OUT"}},
      // Without --repeat, qpdf lays the overlay's one page on the first page
      // only and leaves the others as they were.
      {"qpdf", {qpdf, "--overlay", stamp, "--to=1-z", "--repeat=1", "--", "@IN", "@OUT"}},
  };
  run_child(tool_argv(tools[0], blank, stamp));

  const std::string source = FOLIMARK_SOURCE_DIR;
  std::string commit = first_line({"git", "-C", source, "rev-parse", "--short=12", "HEAD"}, dir);
  if (commit != "unknown" &&
      !capture({"git", "-C", source, "status", "--porcelain", "--untracked-files=no"}, dir).empty())
    commit += " with local changes";
  std::printf("Machine: %s, %ld cores, %.0f GiB. folimark %s; %s; %s; Ghostscript %s.\n",
              cpu_model().c_str(), sysconf(_SC_NPROCESSORS_ONLN), memory_gib(), commit.c_str(),
              first_line({mutool, "-v"}, dir).c_str(), first_line({qpdf, "--version"}, dir).c_str(),
              inputs == "gs" ? first_line({gs, "--version"}, dir).c_str() : "not used");
  std::printf(
      "Inputs: %s. Median wall time of %d timed rounds after one untimed round; in each round "
      "the tools take turns; peak RSS is the largest of any run.%s\n\n",
      inputs == "gs" ? "Ghostscript pdfwrite, prose.ps" : "synthetic", runs,
      check ? " Every output passed qpdf --check and showed the stamp on every page in "
              "pdftotext."
            : "");
  std::printf(
      "| pages | input | folimark | folimark peak RSS | mutool | mutool peak RSS | qpdf | qpdf "
      "peak RSS | mutool time / folimark time | qpdf time / folimark time | budget: 2 × input + 16 "
      "MiB |\n");
  std::printf("|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|\n");
  std::fflush(stdout);
  for (const int pages : sizes) {
    std::string in;
    if (inputs == "gs") {
      in = gs_document(gs, bench_dir + "/prose.ps", cache, pages);
    } else {
      in = (dir / ("in-" + std::to_string(pages) + ".pdf")).string();
      write_document(in, pages, false);
    }
    const double in_bytes = static_cast<double>(fs::file_size(in));
    std::vector<Measure> measures(tools.size());
    std::vector<std::string> outs;
    for (const Tool &t : tools)
      outs.push_back((dir / (t.name + "-" + std::to_string(pages) + ".pdf")).string());
    for (int round = 0; round <= runs; ++round) {
      for (size_t t = 0; t < tools.size(); ++t) {
        const Run r = run_child(tool_argv(tools[t], in, outs[t]));
        if (round == 0) {
          if (!check) continue;
          const std::string fault = check_output(outs[t], pages, qpdf, pdftotext, dir);
          if (!fault.empty())
            throw std::runtime_error(tools[t].name + " output " + outs[t] + ": " + fault);
          continue;
        }
        measures[t].times.push_back(r.seconds);
        measures[t].max_rss_kib = std::max(measures[t].max_rss_kib, r.max_rss_kib);
      }
    }
    const double ours = median(measures[0].times);
    const double budget = 2 * in_bytes + 16.0 * (1 << 20);
    const double ours_rss = static_cast<double>(measures[0].max_rss_kib) * 1024;
    std::string row = "| " + grouped(pages) + " | " + mebibytes(in_bytes);
    for (const Measure &m : measures)
      row += " | " + milliseconds(median(m.times)) + " | " +
             mebibytes(static_cast<double>(m.max_rss_kib) * 1024);
    for (size_t t = 1; t < measures.size(); ++t)
      row += " | " + fmt("%.2f", median(measures[t].times) / ours);
    row += " | " + mebibytes(budget) + (ours_rss <= budget ? "" : " (exceeded)") + " |";
    std::printf("%s\n", row.c_str());
    std::fflush(stdout);
    if (keep.empty())
      for (const std::string &o : outs) fs::remove(o);
  }
  rusage self{};
  getrusage(RUSAGE_SELF, &self);
  std::printf("\nThe benchmark's own peak RSS, a floor under every peak above: %s.\n",
              mebibytes(static_cast<double>(self.ru_maxrss) * 1024).c_str());
  if (keep.empty()) fs::remove_all(dir);
  return 0;
} catch (const std::exception &e) {
  std::fprintf(stderr, "stamp_bench: %s\n", e.what());
  return 1;
}
