// The options one by one: each name, whether it takes a value, and what it sets. What depends on
// several options is settled once all are read, by CompleteOptions.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "SimOptions.h"

namespace qzsim {

// The options as read so far, and what waits for the others.
struct OptionDraft {
  SimOptions& options;
  std::optional<std::uint32_t> idcode;
  std::optional<std::string> badWord;
  int failures = 0;  // --pviol-after and --accerr-after, each time given
};

struct Option {
  std::string_view name;
  bool takesValue;
  // Empty when the value is good, else what is wrong with it.
  std::string (*set)(OptionDraft& draft, std::string_view name, std::string_view value);
};

std::span<const Option> OptionTable();

// The checks across options, and what follows from several: the variant's IDCODE unless one was
// given, the bad word's place in the variant's map. Empty when all is well.
std::string CompleteOptions(OptionDraft& draft);

}  // namespace qzsim
