// Numbers as text for generated PDF, exactly as the C locale's printf writes
// them whatever locale the host has set (a host may use a decimal comma).
#pragma once

#include <cstdint>
#include <string>

struct ByteBuf;

// Appends v the way printf("%.<precision>f") does in the C locale
// ("-0.000000" for negative zero included).
void buf_fixed(ByteBuf &buf, double v, int precision);

// Appends v the way printf("%lld") does.
void buf_int(ByteBuf &buf, int64_t v);

// Appends v zero-padded to `width` digits, as printf("%0<width>lld") does for v >= 0.
void buf_int_padded(ByteBuf &buf, int64_t v, int width);

// Returns v formatted like buf_fixed, as a string.
std::string fixed_text(double v, int precision);
