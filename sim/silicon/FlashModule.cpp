#include "FlashModule.h"

#include <algorithm>
#include <limits>

namespace qzsim {

namespace {

constexpr std::uint16_t kDividerMask = 0x7F;
constexpr std::uint16_t kBankMask = 0x03;
constexpr std::uint16_t kProtectionReset = 0xFFFF;
constexpr std::uint16_t kBadWordFlip = 0x0001;
// An unsecured part reads its security words as 0.
constexpr std::uint16_t kSecurityWord = 0x0000;

std::uint64_t Duration(std::uint16_t code) {
  return code == FlashModule::kCommandEraseBlock ? FlashModule::kEraseMicros
                                                 : FlashModule::kProgramMicros;
}

}  // namespace

FlashModule::FlashModule(const MemoryMap& map, const FlashFaults& faults)
    : map_(map), faults_(faults) {
  for (const FlashBlock& block : map_.flash) cells_.emplace_back(block.words, kErased);
  Reset();
}

void FlashModule::Reset() {
  divider_ = 0;
  divld_ = false;
  fmcr_ = 0;
  fmprot_ = {kProtectionReset, kProtectionReset};
  fmprotb_ = kProtectionReset;
  fmcmd_ = 0;
  pviol_ = false;
  accerr_ = false;
  AbortSequence();
  executing_.reset();
  buffered_.reset();
}

void FlashModule::AdvanceTo(std::uint64_t nowMicros) {
  if (nowMicros > now_) now_ = nowMicros;
  while (executing_ && !executing_->hangs && executing_->doneAt <= now_) {
    const std::uint64_t doneAt = executing_->doneAt;
    Complete(*executing_);
    executing_.reset();
    if (buffered_) {
      Start(*buffered_, doneAt);
      buffered_.reset();
    }
  }
}

void FlashModule::Settle() {
  while (executing_ && !executing_->hangs) AdvanceTo(executing_->doneAt);
}

std::uint16_t FlashModule::Status() const {
  std::uint16_t status = 0;
  if (!buffered_) status |= kCbeif;
  if (!executing_ && !buffered_) status |= kCcif;
  if (pviol_) status |= kPviol;
  if (accerr_) status |= kAccerr;
  return status;
}

const char* FlashModule::RegisterName(std::uint32_t address) {
  switch (address) {
    case kFmclkd: return "FMCLKD";
    case kFmcr: return "FMCR";
    case kFmsech: return "FMSECH";
    case kFmsecl: return "FMSECL";
    case kFmprot: return "FMPROT";
    case kFmprotb: return "FMPROTB";
    case kFmustat: return "FMUSTAT";
    case kFmcmd: return "FMCMD";
    default: return nullptr;
  }
}

std::optional<std::uint16_t> FlashModule::ReadRegister(std::uint32_t address) const {
  switch (address) {
    case kFmclkd: return static_cast<std::uint16_t>(divider_ | (divld_ ? kDivld : 0));
    case kFmcr: return fmcr_;
    case kFmsech:
    case kFmsecl: return kSecurityWord;
    case kFmprot: return fmcr_ < fmprot_.size() ? fmprot_[fmcr_] : 0;
    case kFmprotb: return fmprotb_;
    case kFmustat: return Status();
    case kFmcmd: return fmcmd_;
    default: return std::nullopt;
  }
}

bool FlashModule::WriteRegister(std::uint32_t address, std::uint16_t value) {
  switch (address) {
    case kFmclkd:
      // The divider can be loaded once per reset.
      if (!divld_) {
        divider_ = value & kDividerMask;
        divld_ = true;
      }
      return true;
    case kFmcr: fmcr_ = value & kBankMask; return true;
    case kFmsech:
    case kFmsecl: return true;
    case kFmprot:
      // Protection can be lowered, not raised, until the next reset.
      if (!faults_.protectionStuck && fmcr_ < fmprot_.size()) fmprot_[fmcr_] &= value;
      return true;
    case kFmprotb:
      if (!faults_.protectionStuck) fmprotb_ &= value;
      return true;
    case kFmustat:
      if (value & kPviol) pviol_ = false;
      if (value & kAccerr) accerr_ = false;
      if (value & kCbeif) Launch();
      return true;
    case kFmcmd: WriteCommand(value); return true;
    default: return false;
  }
}

const FlashBlock* FlashModule::BlockAt(Space space, std::uint32_t address) const {
  for (const FlashBlock& block : map_.flash) {
    if (block.Holds(space, address)) return &block;
  }
  return nullptr;
}

std::optional<std::size_t> FlashModule::BlockIndex(Space space, std::uint32_t address) const {
  for (std::size_t i = 0; i < map_.flash.size(); ++i) {
    if (map_.flash[i].Holds(space, address)) return i;
  }
  return std::nullopt;
}

std::uint16_t FlashModule::Cell(Space space, std::uint32_t address) const {
  const auto index = BlockIndex(space, address);
  return index ? cells_[*index][address - map_.flash[*index].first] : 0;
}

void FlashModule::SetCell(Space space, std::uint32_t address, std::uint16_t value) {
  if (const auto index = BlockIndex(space, address)) {
    cells_[*index][address - map_.flash[*index].first] = value;
  }
}

std::uint16_t FlashModule::ReadArray(Space space, std::uint32_t address) const {
  std::uint16_t value = Cell(space, address);
  if (faults_.badWord && faults_.badWord->first == space && faults_.badWord->second == address) {
    value ^= kBadWordFlip;
  }
  return value;
}

void FlashModule::SetAccessError() {
  accerr_ = true;
  AbortSequence();
}

void FlashModule::AbortSequence() {
  sequence_ = Sequence::Idle;
  latchCount_ = 0;
  command_ = 0;
}

void FlashModule::WriteArray(Space space, std::uint32_t address, std::uint16_t data) {
  const FlashBlock* block = BlockAt(space, address);
  const bool bufferFull = buffered_.has_value();
  if (!divld_ || pviol_ || accerr_ || bufferFull || block == nullptr || block->Bank() != fmcr_ ||
      sequence_ == Sequence::Commanded) {
    SetAccessError();
    return;
  }
  if (sequence_ == Sequence::Latched) {
    // Only program flash takes a second word, at the next address.
    const Latch& first = latches_[0];
    const FlashBlock* firstBlock = BlockAt(first.space, first.address);
    const bool pairs = latchCount_ == 1 && firstBlock->kind == FlashKind::Program &&
                       block->kind == FlashKind::Program && address == first.address + 1;
    if (!pairs) {
      SetAccessError();
      return;
    }
  }
  latches_[latchCount_++] = Latch{space, address, data};
  sequence_ = Sequence::Latched;
}

void FlashModule::WriteCommand(std::uint16_t value) {
  fmcmd_ = value;
  const bool known = value == kCommandProgram || (value == kCommandEraseBlock && latchCount_ == 1);
  if (sequence_ != Sequence::Latched || !known) {
    SetAccessError();
    return;
  }
  command_ = value;
  sequence_ = Sequence::Commanded;
}

bool FlashModule::Protected(const Latch& latch) const {
  const FlashBlock* block = BlockAt(latch.space, latch.address);
  switch (block->kind) {
    case FlashKind::Program: return fmprot_[0] != 0;
    case FlashKind::Boot: return fmprotb_ != 0;
    case FlashKind::Data: return fmprot_[1] != 0;
  }
  return true;
}

void FlashModule::Launch() {
  if (sequence_ != Sequence::Commanded) {
    SetAccessError();
    return;
  }
  Command command{command_, latches_, latchCount_, 0, false};
  AbortSequence();
  const bool erase = command.code == kCommandEraseBlock;
  // Protected erases count too, so N names the N-th erase the host launched.
  if (erase) ++erasesLaunched_;
  for (unsigned i = 0; i < command.count; ++i) {
    if (Protected(command.latches[i])) {
      pviol_ = true;
      return;
    }
  }
  if (erase && faults_.erasePviolAt == erasesLaunched_) {
    pviol_ = true;
    return;
  }
  if (erase && faults_.eraseAccerrAt == erasesLaunched_) {
    accerr_ = true;
    return;
  }
  if (command.code == kCommandProgram && faults_.failure != FlashFailure::None && !failureFired_ &&
      wordsAccepted_ >= faults_.failAfterWords) {
    failureFired_ = true;
    (faults_.failure == FlashFailure::Pviol ? pviol_ : accerr_) = true;
    return;
  }
  command.hangs = faults_.hangAfterCommands && commandsAccepted_ == *faults_.hangAfterCommands;
  ++commandsAccepted_;
  if (command.code == kCommandProgram) wordsAccepted_ += command.count;
  if (executing_) {
    buffered_ = command;
  } else {
    Start(command, now_);
  }
}

void FlashModule::Start(Command command, std::uint64_t at) {
  command.doneAt =
      command.hangs ? std::numeric_limits<std::uint64_t>::max() : at + Duration(command.code);
  executing_ = command;
}

void FlashModule::Complete(const Command& command) {
  if (command.code == kCommandEraseBlock) {
    const Latch& latch = command.latches[0];
    if (const auto index = BlockIndex(latch.space, latch.address)) {
      std::fill(cells_[*index].begin(), cells_[*index].end(), kErased);
    }
    return;
  }
  // Programming can only turn ones into zeros.
  for (unsigned i = 0; i < command.count; ++i) {
    const Latch& latch = command.latches[i];
    SetCell(latch.space, latch.address, Cell(latch.space, latch.address) & latch.data);
  }
}

}  // namespace qzsim
