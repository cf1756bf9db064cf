#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "fuzz_target.h"

namespace fuzz {

std::string write_input(const uint8_t *data, size_t size) {
  static const std::string path =
      (std::filesystem::temp_directory_path() / ("folimark-fuzz-" + std::to_string(getpid())))
          .string();
  std::FILE *f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return path;
  if (size > 0) std::fwrite(data, 1, size, f);
  std::fclose(f);
  return path;
}

}  // namespace fuzz
