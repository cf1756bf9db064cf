// Runs a fuzz target over saved inputs without a fuzzing engine: every file
// named on the command line, and every file inside a named directory.
// Exits 0 once all ran; a fault in the target ends the run as it would under
// the fuzzer.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "fuzz_target.h"

namespace {

void run_file(const std::filesystem::path &path, long &count) {
  std::ifstream in(path, std::ios::binary);
  const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t *>(bytes.data()), bytes.size());
  ++count;
}

}  // namespace

int main(int argc, char **argv) {
  namespace fs = std::filesystem;
  long count = 0;
  for (int i = 1; i < argc; ++i) {
    const fs::path arg = argv[i];
    if (fs::is_directory(arg)) {
      std::vector<fs::path> files;
      for (const auto &entry : fs::recursive_directory_iterator(arg))
        if (entry.is_regular_file()) files.push_back(entry.path());
      std::sort(files.begin(), files.end());
      for (const fs::path &file : files) run_file(file, count);
    } else if (fs::is_regular_file(arg)) {
      run_file(arg, count);
    } else {
      std::fprintf(stderr, "skipping %s: not found\n", argv[i]);
    }
  }
  std::printf("%ld inputs ran\n", count);
  return 0;
}
