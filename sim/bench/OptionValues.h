// The values the options take, each parsed whole: trailing characters make a value bad.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace qzsim {

// Decimal, or hexadecimal with an optional "0x".
bool ParseUnsigned(std::string_view text, int base, std::uint64_t& value);
// A decimal count from min to max; empty when it is one, else "NAME: 'TEXT' is not a number
// from MIN to MAX".
std::string Count(std::string_view name, std::string_view text, std::uint64_t min,
                  std::uint64_t max, std::uint64_t& value);

}  // namespace qzsim
