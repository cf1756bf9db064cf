// Seeded sample data shaped like what the library compresses in practice.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace bench {

// Returns about `size` bytes of page content: text objects, paths and
// transforms with varying numbers and words, as office and print drivers
// write them.
inline std::vector<unsigned char> pdf_content(size_t size, uint32_t seed = 1) {
  static const char *const words[] = {"invoice", "total",  "the",   "amount", "of",  "page",
                                      "customer", "number", "date",  "paid",   "due", "and",
                                      "account",  "summary", "item", "price",  "tax", "order"};
  uint32_t state = seed;
  auto next = [&state] {
    state = state * 1664525u + 1013904223u;
    return state >> 8;
  };
  std::string out;
  out.reserve(size + 256);
  while (out.size() < size) {
    switch (next() % 4) {
      case 0: {
        out += "BT /F" + std::to_string(1 + next() % 3) + " " + std::to_string(8 + next() % 6) +
               " Tf " + std::to_string(next() % 540) + " " + std::to_string(next() % 780) +
               " Td (";
        const unsigned n = 2 + next() % 6;
        for (unsigned w = 0; w < n; ++w) {
          if (w) out += ' ';
          out += words[next() % (sizeof words / sizeof *words)];
        }
        out += ") Tj ET\n";
        break;
      }
      case 1:
        out += std::to_string(next() % 600) + "." + std::to_string(next() % 100) + " " +
               std::to_string(next() % 800) + " m " + std::to_string(next() % 600) + " " +
               std::to_string(next() % 800) + " l S\n";
        break;
      case 2:
        out += "q 1 0 0 1 " + std::to_string(next() % 600) + " " + std::to_string(next() % 800) +
               " cm 0." + std::to_string(next() % 1000) + " g\n";
        break;
      default:
        out += "Q\n";
        break;
    }
  }
  out.resize(size);
  return {out.begin(), out.end()};
}

// Returns width*height RGB pixels: smooth gradients with a little noise, like
// a photograph or a scanned page.
inline std::vector<unsigned char> rgb_image(int width, int height, uint32_t seed = 7) {
  uint32_t state = seed;
  std::vector<unsigned char> out(static_cast<size_t>(width) * height * 3);
  size_t k = 0;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      state = state * 1664525u + 1013904223u;
      const int noise = static_cast<int>((state >> 24) % 9) - 4;
      const int r = (x * 255) / width + noise;
      const int g = (y * 255) / height + noise;
      const int b = ((x + y) * 127) / (width + height) + 64 + noise;
      out[k++] = static_cast<unsigned char>(r < 0 ? 0 : r > 255 ? 255 : r);
      out[k++] = static_cast<unsigned char>(g < 0 ? 0 : g > 255 ? 255 : g);
      out[k++] = static_cast<unsigned char>(b < 0 ? 0 : b > 255 ? 255 : b);
    }
  }
  return out;
}

}  // namespace bench
