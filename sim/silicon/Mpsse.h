// The adapter chip's MPSSE engine: decodes the command stream of each USB write and drives
// the JTAG pins and the low GPIO byte, one TCK period per clock, on a time of its own. Data and
// TMS bits go least significant bit first.
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
  // Both are off at mode entry; these record that the host said so.
  bool adaptiveOffSent = false;
  bool threePhaseOffSent = false;

  // 60 MHz / ((1 + divisor) x 2), or 12 MHz / ((1 + divisor) x 2) with divide-by-5 on.
  Ticks TckPeriod() const { return Ticks{2} * (1u + divisor) * (divideBy5 ? 5 : 1); }
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
  // Opcodes it executes.
  static constexpr std::uint8_t kBitsOutRising = 0x1A;
  static constexpr std::uint8_t kBitsOutFalling = 0x1B;
  static constexpr std::uint8_t kBitsInRising = 0x2A;
  static constexpr std::uint8_t kBitsInFalling = 0x2E;
  static constexpr std::uint8_t kBitsOutFallingInRising = 0x3B;
  static constexpr std::uint8_t kBitsOutRisingInFalling = 0x3E;
  static constexpr std::uint8_t kTmsOutRising = 0x4A;
  static constexpr std::uint8_t kTmsOutFalling = 0x4B;
  static constexpr std::uint8_t kTmsOutFallingInRising = 0x6B;
  static constexpr std::uint8_t kSetLowByte = 0x80;
  static constexpr std::uint8_t kSetHighByte = 0x82;
  static constexpr std::uint8_t kLoopbackOff = 0x85;
  static constexpr std::uint8_t kSetDivisor = 0x86;
  static constexpr std::uint8_t kSendImmediate = 0x87;
  static constexpr std::uint8_t kDivideBy5Off = 0x8A;
  static constexpr std::uint8_t kDivideBy5On = 0x8B;
  static constexpr std::uint8_t kThreePhaseOff = 0x8D;
  static constexpr std::uint8_t kFreeClocks = 0x8E;
  static constexpr std::uint8_t kAdaptiveOff = 0x97;
  static constexpr std::uint8_t kBadCommand = 0xFA;

  // Low byte pins.
  static constexpr std::uint8_t kTck = 0x01;
  static constexpr std::uint8_t kTdi = 0x02;
  static constexpr std::uint8_t kTms = 0x08;
  static constexpr std::uint8_t kResetLine = 0x10;

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

  // Bytes the command needs after its opcode; none for an unknown opcode.
  static int OperandCount(std::uint8_t opcode);
  void Execute(const std::uint8_t* command, EngineOutput& reply);
  void ShiftBits(unsigned count, std::uint8_t data, Edge out, bool drivesTdi, bool read,
                 EngineOutput& reply);
  void ShiftTms(unsigned count, std::uint8_t data, Edge out, bool read, EngineOutput& reply);
  void Answer(std::uint8_t byte, EngineOutput& out) const;
  bool Clock(Edge out, bool tms, bool tdi);
  void SetLowByte(std::uint8_t levels, std::uint8_t directions);
  bool LineLevel(std::uint8_t pin) const;

  JtagPins& pins_;
  Warnings& warnings_;
  ClockSettings clock_;
  std::uint8_t lowLevels_ = 0;
  std::uint8_t lowDirections_ = 0;
  std::vector<std::uint8_t> partial_;  // a command cut by the end of a write
  bool firstCommand_ = false;          // nothing ran since MPSSE mode was entered
  Ticks now_ = 0;                      // the engine's time, where its next command starts
  Ticks tckTime_ = 0;
};

}  // namespace qzsim
