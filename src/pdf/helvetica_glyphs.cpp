// The glyphs of Helvetica's standard Latin set that WinAnsiEncoding lacks,
// as the stamp's second built-in font encodes them.
#include "pdf/helvetica_glyphs.h"

#include <algorithm>

namespace {

struct Glyph {
  const char *name;  // the glyph's name in the Adobe Glyph List
  uint16_t width;    // its advance width in Helvetica, in 1/1000 em
};

// Code n (1 to 98) of the extra font names kGlyphs[n - 1]. The widths
// are the WX values of Adobe's Core 14 metrics file Helvetica.afm (version
// 002.000). commaaccent, the set's one glyph without a character of its own,
// is left out.
constexpr Glyph kGlyphs[] = {
    {"fraction", 167},
    {"fi", 500},
    {"fl", 500},
    {"breve", 333},
    {"dotaccent", 333},
    {"ring", 333},
    {"hungarumlaut", 333},
    {"ogonek", 333},
    {"caron", 333},
    {"Lslash", 556},
    {"lslash", 222},
    {"dotlessi", 278},
    {"abreve", 556},
    {"uhungarumlaut", 556},
    {"ecaron", 556},
    {"scommaaccent", 500},
    {"aogonek", 556},
    {"uogonek", 556},
    {"Dcroat", 722},
    {"Emacron", 667},
    {"ccaron", 500},
    {"Ncommaaccent", 722},
    {"lacute", 222},
    {"Tcommaaccent", 611},
    {"Cacute", 722},
    {"Edotaccent", 667},
    {"scedilla", 500},
    {"lozenge", 471},
    {"Rcaron", 722},
    {"Gcommaaccent", 778},
    {"Amacron", 667},
    {"rcaron", 333},
    {"Zdotaccent", 611},
    {"Omacron", 778},
    {"Racute", 722},
    {"Sacute", 667},
    {"dcaron", 643},
    {"Umacron", 722},
    {"uring", 556},
    {"Abreve", 667},
    {"Tcaron", 611},
    {"partialdiff", 476},
    {"Nacute", 722},
    {"cacute", 500},
    {"nacute", 556},
    {"umacron", 556},
    {"Ncaron", 722},
    {"Gbreve", 778},
    {"Idotaccent", 278},
    {"summation", 600},
    {"racute", 333},
    {"omacron", 556},
    {"Zacute", 611},
    {"greaterequal", 549},
    {"lcommaaccent", 222},
    {"tcaron", 317},
    {"eogonek", 556},
    {"Uogonek", 722},
    {"zacute", 500},
    {"iogonek", 222},
    {"amacron", 556},
    {"sacute", 500},
    {"Delta", 612},
    {"ohungarumlaut", 556},
    {"Eogonek", 667},
    {"dcroat", 556},
    {"Scedilla", 667},
    {"lcaron", 299},
    {"Kcommaaccent", 667},
    {"Lacute", 556},
    {"edotaccent", 556},
    {"Imacron", 278},
    {"Lcaron", 556},
    {"lessequal", 549},
    {"Uhungarumlaut", 722},
    {"emacron", 556},
    {"gbreve", 556},
    {"Scommaaccent", 667},
    {"Ohungarumlaut", 778},
    {"Ccaron", 722},
    {"radical", 453},
    {"Dcaron", 722},
    {"rcommaaccent", 333},
    {"Rcommaaccent", 722},
    {"Lcommaaccent", 556},
    {"Aogonek", 667},
    {"zdotaccent", 500},
    {"Ecaron", 667},
    {"Iogonek", 278},
    {"kcommaaccent", 500},
    {"minus", 584},
    {"ncaron", 556},
    {"tcommaaccent", 278},
    {"notequal", 549},
    {"gcommaaccent", 556},
    {"ncommaaccent", 556},
    {"imacron", 278},
    {"Uring", 722},
};

struct CodeOf {
  uint32_t code_point;
  uint8_t code;
};

// The characters the extra font shows, sorted by code point. U+021A and
// U+021B, the comma-below T of Romanian, share the glyphs of U+0162 and
// U+0163, which Helvetica draws with a comma below.
constexpr CodeOf kCodes[] = {
    {0x0100, 31},  // Amacron
    {0x0101, 61},  // amacron
    {0x0102, 40},  // Abreve
    {0x0103, 13},  // abreve
    {0x0104, 86},  // Aogonek
    {0x0105, 17},  // aogonek
    {0x0106, 25},  // Cacute
    {0x0107, 44},  // cacute
    {0x010C, 80},  // Ccaron
    {0x010D, 21},  // ccaron
    {0x010E, 82},  // Dcaron
    {0x010F, 37},  // dcaron
    {0x0110, 19},  // Dcroat
    {0x0111, 66},  // dcroat
    {0x0112, 20},  // Emacron
    {0x0113, 76},  // emacron
    {0x0116, 26},  // Edotaccent
    {0x0117, 71},  // edotaccent
    {0x0118, 65},  // Eogonek
    {0x0119, 57},  // eogonek
    {0x011A, 88},  // Ecaron
    {0x011B, 15},  // ecaron
    {0x011E, 48},  // Gbreve
    {0x011F, 77},  // gbreve
    {0x0122, 30},  // Gcommaaccent
    {0x0123, 95},  // gcommaaccent
    {0x012A, 72},  // Imacron
    {0x012B, 97},  // imacron
    {0x012E, 89},  // Iogonek
    {0x012F, 60},  // iogonek
    {0x0130, 49},  // Idotaccent
    {0x0131, 12},  // dotlessi
    {0x0136, 69},  // Kcommaaccent
    {0x0137, 90},  // kcommaaccent
    {0x0139, 70},  // Lacute
    {0x013A, 23},  // lacute
    {0x013B, 85},  // Lcommaaccent
    {0x013C, 55},  // lcommaaccent
    {0x013D, 73},  // Lcaron
    {0x013E, 68},  // lcaron
    {0x0141, 10},  // Lslash
    {0x0142, 11},  // lslash
    {0x0143, 43},  // Nacute
    {0x0144, 45},  // nacute
    {0x0145, 22},  // Ncommaaccent
    {0x0146, 96},  // ncommaaccent
    {0x0147, 47},  // Ncaron
    {0x0148, 92},  // ncaron
    {0x014C, 34},  // Omacron
    {0x014D, 52},  // omacron
    {0x0150, 79},  // Ohungarumlaut
    {0x0151, 64},  // ohungarumlaut
    {0x0154, 35},  // Racute
    {0x0155, 51},  // racute
    {0x0156, 84},  // Rcommaaccent
    {0x0157, 83},  // rcommaaccent
    {0x0158, 29},  // Rcaron
    {0x0159, 32},  // rcaron
    {0x015A, 36},  // Sacute
    {0x015B, 62},  // sacute
    {0x015E, 67},  // Scedilla
    {0x015F, 27},  // scedilla
    {0x0162, 24},  // Tcommaaccent
    {0x0163, 93},  // tcommaaccent
    {0x0164, 41},  // Tcaron
    {0x0165, 56},  // tcaron
    {0x016A, 38},  // Umacron
    {0x016B, 46},  // umacron
    {0x016E, 98},  // Uring
    {0x016F, 39},  // uring
    {0x0170, 75},  // Uhungarumlaut
    {0x0171, 14},  // uhungarumlaut
    {0x0172, 58},  // Uogonek
    {0x0173, 18},  // uogonek
    {0x0179, 53},  // Zacute
    {0x017A, 59},  // zacute
    {0x017B, 33},  // Zdotaccent
    {0x017C, 87},  // zdotaccent
    {0x0218, 78},  // Scommaaccent
    {0x0219, 16},  // scommaaccent
    {0x021A, 24},  // Tcommaaccent
    {0x021B, 93},  // tcommaaccent
    {0x02C7, 9},  // caron
    {0x02D8, 4},  // breve
    {0x02D9, 5},  // dotaccent
    {0x02DA, 6},  // ring
    {0x02DB, 8},  // ogonek
    {0x02DD, 7},  // hungarumlaut
    {0x2044, 1},  // fraction
    {0x2202, 42},  // partialdiff
    {0x2206, 63},  // Delta
    {0x2211, 50},  // summation
    {0x2212, 91},  // minus
    {0x221A, 81},  // radical
    {0x2260, 94},  // notequal
    {0x2264, 74},  // lessequal
    {0x2265, 54},  // greaterequal
    {0x25CA, 28},  // lozenge
    {0xFB01, 2},  // fi
    {0xFB02, 3},  // fl
};

}  // namespace

int helvetica_extra_code(uint32_t code_point) {
  const auto *end = std::end(kCodes);
  const auto *at = std::lower_bound(std::begin(kCodes), end, code_point,
                                    [](const CodeOf &c, uint32_t cp) { return c.code_point < cp; });
  return at != end && at->code_point == code_point ? at->code : -1;
}

uint16_t helvetica_extra_width(uint8_t code) {
  return code >= 1 && code <= kHelveticaExtraCount ? kGlyphs[code - 1].width : 0;
}

std::string helvetica_extra_differences() {
  std::string text = "[1";
  for (const Glyph &g : kGlyphs) {
    text += " /";
    text += g.name;
  }
  text += ']';
  return text;
}
