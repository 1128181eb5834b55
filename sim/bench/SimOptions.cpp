// The walk over the arguments: "--name value" or "--name=value", up to "--".
#include "SimOptions.h"

#include <optional>
#include <string_view>

#include "OptionTable.h"

namespace qzsim {

std::string ParseSimOptions(std::span<const char* const> args, SimOptions& options) {
  OptionDraft draft{options, std::nullopt, std::nullopt, 0};
  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string_view arg = args[i];
    if (arg == "--") {
      options.programArgs.assign(args.begin() + static_cast<std::ptrdiff_t>(i) + 1, args.end());
      break;
    }
    std::optional<std::string_view> inlineValue;
    if (const auto equals = arg.find('='); arg.starts_with("--") && equals != arg.npos) {
      inlineValue = arg.substr(equals + 1);
      arg = arg.substr(0, equals);
    }
    const Option* option = nullptr;
    for (const Option& candidate : OptionTable()) {
      if (candidate.name == arg) option = &candidate;
    }
    if (option == nullptr) return "unknown option '" + std::string(args[i]) + "'";
    std::string_view value;
    if (option->takesValue) {
      if (inlineValue) {
        value = *inlineValue;
      } else if (i + 1 < args.size()) {
        value = args[++i];
      } else {
        return std::string(arg) + " needs a value";
      }
    } else if (inlineValue) {
      return std::string(arg) + " takes no value";
    }
    if (auto error = option->set(draft, arg, value); !error.empty()) return error;
  }
  return CompleteOptions(draft);
}

}  // namespace qzsim
