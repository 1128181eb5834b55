#include "StandIn.h"

#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <vector>

#include "Bench.h"
#include "FlashState.h"

namespace qzsim {

namespace {

constexpr char kVariable[] = "QZSIM_OPTIONS";

std::vector<std::string> Words(const char* text) {
  std::vector<std::string> words;
  std::istringstream in(text == nullptr ? "" : text);
  for (std::string word; in >> word;) words.push_back(word);
  return words;
}

}  // namespace

StandIn::StandIn(const StandInKind& kind) : name_(kind.name) {
  const std::string error = Configure(kind);
  if (error.empty()) return;
  std::fprintf(stderr, "%s: %s; no adapter attached\n", name_, error.c_str());
  BenchConfig none;
  none.devices = 0;
  bench_ = std::make_unique<Bench>(none);
}

StandIn::~StandIn() = default;

std::string StandIn::Configure(const StandInKind& kind) {
  const std::vector<std::string> words = Words(std::getenv(kVariable));
  std::vector<const char*> args;
  for (const std::string& word : words) args.push_back(word.c_str());
  SimOptions options;
  if (std::string error = ParseSimOptions(args, options); !error.empty()) {
    return std::string(kVariable) + ": " + error;
  }
  if (options.help) {
    return std::string(kVariable) + ": --help lists nothing here; see qzflash-sim --help";
  }
  if (!options.programArgs.empty()) {
    return std::string(kVariable) + ": '--' does not apply: the program takes its own arguments";
  }
  if (!kind.deviceCount &&
      (options.bench.devices != BenchConfig{}.devices || options.bench.targetDevice != BenchConfig{}.targetDevice)) {
    return std::string(kVariable) + ": --devices and --target-device do not apply: the bus carries one FT2232H";
  }
  if (!kind.usbErrors && options.usbError != UsbError::None) {
    return std::string(kVariable) + ": --usb-error applies only to the libusb stand-in";
  }
  if (!options.stateFile.empty()) {
    if (std::string unusable = CheckFlashStateFile(options.stateFile); !unusable.empty()) {
      return unusable;
    }
  }
  usbError_ = options.usbError;
  realtime_ = options.bench.realtime = options.bench.realtime || kind.realClockOnly;
  stats_ = options.stats;
  if (!options.traceFile.empty()) {
    trace_.open(options.traceFile, std::ios::trunc);
    if (!trace_) return "cannot open trace file " + options.traceFile;
    options.bench.trace = &trace_;
  }
  auto bench = std::make_unique<Bench>(options.bench);
  if (!options.stateFile.empty()) {
    if (std::string bad = LoadFlashStateFile(bench->Controller().Flash(), options.stateFile);
        !bad.empty()) {
      return bad;
    }
  }
  bench_ = std::move(bench);
  stateFile_ = options.stateFile;
  usable_ = true;
  return {};
}

bool StandIn::Finish() {
  if (!usable_ || !used_ || finished_) return true;
  finished_ = true;
  bool saved = true;
  // The program's last lines come before the summary on a shared terminal.
  std::fflush(stdout);
  if (!stateFile_.empty()) {
    const std::string error = SaveFlashStateFile(bench_->Controller().Flash(), stateFile_);
    if (!error.empty()) {
      std::fprintf(stderr, "%s: %s\n", name_, error.c_str());
      saved = false;
    }
  }
  bench_->EndTrace();
  trace_.close();
  const std::string summary = bench_->ProtocolWarnings().Summary();
  if (!summary.empty()) std::fprintf(stderr, "%s: %s\n", name_, summary.c_str());
  if (stats_) std::fprintf(stderr, "%s: %s\n", name_, bench_->StatsSummary().c_str());
  return saved;
}

}  // namespace qzsim
