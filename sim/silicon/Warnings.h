// Counters of what a host did that the silicon tolerates but a correct host never does.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace qzsim {

enum class Warning : std::uint8_t {
  ScanBeforeClockSetup,
  WordsOutsideDebugMode,
  IllegalInstruction,
  UnmappedStore,
  BadCommandEcho,
  UnknownEOnceRegister,
  UnknownUsbRequest,  // a control request the virtual USB chip stalls
};

inline constexpr std::size_t kWarningKinds = 7;

const char* WarningName(Warning warning);

class Warnings {
 public:
  void Count(Warning warning) { ++counts_[static_cast<std::size_t>(warning)]; }
  // The host's synchronisation probe, an unknown opcode as the first command in MPSSE mode, is
  // how a correct host checks the engine is in step: counted, but not a warning.
  void CountSyncEcho() { ++syncEchoes_; }
  std::uint64_t SyncEchoes() const { return syncEchoes_; }
  std::uint64_t Of(Warning warning) const { return counts_[static_cast<std::size_t>(warning)]; }
  std::uint64_t Total() const;

  // "protocol warnings: 2 (illegal instruction 1, unmapped store 1)", kinds in declaration
  // order, only those seen; empty when there were none.
  std::string Summary() const;

 private:
  std::array<std::uint64_t, kWarningKinds> counts_{};
  std::uint64_t syncEchoes_ = 0;
};

}  // namespace qzsim
