// Helvetica advance widths by WinAnsiEncoding code, and line widths.
#include "pdf/font_metrics.h"

#include <cstdint>


namespace {

// The advance width, in 1/1000 em, of the glyph that each WinAnsiEncoding
// code names in Helvetica. The numbers are the WX values of Adobe's Core 14
// metrics file Helvetica.afm (version 002.000), looked up by the glyph name
// that WinAnsiEncoding gives each code: 0x7F, 0x81, 0x8D, 0x8F, 0x90 and 0x9D
// name bullet, 0xA0 space and 0xAD hyphen. Codes 0x00-0x1F name no glyph and
// are 0 wide, as PDF readers place them for a standard font without /Widths.
constexpr uint16_t kHelveticaWidths[256] = {
    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,
    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,
    278,  278,  355,  556,  556,  889,  667,  191,  333,  333,  389,  584,  278,  333,  278,  278,
    556,  556,  556,  556,  556,  556,  556,  556,  556,  556,  278,  278,  584,  584,  584,  556,
    1015, 667,  667,  722,  722,  667,  611,  778,  722,  278,  500,  667,  556,  833,  722,  778,
    667,  778,  722,  667,  611,  722,  667,  944,  667,  667,  611,  278,  278,  278,  469,  556,
    333,  556,  556,  500,  556,  556,  278,  556,  556,  222,  222,  500,  222,  833,  556,  556,
    556,  556,  333,  500,  278,  556,  500,  722,  500,  500,  500,  334,  260,  334,  584,  350,
    556,  350,  222,  556,  333,  1000, 556,  556,  333,  1000, 667,  333,  1000, 350,  611,  350,
    350,  222,  222,  333,  333,  350,  556,  1000, 333,  1000, 500,  333,  944,  350,  500,  667,
    278,  333,  556,  556,  556,  556,  260,  556,  333,  737,  370,  556,  584,  333,  737,  333,
    400,  584,  333,  333,  333,  556,  537,  278,  333,  333,  365,  556,  834,  834,  834,  611,
    667,  667,  667,  667,  667,  667,  1000, 722,  667,  667,  667,  667,  278,  278,  278,  278,
    722,  722,  778,  778,  778,  778,  778,  584,  778,  722,  722,  722,  722,  667,  667,  611,
    556,  556,  556,  556,  556,  556,  889,  500,  556,  556,  556,  556,  278,  278,  278,  278,
    556,  556,  556,  556,  556,  556,  556,  584,  611,  556,  556,  556,  556,  500,  556,  500,
};

}  // namespace

uint16_t helvetica_winansi_width(uint8_t code) { return kHelveticaWidths[code]; }

double winansi_text_width(std::string_view winansi_bytes, double font_size) {
  uint64_t units = 0;
  for (const char c : winansi_bytes) units += kHelveticaWidths[static_cast<uint8_t>(c)];
  return static_cast<double>(units) * font_size / 1000.0;
}
