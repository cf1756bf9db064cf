// The glyphs of Helvetica's standard Latin set beyond WinAnsiEncoding (Ł ł
// Ś ś Ő ő Č č Ğ ğ İ ı Ş ş Ā ā ... and a few symbols), which the built-in
// font reaches through a second font dictionary of the same Helvetica whose
// /Differences give each of them a code.
#pragma once

#include <cstdint>
#include <string>

// How many glyphs the extra font encodes, at codes 1 to this.
inline constexpr int kHelveticaExtraCount = 98;

// Returns the extra font's code for the character, or -1 when it has none.
int helvetica_extra_code(uint32_t code_point);

// Returns the advance width, in 1/1000 em, of the extra font's code.
uint16_t helvetica_extra_width(uint8_t code);

// Returns the extra font's /Differences array: "[1 /fraction /fi ...]".
std::string helvetica_extra_differences();
