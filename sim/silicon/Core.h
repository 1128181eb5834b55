// The core as the debug port sees it: halted in debug mode it executes the instructions fed
// through OPDBR, one at a time. Only the instructions a flash programmer needs are decoded.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "Bus.h"
#include "Warnings.h"

namespace qzsim {

namespace op {
inline constexpr std::uint16_t kLoadValue = 0xE41C;  // + value bits 0-15, value bits 16-31
inline constexpr std::uint16_t kAddressFromValue = 0x81A0;
inline constexpr std::uint16_t kDataFromValue = 0x808C;
inline constexpr std::uint16_t kReadX = 0xF080;
inline constexpr std::uint16_t kReadP = 0x8068;
inline constexpr std::uint16_t kStoreX = 0xD000;
inline constexpr std::uint16_t kStoreP = 0x8360;
inline constexpr std::uint16_t kCopyOmr = 0x869C;
inline constexpr std::uint16_t kCopySr = 0x869D;
inline constexpr std::uint16_t kOmrFromValue = 0x8C8C;
inline constexpr std::uint16_t kMoveToOtx1 = 0xE77F;      // + one of the two sources below
inline constexpr std::uint16_t kSourceReadWord = 0xD07C;  // the word read
inline constexpr std::uint16_t kSourceModeCopy = 0xD6FC;  // the OMR or SR copy
inline constexpr std::uint16_t kMoveToOtx1High = 0xFFFF;
}  // namespace op

// Where a word the core moved into OTX1 came from.
struct WordOrigin {
  enum class Kind : std::uint8_t { None, Memory, Omr, Sr };
  Kind kind = Kind::None;
  Space space = Space::X;
  std::uint32_t address = 0;
};

class Core {
 public:
  // No instruction the host can feed changes SR, so it keeps its reset value.
  static constexpr std::uint16_t kSr = 0x0300;

  Core(Bus& bus, Warnings& warnings);

  void HoldInReset();
  // Starts the core; in debug mode if it was requested while reset was held.
  void ReleaseReset();
  void RequestDebug();
  void LeaveDebug();
  bool InDebug() const { return debug_; }

  // One instruction of one or three words. Returns the word it moved into OTX1, if any.
  std::optional<std::uint16_t> Execute(std::span<const std::uint16_t> words);

  std::uint16_t Omr() const { return omr_; }
  // The origin of the last word Execute moved into OTX1.
  const WordOrigin& MovedFrom() const { return movedFrom_; }

 private:
  bool ExecuteOneWord(std::uint16_t word);
  void ResetRegisters();

  Bus& bus_;
  Warnings& warnings_;
  bool inReset_ = false;
  bool debug_ = false;
  bool debugRequested_ = false;
  std::uint32_t value_ = 0;    // last loaded value
  std::uint32_t address_ = 0;  // address of the next memory access
  std::uint16_t data_ = 0;     // data of the next store
  std::uint16_t read_ = 0;     // last word read
  std::uint16_t mode_ = 0;     // last OMR or SR copy
  std::uint16_t omr_ = 0;
  WordOrigin readFrom_;
  WordOrigin modeFrom_;
  WordOrigin movedFrom_;
};

}  // namespace qzsim
