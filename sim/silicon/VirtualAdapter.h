// The USB adapter: an FTDI-style chip whose MPSSE engine drives the JTAG connector, with the
// receive queue the host polls.
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

  VirtualAdapter(JtagPins& connector, Warnings& warnings, const AdapterFaults& faults);

  bool Unplugged() const { return unplugged_; }

  // Bytes written outside MPSSE mode go out on the serial lines, which lead nowhere.
  void Write(std::span<const std::uint8_t> bytes);
  // One poll of the receive queue; late answer bytes come in here.
  std::size_t Poll();
  // Takes up to `count` queued bytes.
  std::vector<std::uint8_t> Read(std::size_t count);
  // Empties both directions.
  void Purge();
  // kModeMpsse enters MPSSE mode, kModeReset leaves it; false for any other mode.
  bool SetBitMode(std::uint8_t mode);
  // The device is closed or unplugged: its pins float.
  void Release();

 private:
  const AdapterFaults faults_;
  Mpsse mpsse_;
  bool mpsseMode_ = false;
  bool unplugged_ = false;
  std::uint64_t writes_ = 0;
  std::deque<std::uint8_t> received_;
  std::deque<std::uint8_t> inFlight_;  // answer bytes not yet in the receive queue
  std::vector<std::uint8_t> reply_;
};

}  // namespace qzsim
