// The core's debug port behind core-TAP instruction 0x6. Each access is an 8-bit command
// scan, then (for a register with data) one data scan as wide as the register.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "Core.h"
#include "Tap.h"
#include "Warnings.h"

namespace qzsim {

class EOnce {
 public:
  // Command byte.
  static constexpr std::uint8_t kRead = 0x80;
  static constexpr std::uint8_t kExecute = 0x40;
  static constexpr std::uint8_t kExit = 0x20;
  static constexpr std::uint8_t kSelectMask = 0x1F;

  // Register selects.
  static constexpr std::uint8_t kOcr = 0x01;
  static constexpr std::uint8_t kOscntr = 0x02;
  static constexpr std::uint8_t kOsr = 0x03;
  static constexpr std::uint8_t kOpdbr = 0x04;
  static constexpr std::uint8_t kObase = 0x05;
  static constexpr std::uint8_t kOtxrxsr = 0x06;
  static constexpr std::uint8_t kOtx = 0x07;
  static constexpr std::uint8_t kOtx1 = 0x09;
  static constexpr std::uint8_t kOrx = 0x0B;
  static constexpr std::uint8_t kOrx1 = 0x0D;
  static constexpr std::uint8_t kNoRegister = 0x1F;

  static constexpr std::uint8_t kOtxrxsrTransmitFull = 0x02;
  // OSR core status field: both bits set while the core is in debug mode.
  static constexpr std::uint16_t kOsrDebug = 0x0018;

  EOnce(Core& core, Warnings& warnings);

  // What the next scan is, and where the word in OTX1 came from.
  bool DataScanNext() const { return dataScanNext_; }
  std::uint8_t Command() const { return command_; }
  const WordOrigin& Otx1From() const { return otx1From_; }
  static const char* RegisterName(std::uint8_t select);

  ScanRegister Capture();
  void Update(std::uint64_t bits);
  // Test-Logic-Reset: the next scan is a command.
  void RestartScans();
  // The target's reset.
  void Reset();

 private:
  static constexpr unsigned kCommandWidth = 8;
  static constexpr std::size_t kMaxCollected = 4;  // one more than the longest instruction

  static unsigned WidthOf(std::uint8_t select);
  std::uint64_t ReadRegister(std::uint8_t select) const;
  void WriteRegister(std::uint8_t select, std::uint64_t value);
  void Finish();

  Core& core_;
  Warnings& warnings_;
  bool dataScanNext_ = false;
  std::uint8_t command_ = 0;

  std::uint8_t ocr_ = 0;
  std::uint32_t oscntr_ = 0;
  std::uint16_t opdbr_ = 0;
  std::uint8_t obase_ = 0;
  std::uint16_t otx1_ = 0;
  bool otx1Full_ = false;
  WordOrigin otx1From_;
  std::uint32_t orx_ = 0;
  std::uint16_t orx1_ = 0;
  std::vector<std::uint16_t> collected_;
};

}  // namespace qzsim
