#include "Target.h"

#include <cstdio>

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

void Target::BeginScan(bool coreLinked, bool instructionScan) {
  const Tap& tap = coreLinked ? static_cast<const Tap&>(coreTap_) : chipTap_;
  ScanReport scan;
  scan.number = scan_.number + 1;
  scan.coreTap = coreLinked;
  scan.instructionScan = instructionScan;
  scan.instruction = tap.Instruction();
  if (coreLinked && !instructionScan && tap.Instruction() == CoreTap::kEOnceInstruction && eonce_.DataScanNext()) {
    scan.eonceData = true;
    scan.eonceCommand = eonce_.Command();
    if (scan.eonceCommand == (EOnce::kRead | EOnce::kOtx1)) {
      scan.word = eonce_.Otx1From();
      scan.flashWord = scan.word.kind == WordOrigin::Kind::Memory && flash_.BlockAt(scan.word.space, scan.word.address);
    }
  }
  scan_ = scan;
}

void Target::ClockRise(bool tms, bool tdi) {
  const bool coreLinked = chipTap_.CoreTapLinked();
  const TapState state = coreLinked ? coreTap_.State() : chipTap_.State();
  if (state == TapState::CaptureDr || state == TapState::CaptureIr) BeginScan(coreLinked, state == TapState::CaptureIr);
  chipTap_.Rise(tms, tdi, !coreLinked);
  coreTap_.Rise(tms, tdi, coreLinked);
}

void Target::ClockFall() {
  // The chain is the one that shifted on the rising edge; an Update-DR of the link register
  // switches it for the next clock.
  const bool coreLinked = chipTap_.CoreTapLinked();
  chipTap_.Fall(!coreLinked);
  coreTap_.Fall(coreLinked);
  const Tap& tap = coreLinked ? static_cast<const Tap&>(coreTap_) : chipTap_;
  if (tap.State() == TapState::UpdateIr) scan_.updated = tap.Instruction();
  if (tap.State() == TapState::UpdateDr) scan_.updated = tap.LastUpdate();
}

namespace {

std::string Hex(std::uint64_t value) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%llX", static_cast<unsigned long long>(value));
  return text;
}

std::string Origin(const WordOrigin& word) {
  switch (word.kind) {
    case WordOrigin::Kind::Omr: return "the core's copy of OMR";
    case WordOrigin::Kind::Sr: return "the core's copy of SR";
    case WordOrigin::Kind::None: return "nothing the core moved";
    case WordOrigin::Kind::Memory: break;
  }
  std::string text = "the word the core read from ";
  text += (word.space == Space::P ? "P:" : "X:") + Hex(word.address);
  if (const char* name = word.space == Space::X ? FlashModule::RegisterName(word.address) : nullptr)
    text += std::string(" (") + name + ")";
  return text;
}

std::string InstructionName(bool coreTap, std::uint32_t instruction) {
  if (coreTap) {
    switch (instruction) {
      case CoreTap::kEOnceInstruction: return "EOnCE";
      case CoreTap::kDebugRequestInstruction: return "debug request";
      default: return "bypass";
    }
  }
  switch (instruction) {
    case ChipTap::kIdcodeInstruction: return "IDCODE";
    case ChipTap::kLinkInstruction: return "link register";
    default: return "bypass";
  }
}

}  // namespace

std::string ScanReport::Describe() const {
  if (number == 0) return "before any scan";
  std::string text = "scan " + std::to_string(number) + (coreTap ? ": core TAP, " : ": chip TAP, ");
  if (instructionScan) {
    text += "instruction scan";
    if (updated)
      text += ", " + InstructionName(coreTap, static_cast<std::uint32_t>(*updated)) + " (" + Hex(*updated) + ")";
    return text;
  }
  if (!coreTap || instruction != CoreTap::kEOnceInstruction) {
    text += InstructionName(coreTap, instruction) + " data scan";
    if (updated && instruction == ChipTap::kLinkInstruction && !coreTap) text += ", " + Hex(*updated) + " written";
    return text;
  }
  if (!eonceData) {
    text += "EOnCE command scan";
    if (updated) {
      text += ", " + Hex(*updated) + " (";
      text += (*updated & EOnce::kRead) ? "read " : "write ";
      text += EOnce::RegisterName(static_cast<std::uint8_t>(*updated & EOnce::kSelectMask));
      text += (*updated & EOnce::kExecute) ? ", execute" : "";
      text += (*updated & EOnce::kExit) ? ", exit" : "";
      text += ")";
    }
    return text;
  }
  const char* reg = EOnce::RegisterName(eonceCommand & EOnce::kSelectMask);
  if (eonceCommand & EOnce::kRead) {
    text += std::string("EOnCE data scan, read ") + reg;
    if ((eonceCommand & EOnce::kSelectMask) == EOnce::kOtx1) text += ": " + Origin(word);
    return text;
  }
  text += std::string("EOnCE data scan, write ") + reg;
  if (updated) text += " " + Hex(*updated);
  if ((eonceCommand & EOnce::kSelectMask) == EOnce::kOpdbr)
    text += (eonceCommand & EOnce::kExecute) ? " (instruction word, executed)" : " (instruction word, collected)";
  return text;
}

bool Target::Tdo() const {
  const auto level = chipTap_.CoreTapLinked() ? coreTap_.Tdo() : chipTap_.Tdo();
  return level.value_or(true);
}

}  // namespace qzsim
