#include "Core.h"

namespace qzsim {

Core::Core(Bus& bus, Warnings& warnings) : bus_(bus), warnings_(warnings) {}

void Core::ResetRegisters() {
  value_ = 0;
  address_ = 0;
  data_ = 0;
  read_ = 0;
  mode_ = 0;
  omr_ = 0;
  readFrom_ = modeFrom_ = movedFrom_ = {};
}

void Core::HoldInReset() {
  inReset_ = true;
  debug_ = false;
  debugRequested_ = false;
  ResetRegisters();
}

void Core::ReleaseReset() {
  inReset_ = false;
  debug_ = debugRequested_;
  debugRequested_ = false;
}

void Core::RequestDebug() {
  if (inReset_) {
    debugRequested_ = true;
  } else {
    debug_ = true;
  }
}

void Core::LeaveDebug() { debug_ = false; }

std::optional<std::uint16_t> Core::Execute(std::span<const std::uint16_t> words) {
  if (!debug_) {
    warnings_.Count(Warning::WordsOutsideDebugMode);
    return std::nullopt;
  }
  if (words.size() == 1 && ExecuteOneWord(words[0])) return std::nullopt;
  if (words.size() == 3) {
    if (words[0] == op::kLoadValue) {
      value_ = static_cast<std::uint32_t>(words[1]) | static_cast<std::uint32_t>(words[2]) << 16;
      return std::nullopt;
    }
    if (words[0] == op::kMoveToOtx1 && words[2] == op::kMoveToOtx1High) {
      if (words[1] == op::kSourceReadWord) {
        movedFrom_ = readFrom_;
        return read_;
      }
      if (words[1] == op::kSourceModeCopy) {
        movedFrom_ = modeFrom_;
        return mode_;
      }
    }
  }
  warnings_.Count(Warning::IllegalInstruction);
  return std::nullopt;
}

bool Core::ExecuteOneWord(std::uint16_t word) {
  switch (word) {
    case op::kAddressFromValue: address_ = value_; return true;
    case op::kDataFromValue: data_ = static_cast<std::uint16_t>(value_); return true;
    case op::kReadX:
      read_ = bus_.Read(Space::X, address_);
      readFrom_ = {WordOrigin::Kind::Memory, Space::X, address_};
      return true;
    case op::kReadP:
      read_ = bus_.Read(Space::P, address_);
      readFrom_ = {WordOrigin::Kind::Memory, Space::P, address_};
      return true;
    case op::kStoreX: bus_.Write(Space::X, address_, data_); return true;
    case op::kStoreP: bus_.Write(Space::P, address_, data_); return true;
    case op::kCopyOmr:
      mode_ = omr_;
      modeFrom_ = {WordOrigin::Kind::Omr};
      return true;
    case op::kCopySr:
      mode_ = kSr;
      modeFrom_ = {WordOrigin::Kind::Sr};
      return true;
    case op::kOmrFromValue: omr_ = static_cast<std::uint16_t>(value_); return true;
    default: return false;
  }
}

}  // namespace qzsim
