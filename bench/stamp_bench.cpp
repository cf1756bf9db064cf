// Stamping speed and memory: folimark-stamp beside qpdf's overlay, on
// documents of 1, 100, 1,000 and 10,000 pages that this program writes
// itself. Both tools run as child processes doing the whole job (read the
// input, stamp every page, write the output); the wall time is the median
// of several runs and the peak memory the largest resident set (wait4's
// ru_maxrss) that any run reached.
//
// usage: stamp_bench [--runs N] [--pages 1,100,1000,10000] [--qpdf PATH] [--keep DIR]
//
// The documents look like text pages from a word processor: a page tree of
// nodes holding 50 pages each, one shared Helvetica font, and per page one
// /FlateDecode content stream of 40 lines of text (about 1 KiB compressed).
// qpdf overlays a one-page stamp PDF that folimark-stamp itself made.
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "flate/flate.h"

extern char **environ;

namespace fs = std::filesystem;

namespace {

// Pages per intermediate node of the generated page tree, as word
// processors write them (no node is anywhere near a reader's kid limits).
constexpr int kPagesPerNode = 50;

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

// Writes a document of `pages` pages (content empty when blank) and returns
// its size in bytes.
size_t write_document(const std::string &path, int pages, bool blank) {
  std::string out = "%PDF-1.7\n%\xE2\xE3\xCF\xD3\n";
  std::vector<size_t> offsets;
  auto add = [&](int num, const std::string &body) {
    if (static_cast<size_t>(num) >= offsets.size()) offsets.resize(static_cast<size_t>(num) + 1, 0);
    offsets[static_cast<size_t>(num)] = out.size();
    out += std::to_string(num) + " 0 obj\n" + body + "\nendobj\n";
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
  const size_t xref = out.size();
  out += "xref\n0 " + std::to_string(offsets.size()) + "\n0000000000 65535 f \n";
  for (size_t n = 1; n < offsets.size(); ++n) {
    char line[32];
    std::snprintf(line, sizeof line, "%010zu 00000 n \n", offsets[n]);
    out += line;
  }
  out += "trailer\n<< /Size " + std::to_string(offsets.size()) + " /Root 1 0 R >>\nstartxref\n" +
         std::to_string(xref) + "\n%%EOF\n";
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f.write(out.data(), static_cast<std::streamsize>(out.size()));
  if (!f) throw std::runtime_error("cannot write " + path);
  return out.size();
}

struct Run {
  double seconds = 0;
  long max_rss_kib = 0;
};

// Returns the wall time and peak resident set of one run of argv, which
// must exit with status 0. posix_spawn does not copy this process's memory,
// so the child's peak is its own.
Run run_child(const std::vector<std::string> &argv) {
  std::vector<char *> args;
  for (const std::string &a : argv) args.push_back(const_cast<char *>(a.c_str()));
  args.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  const auto start = std::chrono::steady_clock::now();
  pid_t pid = 0;
  const int spawned = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) throw std::runtime_error("cannot run " + argv[0]);
  int status = 0;
  rusage usage{};
  if (wait4(pid, &status, 0, &usage) != pid) throw std::runtime_error("wait4 failed");
  const auto end = std::chrono::steady_clock::now();
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::string cmd;
    for (const std::string &a : argv) cmd += a + " ";
    throw std::runtime_error("failed: " + cmd);
  }
  return {std::chrono::duration<double>(end - start).count(), usage.ru_maxrss};
}

struct Measure {
  double median_seconds = 0;
  long max_rss_kib = 0;
};

Measure measure(const std::vector<std::string> &argv, int runs) {
  std::vector<double> times;
  Measure m;
  for (int r = 0; r < runs; ++r) {
    const Run one = run_child(argv);
    times.push_back(one.seconds);
    m.max_rss_kib = std::max(m.max_rss_kib, one.max_rss_kib);
  }
  std::sort(times.begin(), times.end());
  m.median_seconds = times[times.size() / 2];
  return m;
}

std::string cpu_model() {
  std::ifstream f("/proc/cpuinfo");
  for (std::string line; std::getline(f, line);) {
    if (line.rfind("model name", 0) == 0) return line.substr(line.find(':') + 2);
  }
  return "unknown";
}

std::string fmt(const char *format, double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, format, v);
  return buf;
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
  std::string qpdf = "qpdf";
  std::string keep;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string opt = argv[i], value = argv[i + 1];
    if (opt == "--runs")
      runs = std::max(1, std::stoi(value));
    else if (opt == "--pages")
      sizes = parse_list(value);
    else if (opt == "--qpdf")
      qpdf = value;
    else if (opt == "--keep")
      keep = value;
    else
      throw std::runtime_error("unknown option " + opt);
  }
  const fs::path dir = keep.empty() ? fs::temp_directory_path() /
                                          ("folimark-stamp-bench-" + std::to_string(getpid()))
                                    : fs::path(keep);
  fs::create_directories(dir);
  const std::string tool = FOLIMARK_STAMP_CLI;
  const std::vector<std::string> stamp_options = {"-x",         "72", "-y",        "300",
                                                  "--size",     "36", "--opacity", "0.5",
                                                  "--rotation", "45", "--color",   "200,0,0"};
  const std::string text = "CONFIDENTIAL";

  // The one-page stamp for qpdf: the same stamp on a blank page, made by us.
  const std::string blank = (dir / "blank.pdf").string(), stamp = (dir / "stamp.pdf").string();
  write_document(blank, 1, true);
  {
    std::vector<std::string> a = {tool, "text"};
    a.insert(a.end(), stamp_options.begin(), stamp_options.end());
    a.insert(a.end(), {blank, stamp, text});
    run_child(a);
  }

  std::printf("machine: %s, %ld cores; %d runs per figure (median time, largest peak RSS)\n\n",
              cpu_model().c_str(), sysconf(_SC_NPROCESSORS_ONLN), runs);
  std::printf(
      "| pages | input | folimark time | folimark peak RSS | qpdf time | qpdf peak RSS |"
      " speed-up | memory budget | within budget |\n");
  std::printf("|---:|---:|---:|---:|---:|---:|---:|---:|:---:|\n");
  for (const int pages : sizes) {
    const std::string in = (dir / ("in-" + std::to_string(pages) + ".pdf")).string();
    const std::string ours = (dir / ("folimark-" + std::to_string(pages) + ".pdf")).string();
    const std::string theirs = (dir / ("qpdf-" + std::to_string(pages) + ".pdf")).string();
    const size_t in_size = write_document(in, pages, false);
    std::vector<std::string> a = {tool, "text"};
    a.insert(a.end(), stamp_options.begin(), stamp_options.end());
    a.insert(a.end(), {in, ours, text});
    const Measure f = measure(a, runs);
    const Measure q = measure({qpdf, "--overlay", stamp, "--to=1-z", "--", in, theirs}, runs);
    const double in_mib = static_cast<double>(in_size) / (1 << 20);
    const double budget_mib = 3 * in_mib + 16;
    const double f_mib = static_cast<double>(f.max_rss_kib) / 1024;
    const double q_mib = static_cast<double>(q.max_rss_kib) / 1024;
    const std::string in_text =
        in_mib < 1 ? fmt("%.1f KiB", in_mib * 1024) : fmt("%.2f MiB", in_mib);
    std::printf("| %d | %s | %s ms | %s MiB | %s ms | %s MiB | %s | %s MiB | %s |\n", pages,
                in_text.c_str(), fmt("%.1f", f.median_seconds * 1000).c_str(),
                fmt("%.1f", f_mib).c_str(), fmt("%.1f", q.median_seconds * 1000).c_str(),
                fmt("%.1f", q_mib).c_str(),
                fmt("%.1fx", q.median_seconds / f.median_seconds).c_str(),
                fmt("%.1f", budget_mib).c_str(), f_mib <= budget_mib ? "yes" : "NO");
    std::fflush(stdout);
    if (keep.empty()) {
      fs::remove(in);
      fs::remove(ours);
      fs::remove(theirs);
    }
  }
  if (keep.empty()) fs::remove_all(dir);
  return 0;
} catch (const std::exception &e) {
  std::fprintf(stderr, "stamp_bench: %s\n", e.what());
  return 1;
}
