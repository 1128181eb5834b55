#include "Bench.h"

namespace qzsim {

namespace {

constexpr DeviceToken kTokenBase = 0x5100000;

std::unique_ptr<Bench>& BenchSlot() {
  static std::unique_ptr<Bench> bench;
  return bench;
}

}  // namespace

Bench::Bench(const BenchConfig& config)
    : config_(config),
      target_(config.target, warnings_),
      emptyConnector_(config.noTargetTdo ? std::make_unique<StuckTdo>(*config.noTargetTdo)
                                         : nullptr),
      adapter_(emptyConnector_ ? *emptyConnector_ : static_cast<JtagPins&>(target_), warnings_,
               config.adapter),
      clock_(config.realtime) {}

unsigned Bench::Devices() const {
  if (config_.devices > 0 && adapter_.Unplugged()) return config_.devices - 1;
  return config_.devices;
}

std::string Bench::StatsSummary() const {
  const std::uint64_t micros = clock_.NowMicros();
  std::string millis = std::to_string(micros / 1000 % 1000);
  millis.insert(0, 3 - millis.size(), '0');
  return std::string("stats: ") + (config_.realtime ? "real " : "virtual ") +
         std::to_string(micros / 1'000'000) + '.' + millis + " s, sleeps " +
         std::to_string(stats_.sleepMs) + " ms, writes " + std::to_string(stats_.writes) + " (" +
         std::to_string(stats_.bytesWritten) + " bytes), reads " + std::to_string(stats_.reads) +
         " (" + std::to_string(stats_.bytesRead) + " bytes), TCK " +
         std::to_string(adapter_.TckMicros() / 1000) + " ms, answer waits " +
         std::to_string(clock_.WaitedMicros() / 1000) + " ms, sync echoes " +
         std::to_string(warnings_.SyncEchoes());
}

void Bench::Trace(const std::string& line, bool moved) {
  if (!config_.trace) return;
  if (!moved && heldCount_ > 0 && line == held_) {
    ++heldCount_;
    return;
  }
  WriteHeld();
  if (moved) {
    WriteOmitted();
    quietLines_ = 0;
    *config_.trace << line << '\n';
  } else if (quietLines_ < kQuietLines) {
    held_ = line;
    heldCount_ = 1;
  } else {
    ++omitted_;
  }
}

// "FT_GetQueueStatus 0 status 0 times 812"; an empty read's line ends in its blank already.
void Bench::WriteHeld() {
  if (heldCount_ == 0) return;
  *config_.trace << held_;
  if (heldCount_ > 1) *config_.trace << (held_.ends_with(' ') ? "" : " ") << "times " << heldCount_;
  *config_.trace << '\n';
  heldCount_ = 0;
  ++quietLines_;
}

void Bench::WriteOmitted() {
  if (omitted_ > 0) *config_.trace << "omitted " << omitted_ << '\n';
  omitted_ = 0;
}

void Bench::EndTrace() {
  if (!config_.trace) return;
  WriteHeld();
  WriteOmitted();
  config_.trace->flush();
}

DeviceToken Bench::Open() {
  ++opens_;
  open_ = kTokenBase + opens_;
  return *open_;
}

void Bench::Close() {
  open_.reset();
  adapter_.Release(clock_.NowMicros());
  adapter_.Purge();
}

std::string TraceHex(const void* bytes, std::size_t count) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  const auto* byte = static_cast<const std::uint8_t*>(bytes);
  std::string text;
  if (byte == nullptr) return text;
  text.reserve(2 * count);
  for (std::size_t i = 0; i < count; ++i) {
    text += kDigits[byte[i] >> 4];
    text += kDigits[byte[i] & 0x0F];
  }
  return text;
}

Bench& CurrentBench() {
  auto& bench = BenchSlot();
  if (!bench) bench = std::make_unique<Bench>(BenchConfig{});
  return *bench;
}

void ConfigureBench(const BenchConfig& config) { BenchSlot() = std::make_unique<Bench>(config); }

}  // namespace qzsim
