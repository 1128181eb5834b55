// Test helpers that speak to the virtual bench from first principles: JTAG walks written as
// TMS/TDI levels, one TCK per MPSSE command (0x6B, one clock, TDO read into bit 7), so that
// they share nothing with the engine's bit packing or with the program's encoders.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <vector>

#include "Bench.h"
#include "D2XX.h"

namespace simtest {

using Bytes = std::vector<std::uint8_t>;
using Values = std::vector<std::uint64_t>;

// One FT_Write of `out`, then everything queued (FT_GetQueueStatus, FT_Read).
inline Bytes Transfer(FT_HANDLE handle, Bytes out) {
  DWORD count = 0;
  EXPECT_EQ(FT_Write(handle, out.data(), static_cast<DWORD>(out.size()), &count), FT_OK);
  EXPECT_EQ(count, out.size());
  EXPECT_EQ(FT_GetQueueStatus(handle, &count), FT_OK);
  Bytes in(count);
  EXPECT_EQ(FT_Read(handle, in.data(), count, &count), FT_OK);
  in.resize(count);
  return in;
}

// FT_Open(0), MPSSE mode, TCK at 1 MHz, TMS high, reset line released; nothing answers.
inline FT_HANDLE OpenMpsse() {
  FT_HANDLE handle = nullptr;
  EXPECT_EQ(FT_Open(0, &handle), FT_OK);
  EXPECT_EQ(FT_SetBitMode(handle, 0x00, 0x02), FT_OK);
  EXPECT_EQ(Transfer(handle, {0x8A, 0x97, 0x8D, 0x80, 0x18, 0x1B, 0x82, 0x00, 0x00, 0x86, 0x1D,
                              0x00, 0x85}),
            Bytes{});
  return handle;
}

class JtagScript {
 public:
  // Five clocks with TMS high: Test-Logic-Reset from anywhere.
  JtagScript& Reset() { return Walk({1, 1, 1, 1, 1}); }
  // TMS levels, one clock each, TDI low.
  JtagScript& Walk(std::initializer_list<int> tms) {
    for (int level : tms) clocks_.push_back({level != 0, false});
    return *this;
  }
  // A whole scan from Run-Test/Idle (or Test-Logic-Reset for IR) back to Run-Test/Idle, least
  // significant bit first, the last on the clock that leaves Shift. With `read`, what TDO
  // gives meanwhile is one of Reads().
  JtagScript& Ir(std::uint64_t value, unsigned width, bool read = false) {
    return Shift({0, 1, 1, 0, 0}, value, width, read);
  }
  JtagScript& Dr(std::uint64_t value, unsigned width, bool read = false) {
    return Shift({1, 0, 0}, value, width, read);
  }
  // The chip-level TAP's link register hands the chain to the core TAP; then its IR.
  JtagScript& LinkCoreTap(std::uint8_t instruction) {
    return Ir(0x05, 8).Dr(0x2, 4).Ir(instruction, 4);
  }
  // EOnCE accesses, the core TAP holding instruction 0x6: a command scan, then the data scan.
  JtagScript& EOnceRead(std::uint8_t command, unsigned width) {
    return Dr(command, 8).Dr(0, width, true);
  }
  JtagScript& EOnceWrite(std::uint8_t command, std::uint64_t value, unsigned width) {
    return Dr(command, 8).Dr(value, width);
  }
  // One instruction through OPDBR: 0x04 (collect) for each word but the last, 0x44 (execute).
  JtagScript& Inject(std::initializer_list<std::uint16_t> words) {
    std::size_t left = words.size();
    for (std::uint16_t word : words) EOnceWrite(--left == 0 ? 0x44 : 0x04, word, 16);
    return *this;
  }
  // Word sequences for a core in debug mode, the instruction words written out.
  JtagScript& ReadWord(bool programMemory, std::uint32_t address) {
    LoadAddress(address).Inject({static_cast<std::uint16_t>(programMemory ? 0x8068 : 0xF080)});
    return Inject({0xE77F, 0xD07C, 0xFFFF}).EOnceRead(0x89, 16);  // OTX1
  }
  JtagScript& WriteWord(bool programMemory, std::uint32_t address, std::uint16_t value) {
    LoadAddress(address).Inject({0xE41C, value, 0x0000}).Inject({0x808C});
    return Inject({static_cast<std::uint16_t>(programMemory ? 0x8360 : 0xD000)});
  }

  Bytes Mpsse() const {
    Bytes bytes;
    for (const auto& [tms, tdi] : clocks_) {
      bytes.insert(bytes.end(), {0x6B, 0x00, static_cast<std::uint8_t>(tdi << 7 | tms)});
    }
    return bytes;
  }
  // What TDO gave during the read scans, first bit lowest.
  Values Reads(const Bytes& reply) const {
    Values values;
    for (const auto& [first, width] : reads_) {
      std::uint64_t value = 0;
      for (unsigned bit = 0; bit < width; ++bit) {
        if (reply.at(first + bit) & 0x80) value |= 1ull << bit;
      }
      values.push_back(value);
    }
    return values;
  }

 private:
  JtagScript& Shift(std::initializer_list<int> entry, std::uint64_t value, unsigned width,
                    bool read) {
    Walk(entry);
    if (read) reads_.emplace_back(clocks_.size(), width);
    for (unsigned bit = 0; bit < width; ++bit) {
      clocks_.push_back({bit + 1 == width, ((value >> bit) & 1) != 0});
    }
    return Walk({1, 0});  // Update, Run-Test/Idle
  }
  JtagScript& LoadAddress(std::uint32_t address) {
    Inject(
        {0xE41C, static_cast<std::uint16_t>(address), static_cast<std::uint16_t>(address >> 16)});
    return Inject({0x81A0});
  }

  std::vector<std::pair<bool, bool>> clocks_;            // TMS, TDI
  std::vector<std::pair<std::size_t, unsigned>> reads_;  // first clock, width
};

// Test-Logic-Reset, the core TAP into the chain, debug request, EOnCE.
inline JtagScript DebugModeScript() { return JtagScript().Reset().LinkCoreTap(0x7).Ir(0x6, 4); }

// A fresh bench with the adapter open in MPSSE mode.
class BenchTest : public ::testing::Test {
 protected:
  void SetUp() override { Configure({}); }
  void Configure(const qzsim::BenchConfig& config) {
    qzsim::ConfigureBench(config);
    handle = OpenMpsse();
  }
  Bytes Send(const Bytes& out) { return Transfer(handle, out); }
  Values Reads(const JtagScript& script) { return script.Reads(Send(script.Mpsse())); }
  static qzsim::Target& Chip() { return qzsim::CurrentBench().Controller(); }
  static qzsim::Warnings& Warnings() { return qzsim::CurrentBench().ProtocolWarnings(); }

  FT_HANDLE handle = nullptr;
};

}  // namespace simtest
