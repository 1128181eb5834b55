// How fast the virtual target runs: one million TCK cycles through the MPSSE engine, the TAPs
// and the debug port, fed as the program feeds them (an injected one-word instruction and its
// three EOnCE instruction scans, over and over), in USB-write-sized pieces.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "JtagPins.h"
#include "Mpsse.h"
#include "Target.h"
#include "Warnings.h"

namespace {

constexpr std::uint64_t kCycles = 1'000'000;
constexpr std::size_t kWriteBytes = 4096;

// Counts the clocks on their way to the target.
class ClockCounter : public qzsim::JtagPins {
 public:
  explicit ClockCounter(qzsim::JtagPins& target) : target_(target) {}
  void SetResetLine(bool high) override { target_.SetResetLine(high); }
  void ClockRise(bool tms, bool tdi) override {
    ++cycles;
    target_.ClockRise(tms, tdi);
  }
  void ClockFall() override { target_.ClockFall(); }
  bool Tdo() const override { return target_.Tdo(); }
  std::uint64_t cycles = 0;

 private:
  qzsim::JtagPins& target_;
};

void Append(std::vector<std::uint8_t>& stream, std::initializer_list<std::uint8_t> bytes) {
  stream.insert(stream.end(), bytes);
}

}  // namespace

int main() {
  qzsim::Warnings warnings;
  qzsim::Target target(qzsim::TargetConfig{}, warnings);
  ClockCounter counter(target);
  qzsim::Mpsse mpsse(counter, warnings);
  mpsse.Enter(0);

  qzsim::EngineOutput reply;
  // Clock set-up; core TAP, debug request, EOnCE instruction.
  const std::vector<std::uint8_t> setup = {
      0x8A, 0x97, 0x8D, 0x80, 0x18, 0x1B, 0x86, 0x1D, 0x00, 0x85, 0x4B, 0x04, 0xFF,
      0x4B, 0x04, 0x06, 0x3B, 0x06, 0x05, 0x6B, 0x00, 0x43, 0x4B, 0x01, 0x01, 0x4B,
      0x02, 0x81, 0x3B, 0x02, 0x02, 0x6B, 0x00, 0x43, 0x4B, 0x01, 0x01, 0x4B, 0x04,
      0x06, 0x3B, 0x02, 0x07, 0x6B, 0x00, 0x43, 0x4B, 0x01, 0x01, 0x4B, 0x04, 0x06,
      0x3B, 0x02, 0x06, 0x6B, 0x00, 0x43, 0x4B, 0x01, 0x01};
  mpsse.Run(setup, 0, reply);

  // Injection of 0x81A0: 63 bytes, 67 clocks.
  std::vector<std::uint8_t> injection;
  Append(injection, {0x4B, 0x02, 0x81, 0x3B, 0x06, 0x44, 0x6B, 0x00, 0x43, 0x4B, 0x01, 0x01});
  Append(injection, {0x4B, 0x02, 0x81, 0x3B, 0x07, 0xA0, 0x3B, 0x06, 0x81, 0x6B, 0x00, 0x83, 0x4B,
                     0x01, 0x01});
  for (int i = 0; i < 3; ++i) {
    Append(injection, {0x4B, 0x04, 0x06, 0x3B, 0x02, 0x06, 0x6B, 0x00, 0x43, 0x4B, 0x01, 0x01});
  }
  std::vector<std::uint8_t> write;
  while (write.size() + injection.size() <= kWriteBytes) {
    write.insert(write.end(), injection.begin(), injection.end());
  }

  counter.cycles = 0;
  const auto start = std::chrono::steady_clock::now();
  while (counter.cycles < kCycles) {
    reply.Clear();
    mpsse.Run(write, 0, reply);
  }
  const auto elapsed = std::chrono::steady_clock::now() - start;
  const double ms = std::chrono::duration<double, std::milli>(elapsed).count();
  const double nsPerCycle = ms * 1e6 / static_cast<double>(counter.cycles);
  std::printf("%llu TCK cycles through the MPSSE engine, TAPs and EOnCE: %.1f ms\n",
              static_cast<unsigned long long>(counter.cycles), ms);
  // ns per cycle times a million cycles, in ms.
  std::printf("one million TCK cycles: %.1f ms (%.1f ns per cycle)\n", nsPerCycle, nsPerCycle);
  if (warnings.Total() != 0) {
    std::printf("unexpected %s\n", warnings.Summary().c_str());
    return 1;
  }
  return 0;
}
