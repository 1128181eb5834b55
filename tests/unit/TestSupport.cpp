#include "TestSupport.h"

#include <algorithm>
#include <cstdio>
#include <string>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include "FTDILib.h"
#include "FlashLib.h"

fake::Bytes Hex(std::string_view text) {
  fake::Bytes bytes;
  for (std::size_t i = 0; i + 1 < text.size(); i += text[i] == ' ' ? 1 : 2)
    if (text[i] != ' ') bytes.push_back(static_cast<std::uint8_t>(std::stoi(std::string(text.substr(i, 2)), nullptr, 16)));
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
  SetReadWait(ProgramReadWaitMs);
  FT_Open(0, &ftHandle);
  fake::adapter.calls.clear();
  numeroCible = 0;
  ErrorFlag = 0;
  CBEIF = CCIF = PVIOL = ACCERR = DIVLD = 0;
}

// An OPDBR access: the command scan 4B 02 81, 3B 06 cc, 6B 00 xx, 4B 01 01 (cc 04 or 44), then
// the data scan 4B 02 81, 3B 07 lo, 3B 06 hi, 6B 00 xx, 4B 01 01, bit 15 riding on the exit clock.
std::vector<std::uint16_t> InjectedWords(const fake::Bytes& b) {
  const fake::Bytes command = Hex("4B 02 81 3B 06"), data = Hex("4B 02 81 3B 07");
  std::vector<std::uint16_t> words;
  for (std::size_t i = 0; i + 27 <= b.size(); ++i) {
    if (!std::equal(command.begin(), command.end(), b.begin() + i) || (b[i + 5] != 0x04 && b[i + 5] != 0x44) ||
        !std::equal(data.begin(), data.end(), b.begin() + i + 12) || b[i + 18] != 0x3B || b[i + 19] != 0x06)
      continue;
    words.push_back(static_cast<std::uint16_t>(b[i + 17] | (b[i + 20] & 0x7F) << 8 | (b[i + 23] >> 7) << 15));
    i += 26;
  }
  return words;
}

namespace {
std::FILE* captured = nullptr;
int savedStdout = -1;
}  // namespace

void CaptureStdout() {
  std::fflush(stdout);
  captured = std::tmpfile();
  savedStdout = dup(fileno(stdout));
  dup2(fileno(captured), fileno(stdout));
}

std::string TakeStdout() {
  std::fflush(stdout);
  dup2(savedStdout, fileno(stdout));
  close(savedStdout);
  std::string text;
  std::rewind(captured);
  for (int c; (c = std::fgetc(captured)) != EOF;) {
#ifdef _WIN32
    if (c == '\r') continue;  // the console's text mode wrote every newline as CR LF
#endif
    text.push_back(static_cast<char>(c));
  }
  std::fclose(captured);
  return text;
}
