#include "TestSupport.h"

#include <cstdlib>

#include "FTDILib.h"
#include "PassLib.h"
#include "QZFlash.h"
#include "SRecordLib.h"

fake::Bytes Hex(std::string_view text) {
  fake::Bytes bytes;
  std::string digits;
  for (char c : text) {
    if (c == ' ') continue;
    digits += c;
    if (digits.size() == 2) {
      bytes.push_back(static_cast<std::uint8_t>(std::strtoul(digits.c_str(), nullptr, 16)));
      digits.clear();
    }
  }
  return bytes;
}

void ResetHost() {
  fake::Reset();
  ClearOutputBuffer();
  dwNumRepliesOwed = 0;
  dwNumBytesRead = 0;
  DataRead = 0;
  ftStatus = FT_OK;
  TakeLinkFailure();
  ReadWait = ProgramReadWaitMs;
  FT_Open(0, &ftHandle);
  fake::adapter.calls.clear();
  numeroOpe = 0;
  numeroFin = 0;
  numeroCible = 0;
  ErrorFlag = 0;
  HeaderFlag = 0;
  CBEIF = CCIF = PVIOL = ACCERR = DIVLD = 0;
}

namespace {

// Value of the bits a data command (3B n-1 data) and the exit clock (6B 00 xx) shift out.
bool MatchDataScan(const fake::Bytes& b, std::size_t i, int bits, std::uint32_t& value, std::size_t& next) {
  // 4B 02 81: to Shift-DR.
  if (i + 3 > b.size() || b[i] != 0x4B || b[i + 1] != 0x02 || b[i + 2] != 0x81) return false;
  i += 3;
  value = 0;
  int shifted = 0;
  while (i + 3 <= b.size() && b[i] == 0x3B) {
    const int count = b[i + 1] + 1;
    value |= (b[i + 2] & ((1u << count) - 1)) << shifted;
    shifted += count;
    i += 3;
  }
  if (i + 3 > b.size() || b[i] != 0x6B || b[i + 1] != 0x00) return false;
  value |= static_cast<std::uint32_t>((b[i + 2] >> 7) & 1) << shifted;
  ++shifted;
  i += 3;
  if (shifted != bits || i + 3 > b.size() || b[i] != 0x4B || b[i + 1] != 0x01 || b[i + 2] != 0x01)
    return false;
  next = i + 3;
  return true;
}

}  // namespace

std::vector<std::uint16_t> InjectedWords(const fake::Bytes& bytes) {
  std::vector<std::uint16_t> words;
  std::size_t i = 0;
  while (i < bytes.size()) {
    std::uint32_t command = 0;
    std::uint32_t word = 0;
    std::size_t afterCommand = 0;
    std::size_t afterWord = 0;
    if (MatchDataScan(bytes, i, 8, command, afterCommand) && (command == 0x04 || command == 0x44) &&
        MatchDataScan(bytes, afterCommand, 16, word, afterWord)) {
      words.push_back(static_cast<std::uint16_t>(word));
      i = afterWord;
    } else {
      ++i;
    }
  }
  return words;
}

fake::Bytes AllWritten() {
  fake::Bytes all;
  for (const fake::Bytes& write : fake::Writes()) all.insert(all.end(), write.begin(), write.end());
  return all;
}
