// Runs a fuzz target over saved inputs without a fuzzing engine: every file
// named on the command line, and every file inside a named directory.
// Each input is handed over in a block of exactly its size, as libFuzzer
// does, so that a read one byte past the end is caught by the sanitizers.
// Exits 0 once all ran; a fault in the target ends the run as it would under
// the fuzzer.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <vector>

#include "fuzz_target.h"

namespace {

bool run_file(const std::filesystem::path &path, long &count) {
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  if (!in) return false;
  const std::streamoff size = in.tellg();
  if (size < 0) return false;
  in.seekg(0);
  const auto bytes = std::make_unique_for_overwrite<uint8_t[]>(static_cast<size_t>(size));
  if (!in.read(reinterpret_cast<char *>(bytes.get()), size)) return false;
  LLVMFuzzerTestOneInput(bytes.get(), static_cast<size_t>(size));
  ++count;
  return true;
}

}  // namespace

int main(int argc, char **argv) {
  namespace fs = std::filesystem;
  long count = 0;
  int unreadable = 0;
  for (int i = 1; i < argc; ++i) {
    const fs::path arg = argv[i];
    std::vector<fs::path> files;
    if (fs::is_directory(arg)) {
      for (const auto &entry : fs::recursive_directory_iterator(arg))
        if (entry.is_regular_file()) files.push_back(entry.path());
      std::sort(files.begin(), files.end());
    } else if (fs::is_regular_file(arg)) {
      files.push_back(arg);
    } else {
      std::fprintf(stderr, "skipping %s: not found\n", argv[i]);
    }
    for (const fs::path &file : files) {
      if (run_file(file, count)) continue;
      std::fprintf(stderr, "cannot read %s\n", file.string().c_str());
      ++unreadable;
    }
  }
  std::printf("%ld inputs ran\n", count);
  return unreadable == 0 ? 0 : 1;
}
