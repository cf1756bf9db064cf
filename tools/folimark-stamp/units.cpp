#include "units.h"

#include <charconv>
#include <cmath>

namespace cli {

namespace {

template <typename T>
std::optional<T> parse_whole(std::string_view text) {
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  T value{};
  const char *end = text.data() + text.size();
  const auto r = std::from_chars(text.data(), end, value);
  if (r.ec != std::errc() || r.ptr != end) return std::nullopt;
  return value;
}

struct Unit {
  std::string_view name;
  double points;  // points in one unit
};

constexpr Unit kUnits[] = {
    {"pt", 1.0}, {"mm", 72.0 / 25.4}, {"cm", 720.0 / 25.4}, {"in", 72.0}};

}  // namespace

std::optional<double> parse_number(std::string_view text) {
  const auto value = parse_whole<double>(text);
  if (!value || !std::isfinite(*value)) return std::nullopt;
  return value;
}

std::optional<long> parse_count(std::string_view text) { return parse_whole<long>(text); }

std::optional<double> parse_length(std::string_view text) {
  double per_unit = 1.0;
  for (const Unit &unit : kUnits) {
    if (text.size() > unit.name.size() && text.ends_with(unit.name)) {
      text.remove_suffix(unit.name.size());
      per_unit = unit.points;
      break;
    }
  }
  const auto value = parse_number(text);
  if (!value) return std::nullopt;
  const double points = *value * per_unit;
  if (!std::isfinite(points)) return std::nullopt;
  return points;
}

}  // namespace cli
