#include "Mpsse.h"

#include <algorithm>
#include <utility>

namespace qzsim {

namespace {

constexpr std::uint8_t kBitCountMask = 0x07;
constexpr unsigned kMaxTmsBits = 7;
constexpr std::uint8_t kTmsCommandTdi = 0x80;

// 0x10 to 0x3F: TDI written, TDO read or both, in bytes or bits, on either edge, MSB or LSB first.
bool IsDataShift(std::uint8_t opcode) {
  return (opcode & (0x80 | Mpsse::kWriteTms)) == 0 && (opcode & (Mpsse::kWriteTdi | Mpsse::kReadTdo)) != 0;
}

// 0x4A/0x4B/0x4E/0x4F, and with a read 0x6A/0x6B/0x6E/0x6F: bits, LSB first, on either edge.
bool IsTmsShift(std::uint8_t opcode) {
  constexpr std::uint8_t kEitherWay = Mpsse::kWriteFalling | Mpsse::kReadFalling | Mpsse::kReadTdo;
  return (opcode & ~kEitherWay) == (Mpsse::kWriteTms | Mpsse::kLsbFirst | Mpsse::kBitMode);
}

// The 16-bit length field counts from 0: 0x0000 is one byte, 0xFFFF is 65536.
std::size_t ByteCount(std::span<const std::uint8_t> command) {
  return (command[1] | static_cast<std::size_t>(command[2]) << 8) + 1;
}

}  // namespace

Mpsse::Mpsse(JtagPins& pins, Warnings& warnings) : pins_(pins), warnings_(warnings) {}

void Mpsse::Enter(Ticks now) {
  now_ = std::max(now_, now);
  clock_ = ClockSettings{};
  firstCommand_ = true;
  loopback_ = false;
  partial_.clear();
  highLevels_ = highDirections_ = 0;
  SetLowByte(0, 0);
}

void Mpsse::Leave(Ticks now) {
  now_ = std::max(now_, now);
  partial_.clear();
  SetLowByte(0, 0);
}

std::size_t Mpsse::Length(std::span<const std::uint8_t> command) {
  const std::uint8_t opcode = command[0];
  if (IsDataShift(opcode)) {
    if ((opcode & kBitMode) != 0) return (opcode & kWriteTdi) != 0 ? 3 : 2;
    return (opcode & kWriteTdi) != 0 && command.size() >= 3 ? 3 + ByteCount(command) : 3;
  }
  if (IsTmsShift(opcode)) return 3;
  switch (opcode) {
    case kSetLowByte:
    case kSetHighByte:
    case kSetDivisor:
    case kClockBytes:
    case kClockBytesUntilHigh:
    case kClockBytesUntilLow: return 3;
    case kClockBits: return 2;
    default: return 1;  // an opcode alone, or an unknown one, which is echoed
  }
}

void Mpsse::Run(std::span<const std::uint8_t> bytes, Ticks arrival, EngineOutput& reply) {
  now_ = std::max(now_, arrival);
  if (!partial_.empty()) {
    // The length is known once the length bytes are in.
    for (std::size_t need = Length(partial_); partial_.size() < need && !bytes.empty(); need = Length(partial_)) {
      const std::size_t taken = std::min(need - partial_.size(), bytes.size());
      partial_.insert(partial_.end(), bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(taken));
      bytes = bytes.subspan(taken);
    }
    if (partial_.size() < Length(partial_)) return;
    Execute(partial_, reply);
    partial_.clear();
  }
  while (!bytes.empty()) {
    const std::size_t length = Length(bytes);
    if (bytes.size() < length) {
      partial_.assign(bytes.begin(), bytes.end());
      return;
    }
    Execute(bytes.first(length), reply);
    bytes = bytes.subspan(length);
  }
}

void Mpsse::Execute(std::span<const std::uint8_t> command, EngineOutput& reply) {
  const bool first = std::exchange(firstCommand_, false);
  const std::uint8_t opcode = command[0];
  if (IsDataShift(opcode) || IsTmsShift(opcode)) return Shift(command, reply);
  // GPIOL1 is wired to nothing: a clocking or wait until the level it has ends at once.
  const bool gpioL1 = LineLevel(kGpioL1);
  switch (opcode) {
    case kSetLowByte: SetLowByte(command[1], command[2]); break;
    case kReadLowByte: Answer(LowPins(), reply); break;
    case kSetHighByte:
      highLevels_ = command[1];
      highDirections_ = command[2];
      break;
    case kReadHighByte: Answer(static_cast<std::uint8_t>(highLevels_ | ~highDirections_), reply); break;
    case kLoopbackOn: loopback_ = true; break;
    case kLoopbackOff: loopback_ = false; break;
    case kSetDivisor:
      clock_.divisor = static_cast<std::uint16_t>(command[1] | command[2] << 8);
      clock_.divisorSet = true;
      break;
    case kSendImmediate: reply.sendImmediates.push_back({reply.bytes.size(), now_}); break;
    case kWaitHigh:
    case kWaitLow:
      if (gpioL1 != (opcode == kWaitHigh)) now_ += kUnendingClocks * clock_.TckPeriod();
      break;
    case kDivideBy5Off: clock_.divideBy5 = false; break;
    case kDivideBy5On: clock_.divideBy5 = true; break;
    case kThreePhaseOn: clock_.threePhase = true; break;
    case kThreePhaseOff: clock_.threePhase = false; break;
    case kClockBits: FreeClocks((command[1] & kBitCountMask) + 1u); break;
    case kClockBytes: FreeClocks(ByteCount(command) * 8); break;
    case kClockUntilHigh:
    case kClockUntilLow: FreeClocks(gpioL1 == (opcode == kClockUntilHigh) ? 0 : kUnendingClocks); break;
    case kClockBytesUntilHigh:
    case kClockBytesUntilLow: FreeClocks(gpioL1 == (opcode == kClockBytesUntilHigh) ? 0 : ByteCount(command) * 8); break;
    case kAdaptiveOn: clock_.adaptive = true; break;
    case kAdaptiveOff: clock_.adaptive = false; break;
    default:
      // The engine echoes what it does not know and takes the next byte as an opcode.
      Answer(kBadCommand, reply);
      Answer(opcode, reply);
      if (first)
        warnings_.CountSyncEcho();
      else
        warnings_.Count(Warning::BadCommandEcho);
  }
}

// A byte command shifts its bytes one by one and answers each as soon as it is in.
void Mpsse::Shift(std::span<const std::uint8_t> command, EngineOutput& reply) {
  if (!clock_.divisorSet) warnings_.Count(Warning::ScanBeforeClockSetup);
  const std::uint8_t opcode = command[0];
  const bool writes = (opcode & (kWriteTdi | kWriteTms)) != 0;
  const bool reads = (opcode & kReadTdo) != 0;
  if ((opcode & kBitMode) != 0) {
    // Bit 7 of a TMS command's byte is TDI's, so it has seven TMS bits at most.
    const unsigned count = std::min((command[1] & kBitCountMask) + 1u, (opcode & kWriteTms) != 0 ? kMaxTmsBits : 8u);
    const std::uint8_t in = ShiftByte(opcode, count, writes ? command[2] : 0);
    if (reads) Answer(in, reply);
    return;
  }
  const std::size_t count = ByteCount(command);
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint8_t in = ShiftByte(opcode, 8, writes ? command[3 + i] : 0);
    if (reads) Answer(in, reply);
  }
}

// MSB first, bit 7 goes out first and the bits read move up from bit 0, so n bits read end in
// the low n bits; LSB first, bit 0 goes out first and the bits read move down from bit 7. The
// line a command does not write keeps its level.
std::uint8_t Mpsse::ShiftByte(std::uint8_t opcode, unsigned count, std::uint8_t data) {
  const bool lsbFirst = (opcode & kLsbFirst) != 0;
  const Edge out = (opcode & kWriteFalling) != 0 ? Edge::Falling : Edge::Rising;
  const Edge in = (opcode & kReadFalling) != 0 ? Edge::Falling : Edge::Rising;
  // A TMS command puts bit 7 on TDI before its first clock, whichever edge it writes on.
  if ((opcode & kWriteTms) != 0)
    lowLevels_ = static_cast<std::uint8_t>((lowLevels_ & ~kTdi) | ((data & kTmsCommandTdi) != 0 ? kTdi : 0));
  bool tms = (lowLevels_ & kTms) != 0;
  bool tdi = (lowLevels_ & kTdi) != 0;
  std::uint8_t answer = 0;
  for (unsigned bit = 0; bit < count; ++bit) {
    const bool level = ((lsbFirst ? data >> bit : data >> (7 - bit)) & 1) != 0;
    if ((opcode & kWriteTms) != 0)
      tms = level;
    else if ((opcode & kWriteTdi) != 0)
      tdi = level;
    const bool tdo = Tick(out, in, tms, tdi, clock_.BitPeriod());
    answer = static_cast<std::uint8_t>(lsbFirst ? (answer >> 1) | (tdo ? 0x80 : 0) : (answer << 1) | (tdo ? 1 : 0));
  }
  return answer;
}

void Mpsse::FreeClocks(Ticks count) {
  if (!clock_.divisorSet) warnings_.Count(Warning::ScanBeforeClockSetup);
  const bool tms = (lowLevels_ & kTms) != 0;
  const bool tdi = (lowLevels_ & kTdi) != 0;
  for (Ticks clock = 0; clock < count; ++clock) Tick(Edge::Falling, Edge::Rising, tms, tdi, clock_.TckPeriod());
}

// One TCK period; returns TDO as the engine samples it on edge `in`. The target samples on the
// rising edge, so a level the engine changes on that same edge reaches it one clock late, unless
// three-phase clocking holds the data across both edges. The target changes TDO on the falling
// edge, so the engine sees the same level on either edge; looped back, it sees its own TDI,
// which a change on the rising edge reaches in time for a read on the falling one only.
bool Mpsse::Tick(Edge out, Edge in, bool tms, bool tdi, Ticks period) {
  pins_.AdvanceTo(now_ / kTicksPerMicro);
  now_ += period;
  tckTime_ += period;
  const auto drive = [&] {
    lowLevels_ = static_cast<std::uint8_t>((lowLevels_ & ~(kTms | kTdi)) | (tms ? kTms : 0) | (tdi ? kTdi : 0));
  };
  const bool clocked = (lowDirections_ & kTck) != 0;
  const bool late = out == Edge::Rising && !clock_.threePhase;
  if (!late) drive();
  bool tdo = TdoInput();
  if (clocked) pins_.ClockRise(LineLevel(kTms), LineLevel(kTdi));
  if (late) drive();
  if (in == Edge::Falling) tdo = TdoInput();
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

bool Mpsse::TdoInput() const { return loopback_ ? LineLevel(kTdi) : pins_.Tdo(); }

// Outputs read as driven, TDO as the target (or the loop) drives it, other inputs pulled high.
std::uint8_t Mpsse::LowPins() const {
  auto levels = static_cast<std::uint8_t>((lowLevels_ & lowDirections_) | ~lowDirections_);
  if ((lowDirections_ & kTdo) == 0 && !TdoInput()) levels &= static_cast<std::uint8_t>(~kTdo);
  return levels;
}

void Mpsse::SetLowByte(std::uint8_t levels, std::uint8_t directions) {
  pins_.AdvanceTo(now_ / kTicksPerMicro);
  lowLevels_ = levels;
  lowDirections_ = directions;
  pins_.SetResetLine(LineLevel(kResetLine));
}

}  // namespace qzsim
