// The USB adapter: an FTDI-style chip whose MPSSE engine drives the JTAG connector, with the
// receive queue the host polls. Answers take the time their clocks take, and the chip passes
// its buffer to the host when its latency timer runs out, when a packet fills, or at a
// send-immediate.
#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <span>
#include <vector>

#include "JtagPins.h"
#include "Mpsse.h"
#include "Warnings.h"

namespace qzsim {

struct AdapterFaults {
  // Answers reach the receive queue this many bytes per queue poll; 0: at once.
  unsigned lateReplyBytes = 0;
  // The adapter is unplugged right after this many writes.
  std::optional<std::uint64_t> unplugAfterWrites;
};

class VirtualAdapter {
 public:
  // The bit modes modelled: reset (the serial engine) and MPSSE.
  static constexpr std::uint8_t kModeReset = 0x00;
  static constexpr std::uint8_t kModeMpsse = 0x02;
  // A 512-byte packet to the host: two status bytes, then answer bytes.
  static constexpr std::size_t kPacketAnswerBytes = 510;
  static constexpr std::uint8_t kPowerOnLatencyMs = 16;

  VirtualAdapter(JtagPins& connector, Warnings& warnings, const AdapterFaults& faults);

  bool Unplugged() const { return unplugged_; }

  // Times are the virtual clock's, in microseconds.
  // A write that arrives at `now`. Bytes written outside MPSSE mode go out on the serial
  // lines, which lead nowhere.
  void Write(std::span<const std::uint8_t> bytes, std::uint64_t now);
  // One poll of the receive queue at `now`; late answer bytes come in here.
  std::size_t Poll(std::uint64_t now);
  // Takes up to `count` bytes the chip has passed to the host by `now`.
  std::vector<std::uint8_t> Read(std::size_t count, std::uint64_t now);
  // When the chip next passes answer bytes to the host; none while no answer is on its way.
  std::optional<std::uint64_t> NextHandOver() const;
  // Whether an answer byte not yet passed on exists by `time`.
  bool AnswerBy(std::uint64_t time) const {
    return !bufferTimes_.empty() && bufferTimes_.front() <= time * kTicksPerMicro;
  }
  // Answer bytes the engine has made since power-on.
  std::uint64_t AnswerBytes() const { return answerBytes_; }
  std::uint8_t LatencyMs() const { return latencyMs_; }
  void SetLatencyMs(std::uint8_t ms) { latencyMs_ = ms; }
  // Empties both directions.
  void Purge();
  // kModeMpsse enters MPSSE mode, kModeReset leaves it; false for any other mode.
  bool SetBitMode(std::uint8_t mode, std::uint64_t now);
  // The device is closed or unplugged: its pins float.
  void Release(std::uint64_t now);
  // The time the engine spent clocking TCK.
  std::uint64_t TckMicros() const { return mpsse_.TckTime() / kTicksPerMicro; }

 private:
  struct HandOver {
    Ticks at;
    std::size_t count;
  };

  std::optional<HandOver> Next() const;
  void HandOverUntil(std::uint64_t now);

  const AdapterFaults faults_;
  Mpsse mpsse_;
  bool mpsseMode_ = false;
  bool unplugged_ = false;
  std::uint64_t writes_ = 0;
  std::uint64_t answerBytes_ = 0;
  std::uint8_t latencyMs_ = kPowerOnLatencyMs;
  EngineOutput output_;
  // In the chip: answer bytes and their times, and send-immediates counting from the front.
  std::deque<std::uint8_t> buffer_;
  std::deque<Ticks> bufferTimes_;
  std::deque<EngineOutput::SendImmediate> sendImmediates_;
  Ticks lastHandOver_ = 0;
  // On the host's side: passed on, and in the receive queue.
  std::deque<std::uint8_t> inFlight_;  // answer bytes not yet in the receive queue
  std::deque<std::uint8_t> received_;
};

}  // namespace qzsim
