#include "OptionValues.h"

#include <charconv>

namespace qzsim {

bool ParseUnsigned(std::string_view text, int base, std::uint64_t& value) {
  if (base == 16 && (text.starts_with("0x") || text.starts_with("0X"))) text.remove_prefix(2);
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
  return !text.empty() && error == std::errc() && end == text.data() + text.size();
}

std::string Count(std::string_view name, std::string_view text, std::uint64_t min,
                  std::uint64_t max, std::uint64_t& value) {
  if (!ParseUnsigned(text, 10, value) || value < min || value > max) {
    return std::string(name) + ": '" + std::string(text) + "' is not a number from " +
           std::to_string(min) + " to " + std::to_string(max);
  }
  return {};
}

}  // namespace qzsim
