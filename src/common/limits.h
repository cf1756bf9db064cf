// Named limits on what untrusted input may make the library allocate or
// walk. Each says why it is where it is.
#pragma once

#include <cstddef>
#include <cstdint>

// Object numbers above this are not indexed: tables indexed by number stay
// bounded (32 MiB each) whatever a damaged file claims. Real documents stay
// far below it.
inline constexpr int32_t kMaxObjectNumber = 8388607;

// The largest output accepted for one inflated stream: a guard against
// decompression bombs in damaged or hostile files.
inline constexpr uint64_t kMaxInflatedStream = 64u << 20;

// The most filters one stream's data is decoded through. Real producers
// chain two or three; each step may write up to kMaxInflatedStream, so the
// count bounds the work a single stream can ask for.
inline constexpr int kMaxFilterChain = 8;

// A trailer dictionary holds a handful of keys: reading one looks no further
// than this, so that a file full of damaged trailers stays linear to load.
inline constexpr int32_t kMaxTrailerBytes = 64 * 1024;

// Only the newest trailers found by scanning a damaged file are read for
// their keys; older ones are stale, and a file may hold any number.
inline constexpr size_t kMaxScannedTrailers = 64;

// Page trees deeper than this are damaged or hostile; real ones have a
// handful of levels.
inline constexpr int kMaxTreeDepth = 64;

// A page-selection expression is written by a person or by a program from
// its own list: even every page of a document of a million pages, listed one
// by one, stays below this. The bound keeps the count of items that can
// cover one page far inside 32 bits.
inline constexpr size_t kMaxPageSelectionBytes = 16u << 20;

// A font face's table directory: real fonts hold a few dozen tables; more
// than this is a damaged or hostile directory, refused before it is read.
inline constexpr uint32_t kMaxFontTables = 256;

// A font subset copies each kept glyph's outline once. Glyph ids whose
// outlines overlap could make it copy the same bytes again and again, so the
// outlines it copies, and the composite glyphs it walks, may add up to at
// most this many times the font's own glyf table (plus padding) before the
// font counts as damaged: the work stays linear in the font's size.
inline constexpr uint64_t kMaxSubsetGlyphFactor = 2;

// A font file to embed: the largest real fonts (whole CJK families in one
// collection) are some tens of MiB; table offsets are 32-bit.
inline constexpr uint64_t kMaxFontFileBytes = 1u << 30;

// An /Encrypt dictionary's /CF names one or two crypt filters in real
// documents; entries beyond this many are not read, so that a hostile
// dictionary cannot make the list grow with every entry it holds.
inline constexpr size_t kMaxCryptFilters = 64;
