// Test helpers that speak to the virtual bench from first principles: JTAG walks written as
// TMS/TDI levels, one TCK per MPSSE command (0x6B, one clock, TDO read into bit 7), so that
// they share nothing with the engine's bit packing or with the program's encoders.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <vector>

#include "D2XX.h"

namespace simtest {

using Bytes = std::vector<std::uint8_t>;

// FT_Open(0), MPSSE mode, and the clock and pin set-up, with its reply drained.
FT_HANDLE OpenMpsse();
// One FT_Write of `out`, then everything queued (FT_GetQueueStatus, FT_Read).
Bytes Transfer(FT_HANDLE handle, const Bytes& out);

class JtagScript {
 public:
  // Five clocks with TMS high: Test-Logic-Reset from anywhere.
  JtagScript& Reset();
  // TMS levels, one clock each, with TDI held at `tdi`.
  JtagScript& Walk(std::initializer_list<int> tms, int tdi = 0);
  // A whole IR or DR scan from Run-Test/Idle (or Test-Logic-Reset for IR) back to
  // Run-Test/Idle; the value goes least significant bit first, the last bit on the clock that
  // leaves the Shift state. Returns the scan's number for Captured().
  int Ir(std::uint64_t value, unsigned width);
  int Dr(std::uint64_t value, unsigned width);

  // EOnCE accesses, the core TAP holding instruction 0x6.
  int EOnceRead(std::uint8_t command, unsigned width);
  JtagScript& EOnceWrite(std::uint8_t command, std::uint64_t value, unsigned width);
  // Feeds an instruction of one or three words through OPDBR: 0x04 for each word but the
  // last, 0x44 for the last.
  JtagScript& Inject(std::initializer_list<std::uint16_t> words);

  Bytes Mpsse() const;
  // What TDO gave during the shift clocks of scan `scan`, first bit lowest.
  std::uint64_t Captured(const Bytes& reply, int scan) const;

 private:
  struct Clock {
    bool tms;
    bool tdi;
  };
  struct Scan {
    std::size_t firstClock;
    unsigned width;
  };
  int Shift(std::initializer_list<int> entry, std::uint64_t value, unsigned width);

  std::vector<Clock> clocks_;
  std::vector<Scan> scans_;
};

// The core-TAP hand-over, debug request and EOnCE instruction, at clock level.
JtagScript DebugModeScript();

// Word sequences for a core in debug mode, with the instruction words written out.
// Returns the OTX1 read's scan.
int ReadWord(JtagScript& script, bool programMemory, std::uint32_t address);
void WriteWord(JtagScript& script, bool programMemory, std::uint32_t address, std::uint16_t value);

}  // namespace simtest
