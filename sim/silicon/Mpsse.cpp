#include "Mpsse.h"

#include <algorithm>

namespace qzsim {

namespace {

constexpr std::uint8_t kBitCountMask = 0x07;
constexpr unsigned kMaxTmsBits = 7;
constexpr std::uint8_t kTmsCommandTdi = 0x80;

}  // namespace

Mpsse::Mpsse(JtagPins& pins, Warnings& warnings) : pins_(pins), warnings_(warnings) {}

void Mpsse::Enter(Ticks now) {
  now_ = std::max(now_, now);
  clock_ = ClockSettings{};
  firstCommand_ = true;
  partial_.clear();
  SetLowByte(0, 0);
}

void Mpsse::Leave(Ticks now) {
  now_ = std::max(now_, now);
  partial_.clear();
  SetLowByte(0, 0);
}

int Mpsse::OperandCount(std::uint8_t opcode) {
  switch (opcode) {
    case kLoopbackOff:
    case kSendImmediate:
    case kDivideBy5Off:
    case kDivideBy5On:
    case kThreePhaseOff:
    case kAdaptiveOff: return 0;
    case kBitsInRising:
    case kBitsInFalling:
    case kFreeClocks: return 1;
    case kBitsOutRising:
    case kBitsOutFalling:
    case kBitsOutFallingInRising:
    case kBitsOutRisingInFalling:
    case kTmsOutRising:
    case kTmsOutFalling:
    case kTmsOutFallingInRising:
    case kSetLowByte:
    case kSetHighByte:
    case kSetDivisor: return 2;
    default: return -1;
  }
}

void Mpsse::Run(std::span<const std::uint8_t> bytes, Ticks arrival, EngineOutput& reply) {
  now_ = std::max(now_, arrival);
  std::size_t at = 0;
  if (!partial_.empty()) {
    const std::size_t length = 1 + static_cast<std::size_t>(OperandCount(partial_[0]));
    while (partial_.size() < length && at < bytes.size()) partial_.push_back(bytes[at++]);
    if (partial_.size() < length) return;
    Execute(partial_.data(), reply);
    partial_.clear();
  }
  while (at < bytes.size()) {
    const std::uint8_t opcode = bytes[at];
    const int operands = OperandCount(opcode);
    if (operands < 0) {
      // The engine echoes what it did not understand and drops the rest of the transfer.
      Answer(kBadCommand, reply);
      Answer(opcode, reply);
      if (firstCommand_)
        warnings_.CountSyncEcho();
      else
        warnings_.Count(Warning::BadCommandEcho);
      firstCommand_ = false;
      return;
    }
    firstCommand_ = false;
    const std::size_t length = 1 + static_cast<std::size_t>(operands);
    if (bytes.size() - at < length) {
      partial_.assign(bytes.begin() + static_cast<std::ptrdiff_t>(at), bytes.end());
      return;
    }
    Execute(&bytes[at], reply);
    at += length;
  }
}

void Mpsse::Execute(const std::uint8_t* command, EngineOutput& reply) {
  // Only clocking commands have a length byte.
  const auto count = [command] { return (command[1] & kBitCountMask) + 1u; };
  switch (command[0]) {
    case kBitsOutRising: ShiftBits(count(), command[2], Edge::Rising, true, false, reply); break;
    case kBitsOutFalling: ShiftBits(count(), command[2], Edge::Falling, true, false, reply); break;
    case kBitsInRising:
    case kBitsInFalling: ShiftBits(count(), 0, Edge::Falling, false, true, reply); break;
    case kBitsOutFallingInRising:
      ShiftBits(count(), command[2], Edge::Falling, true, true, reply);
      break;
    case kBitsOutRisingInFalling:
      ShiftBits(count(), command[2], Edge::Rising, true, true, reply);
      break;
    case kTmsOutRising: ShiftTms(count(), command[2], Edge::Rising, false, reply); break;
    case kTmsOutFalling: ShiftTms(count(), command[2], Edge::Falling, false, reply); break;
    case kTmsOutFallingInRising: ShiftTms(count(), command[2], Edge::Falling, true, reply); break;
    case kFreeClocks: ShiftBits(count(), 0, Edge::Falling, false, false, reply); break;
    case kSetLowByte: SetLowByte(command[1], command[2]); break;
    case kSetDivisor:
      clock_.divisor = static_cast<std::uint16_t>(command[1] | command[2] << 8);
      clock_.divisorSet = true;
      break;
    case kDivideBy5Off: clock_.divideBy5 = false; break;
    case kDivideBy5On: clock_.divideBy5 = true; break;
    case kSendImmediate: reply.sendImmediates.push_back({reply.bytes.size(), now_}); break;
    case kAdaptiveOff: clock_.adaptiveOffSent = true; break;
    case kThreePhaseOff: clock_.threePhaseOffSent = true; break;
    default: break;  // the high byte and the loopback switch lead nowhere on this board
  }
}

// Bits read arrive at the top of the reply byte and move down as the next ones come in.
void Mpsse::ShiftBits(unsigned count, std::uint8_t data, Edge out, bool drivesTdi, bool read,
                      EngineOutput& reply) {
  if (!clock_.divisorSet) warnings_.Count(Warning::ScanBeforeClockSetup);
  const bool tms = (lowLevels_ & kTms) != 0;
  std::uint8_t in = 0;
  for (unsigned bit = 0; bit < count; ++bit) {
    const bool tdi = drivesTdi ? ((data >> bit) & 1) != 0 : (lowLevels_ & kTdi) != 0;
    const bool tdo = Clock(out, tms, tdi);
    in = static_cast<std::uint8_t>((in >> 1) | (tdo ? 0x80 : 0));
  }
  if (read) Answer(in, reply);
}

// Bits 0..6 of data are the TMS levels; bit 7 is held on TDI throughout.
void Mpsse::ShiftTms(unsigned count, std::uint8_t data, Edge out, bool read,
                     EngineOutput& reply) {
  if (!clock_.divisorSet) warnings_.Count(Warning::ScanBeforeClockSetup);
  if (count > kMaxTmsBits) count = kMaxTmsBits;
  const bool tdi = (data & kTmsCommandTdi) != 0;
  std::uint8_t in = 0;
  for (unsigned bit = 0; bit < count; ++bit) {
    const bool tdo = Clock(out, ((data >> bit) & 1) != 0, tdi);
    in = static_cast<std::uint8_t>((in >> 1) | (tdo ? 0x80 : 0));
  }
  if (read) Answer(in, reply);
}

// One TCK period. The target samples on the rising edge, so a level the engine changes on
// that same edge reaches it one clock late; TDO changes on the falling edge, so it is the
// same level whichever edge the engine samples it on.
bool Mpsse::Clock(Edge out, bool tms, bool tdi) {
  pins_.AdvanceTo(now_ / kTicksPerMicro);
  now_ += clock_.TckPeriod();
  tckTime_ += clock_.TckPeriod();
  const auto drive = [&] {
    lowLevels_ = static_cast<std::uint8_t>((lowLevels_ & ~(kTms | kTdi)) | (tms ? kTms : 0) |
                                           (tdi ? kTdi : 0));
  };
  const bool clocked = (lowDirections_ & kTck) != 0;
  if (out == Edge::Falling) drive();
  const bool tdo = pins_.Tdo();
  if (clocked) pins_.ClockRise(LineLevel(kTms), LineLevel(kTdi));
  if (out == Edge::Rising) drive();
  if (clocked) pins_.ClockFall();
  return tdo;
}

// A byte exists once the clock of its last bit has run.
void Mpsse::Answer(std::uint8_t byte, EngineOutput& out) const {
  out.bytes.push_back(byte);
  out.times.push_back(now_);
}

// A line the engine does not drive is pulled high on the board.
bool Mpsse::LineLevel(std::uint8_t pin) const {
  return (lowDirections_ & pin) == 0 || (lowLevels_ & pin) != 0;
}

void Mpsse::SetLowByte(std::uint8_t levels, std::uint8_t directions) {
  pins_.AdvanceTo(now_ / kTicksPerMicro);
  lowLevels_ = levels;
  lowDirections_ = directions;
  pins_.SetResetLine(LineLevel(kResetLine));
}

}  // namespace qzsim
