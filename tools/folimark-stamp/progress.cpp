#include "progress.h"

#include <algorithm>

namespace cli {

std::string progress_line(size_t done, size_t total, const std::string &name, size_t width) {
  std::string line = "[";
  line += std::to_string(done);
  line += '/';
  line += std::to_string(total);
  line += "] ";
  if (line.size() + name.size() <= width) {
    line += name;
    return line;
  }
  const size_t room = width > line.size() + 3 ? width - line.size() - 3 : 0;
  line += "...";
  line.append(name, name.size() - std::min(room, name.size()), std::string::npos);
  return line;
}

}  // namespace cli
