// The controller as seen from its JTAG connector: the chain of the chip-level TAP and the
// core's TAP, the reset line, and behind them the debug port, the core, its memories and the
// flash module.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "Bus.h"
#include "ChipTap.h"
#include "Core.h"
#include "CoreTap.h"
#include "EOnce.h"
#include "FlashModule.h"
#include "JtagPins.h"
#include "MemoryMap.h"
#include "Warnings.h"

namespace qzsim {

struct TargetConfig {
  std::uint32_t idcode = kIdcodeVariant1;
  int variant = 1;  // memory map, 1 or 2
  FlashFaults flashFaults;
};

// The scan the last capture began, as far as it has gone: what the bits a host reads back were
// shifted out of.
struct ScanReport {
  std::uint64_t number = 0;  // captures since power-on; 0: no scan yet
  bool coreTap = false;
  bool instructionScan = false;
  std::uint32_t instruction = 0;  // a data scan: the TAP's instruction
  // The core TAP's EOnCE path: a data scan (else a command scan), and its command.
  bool eonceData = false;
  std::uint8_t eonceCommand = 0;
  WordOrigin word;       // a data scan reading OTX1: where the core took the word
  bool flashWord = false;  // ... from a flash array
  std::optional<std::uint64_t> updated;  // what the scan's update took

  // "scan 812: core TAP, EOnCE data scan, read OTX1: the word the core read from X:0xF413 (FMUSTAT)"
  std::string Describe() const;
};

class Target : public JtagPins {
 public:
  Target(const TargetConfig& config, Warnings& warnings);

  void SetResetLine(bool high) override;
  void ClockRise(bool tms, bool tdi) override;
  void ClockFall() override;
  // Pulled high when no TAP drives it.
  bool Tdo() const override;

  // Lets the flash module's commands run up to this time of the virtual clock.
  void AdvanceTo(std::uint64_t nowMicros) override { flash_.AdvanceTo(nowMicros); }

  FlashModule& Flash() { return flash_; }
  const Core& CoreState() const { return core_; }
  const ChipTap& ChipTapState() const { return chipTap_; }
  const CoreTap& CoreTapState() const { return coreTap_; }
  bool InReset() const { return inReset_; }
  const ScanReport& LastScan() const { return scan_; }

 private:
  FlashModule flash_;
  Bus bus_;
  Core core_;
  EOnce eonce_;
  ChipTap chipTap_;
  CoreTap coreTap_;
  bool inReset_ = false;
  ScanReport scan_;

  void BeginScan(bool coreLinked, bool instructionScan);
};

}  // namespace qzsim
