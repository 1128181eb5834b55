#include "JtagScript.h"

#include <gtest/gtest.h>

namespace simtest {

namespace {

// Clock and pin set-up: TCK at 1 MHz, TMS high, reset line released.
const Bytes kSetup = {0x8A, 0x97, 0x8D, 0x80, 0x18, 0x1B, 0x82, 0x00, 0x00, 0x86, 0x1D, 0x00, 0x85};

}  // namespace

FT_HANDLE OpenMpsse() {
  FT_HANDLE handle = nullptr;
  EXPECT_EQ(FT_Open(0, &handle), FT_OK);
  EXPECT_EQ(FT_SetBitMode(handle, 0x00, 0x02), FT_OK);
  EXPECT_TRUE(Transfer(handle, kSetup).empty());
  return handle;
}

Bytes Transfer(FT_HANDLE handle, const Bytes& out) {
  Bytes copy = out;
  DWORD written = 0;
  EXPECT_EQ(FT_Write(handle, copy.data(), static_cast<DWORD>(copy.size()), &written), FT_OK);
  EXPECT_EQ(written, copy.size());
  DWORD queued = 0;
  EXPECT_EQ(FT_GetQueueStatus(handle, &queued), FT_OK);
  Bytes in(queued);
  DWORD read = 0;
  EXPECT_EQ(FT_Read(handle, in.data(), queued, &read), FT_OK);
  in.resize(read);
  return in;
}

JtagScript& JtagScript::Reset() { return Walk({1, 1, 1, 1, 1}, 1); }

JtagScript& JtagScript::Walk(std::initializer_list<int> tms, int tdi) {
  for (int level : tms) clocks_.push_back({level != 0, tdi != 0});
  return *this;
}

int JtagScript::Shift(std::initializer_list<int> entry, std::uint64_t value, unsigned width) {
  Walk(entry);
  scans_.push_back({clocks_.size(), width});
  for (unsigned bit = 0; bit < width; ++bit) {
    clocks_.push_back({bit + 1 == width, ((value >> bit) & 1) != 0});
  }
  Walk({1, 0});  // Update, Run-Test/Idle
  return static_cast<int>(scans_.size()) - 1;
}

int JtagScript::Ir(std::uint64_t value, unsigned width) {
  return Shift({0, 1, 1, 0, 0}, value, width);
}

int JtagScript::Dr(std::uint64_t value, unsigned width) { return Shift({1, 0, 0}, value, width); }

int JtagScript::EOnceRead(std::uint8_t command, unsigned width) {
  Dr(command, 8);
  return Dr(0, width);
}

JtagScript& JtagScript::EOnceWrite(std::uint8_t command, std::uint64_t value, unsigned width) {
  Dr(command, 8);
  Dr(value, width);
  return *this;
}

JtagScript& JtagScript::Inject(std::initializer_list<std::uint16_t> words) {
  std::size_t left = words.size();
  for (std::uint16_t word : words) EOnceWrite(--left == 0 ? 0x44 : 0x04, word, 16);
  return *this;
}

Bytes JtagScript::Mpsse() const {
  Bytes bytes;
  for (const Clock& clock : clocks_) {
    bytes.push_back(0x6B);
    bytes.push_back(0x00);
    bytes.push_back(static_cast<std::uint8_t>((clock.tdi ? 0x80 : 0) | (clock.tms ? 1 : 0)));
  }
  return bytes;
}

std::uint64_t JtagScript::Captured(const Bytes& reply, int scan) const {
  const Scan& s = scans_.at(static_cast<std::size_t>(scan));
  std::uint64_t value = 0;
  for (unsigned bit = 0; bit < s.width; ++bit) {
    if (reply.at(s.firstClock + bit) & 0x80) value |= 1ull << bit;
  }
  return value;
}

JtagScript DebugModeScript() {
  JtagScript script;
  script.Reset();
  script.Ir(0x05, 8);  // link register
  script.Dr(0x2, 4);   // core TAP into the chain
  script.Ir(0x7, 4);   // debug request
  script.Ir(0x6, 4);   // EOnCE
  return script;
}

int ReadWord(JtagScript& script, bool programMemory, std::uint32_t address) {
  script.Inject(
      {0xE41C, static_cast<std::uint16_t>(address), static_cast<std::uint16_t>(address >> 16)});
  script.Inject({0x81A0});
  script.Inject({static_cast<std::uint16_t>(programMemory ? 0x8068 : 0xF080)});
  script.Inject({0xE77F, 0xD07C, 0xFFFF});
  return script.EOnceRead(0x89, 16);
}

void WriteWord(JtagScript& script, bool programMemory, std::uint32_t address, std::uint16_t value) {
  script.Inject(
      {0xE41C, static_cast<std::uint16_t>(address), static_cast<std::uint16_t>(address >> 16)});
  script.Inject({0x81A0});
  script.Inject({0xE41C, value, 0x0000});
  script.Inject({0x808C});
  script.Inject({static_cast<std::uint16_t>(programMemory ? 0x8360 : 0xD000)});
}

}  // namespace simtest
