#include "Warnings.h"

namespace qzsim {

const char* WarningName(Warning warning) {
  switch (warning) {
    case Warning::ScanBeforeClockSetup: return "scan before clock set-up";
    case Warning::WordsOutsideDebugMode: return "instruction words outside debug mode";
    case Warning::IllegalInstruction: return "illegal instruction";
    case Warning::UnmappedStore: return "unmapped store";
    case Warning::BadCommandEcho: return "bad-command echo";
    case Warning::UnknownEOnceRegister: return "unknown EOnCE register";
    case Warning::UnknownUsbRequest: return "unknown USB request";
  }
  return "?";
}

std::uint64_t Warnings::Total() const {
  std::uint64_t total = 0;
  for (std::uint64_t n : counts_) total += n;
  return total;
}

std::string Warnings::Summary() const {
  if (Total() == 0) return {};
  std::string details;
  for (std::size_t i = 0; i < kWarningKinds; ++i) {
    if (counts_[i] == 0) continue;
    if (!details.empty()) details += ", ";
    details += WarningName(static_cast<Warning>(i));
    details += ' ';
    details += std::to_string(counts_[i]);
  }
  return "protocol warnings: " + std::to_string(Total()) + " (" + details + ")";
}

}  // namespace qzsim
