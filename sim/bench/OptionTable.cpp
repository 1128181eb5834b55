#include "OptionTable.h"

#include <limits>

#include "OptionValues.h"

namespace qzsim {

namespace {

constexpr unsigned kMaxDevices = 127;
constexpr std::uint64_t kAny = std::numeric_limits<std::uint64_t>::max();

using Name = std::string_view;
using Value = std::string_view;

std::string Failure(OptionDraft& draft, Name name, Value value, FlashFailure failure) {
  FlashFaults& flash = draft.options.bench.target.flashFaults;
  ++draft.failures;
  flash.failure = failure;
  return Count(name, value, 0, kAny, flash.failAfterWords);
}

// Counts that land in a narrower field are range-checked first, so the cast keeps them whole.
template <typename Field>
std::string CountInto(Name name, Value value, std::uint64_t min, std::uint64_t max, Field& field) {
  std::uint64_t n = 0;
  auto error = Count(name, value, min, max, n);
  field = static_cast<Field>(n);
  return error;
}

std::string UsbErrorOf(Name name, Value value, UsbError& error) {
  constexpr std::pair<Value, UsbError> kNames[] = {
      {"access", UsbError::Access}, {"busy", UsbError::Busy}, {"no-device", UsbError::NoDevice}};
  for (const auto& [text, kind] : kNames) {
    if (value == text) {
      error = kind;
      return {};
    }
  }
  return std::string(name) + ": '" + std::string(value) + "' is not access, busy or no-device";
}

constexpr Option kOptions[] = {
    {"--help", false,
     [](OptionDraft& d, Name, Value) {
       d.options.help = true;
       return std::string();
     }},
    {"--variant", true,
     [](OptionDraft& d, Name name, Value value) {
       return CountInto(name, value, 1, 2, d.options.bench.target.variant);
     }},
    {"--idcode", true,
     [](OptionDraft& d, Name name, Value value) {
       std::uint64_t n = 0;
       if (!ParseUnsigned(value, 16, n) || n > 0xFFFFFFFF) {
         return std::string(name) + ": '" + std::string(value) + "' is not a 32-bit hexadecimal value";
       }
       d.idcode = static_cast<std::uint32_t>(n);
       return std::string();
     }},
    {"--devices", true,
     [](OptionDraft& d, Name name, Value value) {
       return CountInto(name, value, 0, kMaxDevices, d.options.bench.devices);
     }},
    {"--target-device", true,
     [](OptionDraft& d, Name name, Value value) {
       return CountInto(name, value, 0, kMaxDevices - 1, d.options.bench.targetDevice);
     }},
    {"--state", true,
     [](OptionDraft& d, Name, Value value) {
       d.options.stateFile = value;
       return std::string();
     }},
    {"--trace", true,
     [](OptionDraft& d, Name, Value value) {
       d.options.traceFile = value;
       return std::string();
     }},
    {"--replay", true,
     [](OptionDraft& d, Name, Value value) {
       d.options.replayFile = value;
       return std::string();
     }},
    {"--realtime", false,
     [](OptionDraft& d, Name, Value) {
       d.options.bench.realtime = true;
       return std::string();
     }},
    {"--no-target", true,
     [](OptionDraft& d, Name name, Value value) {
       std::uint64_t n = 0;
       auto error = Count(name, value, 0, 1, n);
       d.options.bench.noTargetTdo = n != 0;
       return error;
     }},
    {"--stats", false,
     [](OptionDraft& d, Name, Value) {
       d.options.stats = true;
       return std::string();
     }},
    {"--stuck-protection", false,
     [](OptionDraft& d, Name, Value) {
       d.options.bench.target.flashFaults.protectionStuck = true;
       return std::string();
     }},
    {"--pviol-after", true,
     [](OptionDraft& d, Name name, Value value) { return Failure(d, name, value, FlashFailure::Pviol); }},
    {"--accerr-after", true,
     [](OptionDraft& d, Name name, Value value) { return Failure(d, name, value, FlashFailure::Accerr); }},
    {"--erase-pviol", true,
     [](OptionDraft& d, Name name, Value value) {
       return CountInto(name, value, 1, kAny, d.options.bench.target.flashFaults.erasePviolAt);
     }},
    {"--erase-accerr", true,
     [](OptionDraft& d, Name name, Value value) {
       return CountInto(name, value, 1, kAny, d.options.bench.target.flashFaults.eraseAccerrAt);
     }},
    {"--hang-after", true,
     [](OptionDraft& d, Name name, Value value) {
       return CountInto(name, value, 0, kAny, d.options.bench.target.flashFaults.hangAfterCommands);
     }},
    {"--late-replies", true,
     [](OptionDraft& d, Name name, Value value) {
       return CountInto(name, value, 1, 65536, d.options.bench.adapter.lateReplyBytes);
     }},
    {"--unplug-after", true,
     [](OptionDraft& d, Name name, Value value) {
       std::uint64_t n = 0;
       auto error = Count(name, value, 1, kAny, n);
       d.options.bench.adapter.unplugAfterWrites = n;
       return error;
     }},
    {"--bad-word", true,
     [](OptionDraft& d, Name, Value value) {
       d.badWord = std::string(value);
       return std::string();
     }},
    {"--usb-error", true,
     [](OptionDraft& d, Name name, Value value) { return UsbErrorOf(name, value, d.options.usbError); }},
};

}  // namespace

std::span<const Option> OptionTable() { return kOptions; }

}  // namespace qzsim
