#include "Target.h"

namespace qzsim {

Target::Target(const TargetConfig& config, Warnings& warnings)
    : flash_(MemoryMapOf(config.variant), config.flashFaults),
      bus_(MemoryMapOf(config.variant), flash_, warnings),
      core_(bus_, warnings),
      eonce_(core_, warnings),
      chipTap_(config.idcode),
      coreTap_(eonce_, core_) {}

// The TAPs are not reset by the line: JTAG works while the target is held in reset.
void Target::SetResetLine(bool high) {
  if (!high && !inReset_) {
    inReset_ = true;
    core_.HoldInReset();
    eonce_.Reset();
    flash_.Reset();
  } else if (high && inReset_) {
    inReset_ = false;
    core_.ReleaseReset();
  }
}

void Target::ClockRise(bool tms, bool tdi) {
  const bool coreLinked = chipTap_.CoreTapLinked();
  chipTap_.Rise(tms, tdi, !coreLinked);
  coreTap_.Rise(tms, tdi, coreLinked);
}

void Target::ClockFall() {
  // The chain is the one that shifted on the rising edge; an Update-DR of the link register
  // switches it for the next clock.
  const bool coreLinked = chipTap_.CoreTapLinked();
  chipTap_.Fall(!coreLinked);
  coreTap_.Fall(coreLinked);
}

bool Target::Tdo() const {
  const auto level = chipTap_.CoreTapLinked() ? coreTap_.Tdo() : chipTap_.Tdo();
  return level.value_or(true);
}

}  // namespace qzsim
