// The flash module: its register file at X:0xF400, the flash arrays of the variant, and the
// command cycle (latch by array write, command in FMCMD, launch through FMUSTAT) with a
// one-deep command buffer in front of the command being executed.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "MemoryMap.h"

namespace qzsim {

enum class FlashFailure : std::uint8_t { None, Pviol, Accerr };

struct FlashFaults {
  bool protectionStuck = false;  // FMPROT and FMPROTB ignore every write
  // The first program command launched once this many words have been accepted fails.
  FlashFailure failure = FlashFailure::None;
  std::uint64_t failAfterWords = 0;
  // The erase command launched as the N-th since power-up (1 for the first) fails with that
  // flag and is not executed.
  std::optional<std::uint64_t> erasePviolAt;
  std::optional<std::uint64_t> eraseAccerrAt;
  // The command launched once this many commands have been accepted never completes.
  std::optional<std::uint64_t> hangAfterCommands;
  // The core reads this flash word with bit 0 flipped; the cell itself is right.
  std::optional<std::pair<Space, std::uint32_t>> badWord;
};

class FlashModule {
 public:
  static constexpr std::uint32_t kFmclkd = 0xF400;
  static constexpr std::uint32_t kFmcr = 0xF401;
  static constexpr std::uint32_t kFmsech = 0xF403;
  static constexpr std::uint32_t kFmsecl = 0xF404;
  static constexpr std::uint32_t kFmprot = 0xF410;
  static constexpr std::uint32_t kFmprotb = 0xF411;
  static constexpr std::uint32_t kFmustat = 0xF413;
  static constexpr std::uint32_t kFmcmd = 0xF414;
  static constexpr std::uint32_t kFirstRegister = kFmclkd;
  static constexpr std::uint32_t kLastRegister = kFmcmd;

  static constexpr std::uint16_t kDivld = 0x80;
  static constexpr std::uint16_t kCbeif = 0x80;
  static constexpr std::uint16_t kCcif = 0x40;
  static constexpr std::uint16_t kPviol = 0x20;
  static constexpr std::uint16_t kAccerr = 0x10;

  static constexpr std::uint16_t kCommandProgram = 0x20;
  static constexpr std::uint16_t kCommandEraseBlock = 0x41;
  static constexpr std::uint64_t kProgramMicros = 1000;
  static constexpr std::uint64_t kEraseMicros = 20000;

  static constexpr std::uint16_t kErased = 0xFFFF;

  FlashModule(const MemoryMap& map, const FlashFaults& faults);

  // "FMUSTAT"; none for an address that holds no register.
  static const char* RegisterName(std::uint32_t address);

  // The target's reset: registers to their reset values, commands in progress abandoned.
  void Reset();
  // Lets the commands in progress run up to this time of the virtual clock.
  void AdvanceTo(std::uint64_t nowMicros);
  // Runs every command that will ever complete to its end.
  void Settle();

  // Registers; none for an address of the block that holds no register.
  std::optional<std::uint16_t> ReadRegister(std::uint32_t address) const;
  // False for an address of the block that holds no register.
  bool WriteRegister(std::uint32_t address, std::uint16_t value);

  const FlashBlock* BlockAt(Space space, std::uint32_t address) const;
  // The word as the core reads it.
  std::uint16_t ReadArray(Space space, std::uint32_t address) const;
  // A core store to a flash address: latches address and data for the next command.
  void WriteArray(Space space, std::uint32_t address, std::uint16_t data);

  // The cells themselves, for saved states.
  std::uint16_t Cell(Space space, std::uint32_t address) const;
  void SetCell(Space space, std::uint32_t address, std::uint16_t value);
  const MemoryMap& Map() const { return map_; }

 private:
  struct Latch {
    Space space;
    std::uint32_t address;
    std::uint16_t data;
  };
  struct Command {
    std::uint16_t code;
    std::array<Latch, 2> latches;
    unsigned count;
    std::uint64_t doneAt;
    bool hangs;
  };
  enum class Sequence : std::uint8_t { Idle, Latched, Commanded };

  std::uint16_t Status() const;
  bool Protected(const Latch& latch) const;
  void SetAccessError();
  void AbortSequence();
  void WriteCommand(std::uint16_t value);
  void Launch();
  void Start(Command command, std::uint64_t at);
  void Complete(const Command& command);
  std::optional<std::size_t> BlockIndex(Space space, std::uint32_t address) const;

  const MemoryMap& map_;
  const FlashFaults faults_;
  std::vector<std::vector<std::uint16_t>> cells_;  // one vector per block of map_

  std::uint16_t divider_ = 0;
  bool divld_ = false;
  std::uint16_t fmcr_ = 0;
  std::array<std::uint16_t, 2> fmprot_{};
  std::uint16_t fmprotb_ = 0;
  std::uint16_t fmcmd_ = 0;
  bool pviol_ = false;
  bool accerr_ = false;

  Sequence sequence_ = Sequence::Idle;
  std::array<Latch, 2> latches_{};
  unsigned latchCount_ = 0;
  std::uint16_t command_ = 0;

  std::optional<Command> executing_;
  std::optional<Command> buffered_;
  std::uint64_t now_ = 0;

  std::uint64_t commandsAccepted_ = 0;
  std::uint64_t wordsAccepted_ = 0;
  std::uint64_t erasesLaunched_ = 0;
  bool failureFired_ = false;
};

}  // namespace qzsim
