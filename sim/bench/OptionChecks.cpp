// What no single option can check: options that exclude each other, and values that mean
// something only for the variant chosen.
#include "OptionTable.h"
#include "OptionValues.h"

namespace qzsim {

namespace {

// "P:ADDR" or "X:ADDR" of a flash word of the variant.
std::string PlaceBadWord(const std::string& text, int variant, FlashFaults& flash) {
  const std::string_view view = text;
  std::uint64_t address = 0;
  const bool shaped = view.size() > 2 && (view[0] == 'P' || view[0] == 'X') && view[1] == ':' &&
                      ParseUnsigned(view.substr(2), 16, address) && address <= 0xFFFFFF;
  const Space space = !view.empty() && view[0] == 'X' ? Space::X : Space::P;
  bool isFlash = false;
  for (const FlashBlock& block : MemoryMapOf(variant).flash) {
    isFlash = isFlash || (shaped && block.Holds(space, static_cast<std::uint32_t>(address)));
  }
  if (!isFlash) {
    return "--bad-word: '" + text + "' is not P:ADDR or X:ADDR of a flash word of variant " +
           std::to_string(variant);
  }
  flash.badWord = std::make_pair(space, static_cast<std::uint32_t>(address));
  return {};
}

}  // namespace

std::string CompleteOptions(OptionDraft& draft) {
  BenchConfig& bench = draft.options.bench;
  FlashFaults& flash = bench.target.flashFaults;
  if (draft.failures > 1) return "--pviol-after and --accerr-after exclude each other";
  const SimOptions& options = draft.options;
  if (!options.replayFile.empty() &&
      (!options.programArgs.empty() || !options.traceFile.empty() || bench.realtime || options.stats)) {
    return "--replay runs no program: it takes no '--', --trace, --realtime or --stats";
  }
  // The trace already holds what the adapter did.
  if (!options.replayFile.empty() && (bench.devices != 1 || bench.targetDevice != 0 || bench.adapter.lateReplyBytes != 0 ||
                                      bench.adapter.unplugAfterWrites)) {
    return "--replay plays the adapter of the trace: it takes no --devices, --target-device, --late-replies or "
           "--unplug-after";
  }
  if (bench.devices > 0 && bench.targetDevice >= bench.devices) {
    return "--target-device: " + std::to_string(bench.targetDevice) + " is not one of the " +
           std::to_string(bench.devices) + " devices";
  }
  if (flash.erasePviolAt && flash.erasePviolAt == flash.eraseAccerrAt) {
    return "--erase-pviol and --erase-accerr name the same erase";
  }
  const int variant = bench.target.variant;
  bench.target.idcode = draft.idcode ? *draft.idcode : variant == 2 ? kIdcodeVariant2 : kIdcodeVariant1;
  return draft.badWord ? PlaceBadWord(*draft.badWord, variant, flash) : std::string();
}

}  // namespace qzsim
