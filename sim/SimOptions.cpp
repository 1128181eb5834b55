#include "SimOptions.h"

#include <charconv>
#include <cstdint>
#include <functional>
#include <limits>
#include <string_view>

namespace qzsim {

namespace {

constexpr unsigned kMaxDevices = 127;

const char kUsage[] =
    "Usage: qzflash-sim [options] [-- QZFLASH-ARGUMENTS]\n"
    "Runs QZFlash against a virtual adapter and target. The program's dialogue uses standard\n"
    "input and output as usual; this tool writes only to standard error. Arguments after '--'\n"
    "go to the program (qzflash-sim -- --help lists them).\n"
    "Each option takes its value as the next argument or after '='.\n"
    "\n"
    "Target and adapter:\n"
    "  --variant 1|2        target variant and its memory map (default 1);\n"
    "                       IDCODE 0x01F4601D for 1, 0x01F4001D for 2\n"
    "  --idcode HEX         IDCODE the target reports instead, e.g. 0x1234567F for a part\n"
    "                       the program does not know; the memory map stays --variant's\n"
    "  --devices N          D2XX devices on the bus, 0 to 127 (default 1); 0: no adapter.\n"
    "                       One carries the target; the others are in use elsewhere\n"
    "  --target-device K    the device that carries the target (default 0)\n"
    "  --state FILE         the target's flash: loaded at start when FILE exists, saved at\n"
    "                       exit (text rows 'P 00000: 0102 FFFF ...', see sim/README.md)\n"
    "  --trace FILE         one line per D2XX call and sleep, in call order\n"
    "  --realtime           real sleeps and a real clock instead of the virtual clock\n"
    "  --stats              at exit, one line of counts on standard error (below)\n"
    "\n"
    "Faults:\n"
    "  --no-target 0|1      nothing on the JTAG connector: TDO stuck at 0 or 1\n"
    "  --stuck-protection   FMPROT and FMPROTB ignore writes and keep protecting\n"
    "  --pviol-after N      the first program command launched after N words have been\n"
    "                       programmed fails with PVIOL (0: the first program command)\n"
    "  --accerr-after N     the same, failing with ACCERR\n"
    "  --erase-pviol N      the N-th block erase launched (1: the first; protected ones\n"
    "                       count too) fails with PVIOL and erases nothing\n"
    "  --erase-accerr N     the same, failing with ACCERR\n"
    "  --hang-after N       the flash command launched after N accepted commands (erases\n"
    "                       and programs alike) never completes; 0: the first\n"
    "  --late-replies N     answers reach the receive queue N bytes per queue-status poll\n"
    "                       instead of all at once\n"
    "  --unplug-after N     the adapter is unplugged right after write number N (N >= 1)\n"
    "  --bad-word S:ADDR    the flash word at S:ADDR (S is P or X, ADDR hexadecimal) reads\n"
    "                       back with bit 0 flipped; what was programmed is right\n"
    "\n"
    "  --help               this text\n"
    "\n"
    "At exit, when the target saw protocol warnings, one line on standard error:\n"
    "  qzflash-sim: protocol warnings: N (kind n, ...)\n"
    "and then, with --stats:\n"
    "  qzflash-sim: stats: virtual S.mmm s, sleeps MS ms, writes W (B bytes), reads R (B bytes),\n"
    "  sync echoes E\n"
    "('real' instead of 'virtual' with --realtime).\n"
    "Bad options exit with status 2.\n";

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

}  // namespace

const char* SimUsage() { return kUsage; }

std::string ParseSimOptions(std::span<const char* const> args, SimOptions& options) {
  constexpr std::uint64_t kAny = std::numeric_limits<std::uint64_t>::max();
  BenchConfig& bench = options.bench;
  FlashFaults& flash = bench.target.flashFaults;
  std::optional<std::uint32_t> idcode;
  std::optional<std::string> badWord;
  int failures = 0;

  using Handler = std::function<std::string(std::string_view name, std::string_view value)>;
  struct Option {
    std::string_view name;
    bool takesValue;
    Handler handle;
  };
  const Option table[] = {
      {"--help", false,
       [&](auto, auto) {
         options.help = true;
         return std::string();
       }},
      {"--variant", true,
       [&](auto name, auto value) {
         std::uint64_t n = 0;
         auto error = Count(name, value, 1, 2, n);
         bench.target.variant = static_cast<int>(n);
         return error;
       }},
      {"--idcode", true,
       [&](auto name, auto value) {
         std::uint64_t n = 0;
         if (!ParseUnsigned(value, 16, n) || n > 0xFFFFFFFF) {
           return std::string(name) + ": '" + std::string(value) +
                  "' is not a 32-bit hexadecimal value";
         }
         idcode = static_cast<std::uint32_t>(n);
         return std::string();
       }},
      {"--devices", true,
       [&](auto name, auto value) {
         std::uint64_t n = 0;
         auto error = Count(name, value, 0, kMaxDevices, n);
         bench.devices = static_cast<unsigned>(n);
         return error;
       }},
      {"--target-device", true,
       [&](auto name, auto value) {
         std::uint64_t n = 0;
         auto error = Count(name, value, 0, kMaxDevices - 1, n);
         bench.targetDevice = static_cast<unsigned>(n);
         return error;
       }},
      {"--state", true,
       [&](auto, auto value) {
         options.stateFile = value;
         return std::string();
       }},
      {"--trace", true,
       [&](auto, auto value) {
         options.traceFile = value;
         return std::string();
       }},
      {"--realtime", false,
       [&](auto, auto) {
         bench.realtime = true;
         return std::string();
       }},
      {"--no-target", true,
       [&](auto name, auto value) {
         std::uint64_t n = 0;
         auto error = Count(name, value, 0, 1, n);
         bench.noTargetTdo = n != 0;
         return error;
       }},
      {"--stats", false,
       [&](auto, auto) {
         options.stats = true;
         return std::string();
       }},
      {"--stuck-protection", false,
       [&](auto, auto) {
         flash.protectionStuck = true;
         return std::string();
       }},
      {"--pviol-after", true,
       [&](auto name, auto value) {
         ++failures;
         flash.failure = FlashFailure::Pviol;
         return Count(name, value, 0, kAny, flash.failAfterWords);
       }},
      {"--accerr-after", true,
       [&](auto name, auto value) {
         ++failures;
         flash.failure = FlashFailure::Accerr;
         return Count(name, value, 0, kAny, flash.failAfterWords);
       }},
      {"--erase-pviol", true,
       [&](auto name, auto value) {
         std::uint64_t n = 0;
         auto error = Count(name, value, 1, kAny, n);
         flash.erasePviolAt = n;
         return error;
       }},
      {"--erase-accerr", true,
       [&](auto name, auto value) {
         std::uint64_t n = 0;
         auto error = Count(name, value, 1, kAny, n);
         flash.eraseAccerrAt = n;
         return error;
       }},
      {"--hang-after", true,
       [&](auto name, auto value) {
         std::uint64_t n = 0;
         auto error = Count(name, value, 0, kAny, n);
         flash.hangAfterCommands = n;
         return error;
       }},
      {"--late-replies", true,
       [&](auto name, auto value) {
         std::uint64_t n = 0;
         auto error = Count(name, value, 1, 65536, n);
         bench.adapter.lateReplyBytes = static_cast<unsigned>(n);
         return error;
       }},
      {"--unplug-after", true,
       [&](auto name, auto value) {
         std::uint64_t n = 0;
         auto error = Count(name, value, 1, kAny, n);
         bench.adapter.unplugAfterWrites = n;
         return error;
       }},
      {"--bad-word", true,
       [&](auto, auto value) {
         badWord = std::string(value);
         return std::string();
       }},
  };

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
    for (const Option& candidate : table) {
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
    if (auto error = option->handle(arg, value); !error.empty()) return error;
  }

  if (failures > 1) return "--pviol-after and --accerr-after exclude each other";
  if (bench.devices > 0 && bench.targetDevice >= bench.devices) {
    return "--target-device: " + std::to_string(bench.targetDevice) + " is not one of the " +
           std::to_string(bench.devices) + " devices";
  }
  if (flash.erasePviolAt && flash.erasePviolAt == flash.eraseAccerrAt) {
    return "--erase-pviol and --erase-accerr name the same erase";
  }
  const int variant = bench.target.variant;
  bench.target.idcode = idcode ? *idcode : variant == 2 ? kIdcodeVariant2 : kIdcodeVariant1;
  if (badWord) {
    const std::string_view text = *badWord;
    std::uint64_t address = 0;
    const bool shaped = text.size() > 2 && (text[0] == 'P' || text[0] == 'X') && text[1] == ':' &&
                        ParseUnsigned(text.substr(2), 16, address) && address <= 0xFFFFFF;
    const Space space = !text.empty() && text[0] == 'X' ? Space::X : Space::P;
    bool isFlash = false;
    for (const FlashBlock& block : MemoryMapOf(variant).flash) {
      isFlash = isFlash || (shaped && block.Holds(space, static_cast<std::uint32_t>(address)));
    }
    if (!isFlash) {
      return "--bad-word: '" + *badWord + "' is not P:ADDR or X:ADDR of a flash word of variant " +
             std::to_string(variant);
    }
    flash.badWord = std::make_pair(space, static_cast<std::uint32_t>(address));
  }
  return {};
}

}  // namespace qzsim
