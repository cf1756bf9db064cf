// Numbers and lengths as written on the command line of folimark-stamp.
// Read with std::from_chars, so a host locale with a decimal comma changes
// nothing. Does not read hexadecimal, grouped digits, or a space between a
// number and its unit.
#pragma once

#include <optional>
#include <string_view>

namespace cli {

// Returns the finite decimal number that is the whole of `text` (an
// optional leading '+' allowed), or nothing.
std::optional<double> parse_number(std::string_view text);

// Returns the whole number that is the whole of `text`, or nothing.
std::optional<long> parse_count(std::string_view text);

// Returns the length in points that `text` gives as a number followed by
// an optional unit: pt (the default), mm, cm or in. Nothing when it is no
// such length.
std::optional<double> parse_length(std::string_view text);

}  // namespace cli
