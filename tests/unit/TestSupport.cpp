#include "TestSupport.h"

#include <cstdlib>
#include <string>

#include "FTDILib.h"
#include "FlashLib.h"

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
  numeroCible = 0;
  ErrorFlag = 0;
  CBEIF = CCIF = PVIOL = ACCERR = DIVLD = 0;
}

fake::Bytes Built() { return fake::Bytes(byOutputBuffer, byOutputBuffer + dwNumBytesToSend); }

namespace {

// A data scan of `bits` bits from i: 4B 02 81, 3B commands, the exit clock 6B 00 xx with the
// last bit in bit 7, 4B 01 01.
bool DataScan(const fake::Bytes& b, std::size_t i, int bits, std::uint32_t& value, std::size_t& next) {
  // The bytes from k are these; -1 takes any byte.
  const auto at = [&b](std::size_t k, std::initializer_list<int> bytes) {
    if (k + bytes.size() > b.size()) return false;
    for (int byte : bytes) {
      if (byte >= 0 && b[k] != byte) return false;
      ++k;
    }
    return true;
  };
  if (!at(i, {0x4B, 0x02, 0x81})) return false;
  int shifted = 0;
  value = 0;
  for (i += 3; i + 3 <= b.size() && b[i] == 0x3B; i += 3) {
    value |= (b[i + 2] & ((1u << (b[i + 1] + 1)) - 1)) << shifted;
    shifted += b[i + 1] + 1;
  }
  if (!at(i, {0x6B, 0x00, -1})) return false;
  value |= static_cast<std::uint32_t>(b[i + 2] >> 7) << shifted++;
  next = i + 6;
  return shifted == bits && at(i + 3, {0x4B, 0x01, 0x01});
}

}  // namespace

std::vector<std::uint16_t> InjectedWords(const fake::Bytes& bytes) {
  std::vector<std::uint16_t> words;
  for (std::size_t i = 0; i < bytes.size();) {
    std::uint32_t command = 0, word = 0;
    std::size_t afterCommand = 0, afterWord = 0;
    if (DataScan(bytes, i, 8, command, afterCommand) && (command == 0x04 || command == 0x44) &&
        DataScan(bytes, afterCommand, 16, word, afterWord)) {
      words.push_back(static_cast<std::uint16_t>(word));
      i = afterWord;
    } else {
      ++i;
    }
  }
  return words;
}
