// The adapter chip's MPSSE engine, an FT2232H's: decodes the command stream of each USB write
// and drives the JTAG pins and both GPIO bytes, one TCK period per clock, on a time of its own.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "JtagPins.h"
#include "Warnings.h"

namespace qzsim {

// The engine's time: ticks of its 60 MHz master clock, in which every TCK period is whole.
using Ticks = std::uint64_t;
inline constexpr Ticks kTicksPerMicro = 60;

struct ClockSettings {
  std::uint16_t divisor = 0;
  bool divisorSet = false;  // the engine warns about scans until it is
  bool divideBy5 = true;
  bool threePhase = false;
  // The target returns RTCK with each TCK edge, so adaptive clocking costs no more than the
  // period the divisor sets.
  bool adaptive = false;

  // 60 MHz / ((1 + divisor) x 2), or 12 MHz / ((1 + divisor) x 2) with divide-by-5 on.
  Ticks TckPeriod() const { return Ticks{2} * (1u + divisor) * (divideBy5 ? 5 : 1); }
  // A data or TMS bit: two half periods, three with three-phase clocking (set-up, clock, hold).
  Ticks BitPeriod() const { return threePhase ? TckPeriod() * 3 / 2 : TckPeriod(); }
};

// What the engine sends towards the host: answer bytes, each with the time its last bit was
// clocked, and the send-immediates, each as the count of bytes before it and its time.
struct EngineOutput {
  struct SendImmediate {
    std::size_t before;
    Ticks at;
  };
  std::vector<std::uint8_t> bytes;
  std::vector<Ticks> times;
  std::vector<SendImmediate> sendImmediates;

  void Clear() { bytes.clear(), times.clear(), sendImmediates.clear(); }
};

class Mpsse {
 public:
  // A shifting command's opcode, 0x10 to 0x3F and the TMS commands, is made of these bits.
  static constexpr std::uint8_t kWriteFalling = 0x01;
  static constexpr std::uint8_t kBitMode = 0x02;
  static constexpr std::uint8_t kReadFalling = 0x04;
  static constexpr std::uint8_t kLsbFirst = 0x08;
  static constexpr std::uint8_t kWriteTdi = 0x10;
  static constexpr std::uint8_t kReadTdo = 0x20;
  static constexpr std::uint8_t kWriteTms = 0x40;

  // The other opcodes it executes.
  static constexpr std::uint8_t kSetLowByte = 0x80;
  static constexpr std::uint8_t kReadLowByte = 0x81;
  static constexpr std::uint8_t kSetHighByte = 0x82;
  static constexpr std::uint8_t kReadHighByte = 0x83;
  static constexpr std::uint8_t kLoopbackOn = 0x84;
  static constexpr std::uint8_t kLoopbackOff = 0x85;
  static constexpr std::uint8_t kSetDivisor = 0x86;
  static constexpr std::uint8_t kSendImmediate = 0x87;
  static constexpr std::uint8_t kWaitHigh = 0x88;
  static constexpr std::uint8_t kWaitLow = 0x89;
  static constexpr std::uint8_t kDivideBy5Off = 0x8A;
  static constexpr std::uint8_t kDivideBy5On = 0x8B;
  static constexpr std::uint8_t kThreePhaseOn = 0x8C;
  static constexpr std::uint8_t kThreePhaseOff = 0x8D;
  static constexpr std::uint8_t kClockBits = 0x8E;
  static constexpr std::uint8_t kClockBytes = 0x8F;
  static constexpr std::uint8_t kClockUntilHigh = 0x94;
  static constexpr std::uint8_t kClockUntilLow = 0x95;
  static constexpr std::uint8_t kAdaptiveOn = 0x96;
  static constexpr std::uint8_t kAdaptiveOff = 0x97;
  static constexpr std::uint8_t kClockBytesUntilHigh = 0x9C;
  static constexpr std::uint8_t kClockBytesUntilLow = 0x9D;
  static constexpr std::uint8_t kBadCommand = 0xFA;

  // Low byte pins.
  static constexpr std::uint8_t kTck = 0x01;
  static constexpr std::uint8_t kTdi = 0x02;
  static constexpr std::uint8_t kTdo = 0x04;
  static constexpr std::uint8_t kTms = 0x08;
  static constexpr std::uint8_t kResetLine = 0x10;
  static constexpr std::uint8_t kGpioL1 = 0x20;  // what the waits and the clocks until a level watch

  // A wait or a clocking until a level GPIOL1 never takes (it is wired to nothing) runs for
  // ever on the chip; the engine gives up after the longest 0x9C/0x9D: 65536 x 8 TCK periods.
  static constexpr Ticks kUnendingClocks = 65536 * 8;

  Mpsse(JtagPins& pins, Warnings& warnings);

  // Entering MPSSE mode at `now`: every pin an input, clock settings at their defaults.
  void Enter(Ticks now);
  // Leaving it: the pins are released.
  void Leave(Ticks now);
  // Runs one USB write that arrived at `arrival`, behind the commands still running; what the
  // commands answer is appended to out.
  void Run(std::span<const std::uint8_t> bytes, Ticks arrival, EngineOutput& out);

  const ClockSettings& Clock() const { return clock_; }
  // When the engine has run every command it was given.
  Ticks BusyUntil() const { return now_; }
  // The time all TCK periods took together.
  Ticks TckTime() const { return tckTime_; }
  std::uint8_t LowDirections() const { return lowDirections_; }

 private:
  enum class Edge : std::uint8_t { Rising, Falling };

  // The bytes of the command `command` starts; only its opcode and length bytes are looked at,
  // so a command not yet complete asks for at least one byte more than it has.
  static std::size_t Length(std::span<const std::uint8_t> command);
  void Execute(std::span<const std::uint8_t> command, EngineOutput& reply);
  void Shift(std::span<const std::uint8_t> command, EngineOutput& reply);
  std::uint8_t ShiftByte(std::uint8_t opcode, unsigned count, std::uint8_t data);
  void FreeClocks(Ticks count);
  void Answer(std::uint8_t byte, EngineOutput& out) const;
  bool Tick(Edge out, Edge in, bool tms, bool tdi, Ticks period);
  void SetLowByte(std::uint8_t levels, std::uint8_t directions);
  bool LineLevel(std::uint8_t pin) const;
  bool TdoInput() const;
  std::uint8_t LowPins() const;

  JtagPins& pins_;
  Warnings& warnings_;
  ClockSettings clock_;
  std::uint8_t lowLevels_ = 0;
  std::uint8_t lowDirections_ = 0;
  std::uint8_t highLevels_ = 0;
  std::uint8_t highDirections_ = 0;
  bool loopback_ = false;              // TDI looped to TDO inside the chip
  std::vector<std::uint8_t> partial_;  // a command cut by the end of a write
  bool firstCommand_ = false;          // nothing ran since MPSSE mode was entered
  Ticks now_ = 0;                      // the engine's time, where its next command starts
  Ticks tckTime_ = 0;
};

}  // namespace qzsim
