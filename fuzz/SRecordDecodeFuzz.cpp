// libFuzzer target for the S-Record reader: each input, up to 200 bytes, is written as the
// chosen file and walked line by line as a pass does (count the lines, then read, decode,
// test the checksum and the header until the reader reports the end). Besides the sanitizers'
// checks, the reader's own promises are checked and a broken one aborts.
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "SRecordLib.h"

namespace {

constexpr std::size_t MaxInput = 200;

void Require(bool promise) {
  if (!promise) std::abort();
}

// The reader's state as the program starts. Every input starts from it, so that a failing
// input fails again on its own.
struct ReaderState {
  char lineCarac[LineCaracSize];
  char recordType[2];
  std::int32_t fullByteCount;
  std::int32_t bytes[MaxByteCount];
  std::int32_t s0[2];
  std::int32_t s3[4];
  std::int32_t s7[4];
  std::int32_t dataSize;
  std::int32_t words[SRecordWordCount];
  std::int32_t checkSum;
  std::int32_t lastDigit;
};

ReaderState initialState;

void SaveState(ReaderState& state) {
  std::copy(std::begin(LineCarac), std::end(LineCarac), state.lineCarac);
  std::copy(std::begin(RecordType), std::end(RecordType), state.recordType);
  state.fullByteCount = FullByteCountInt;
  std::copy(std::begin(SRecordInt), std::end(SRecordInt), state.bytes);
  std::copy(std::begin(AddressS0), std::end(AddressS0), state.s0);
  std::copy(std::begin(AddressS3), std::end(AddressS3), state.s3);
  std::copy(std::begin(AddressS7), std::end(AddressS7), state.s7);
  state.dataSize = SRecordDataSize;
  std::copy(std::begin(SRecordData), std::end(SRecordData), state.words);
  state.checkSum = CheckSum;
  state.lastDigit = VarConvInt;
}

void RestoreState(const ReaderState& state) {
  std::copy(std::begin(state.lineCarac), std::end(state.lineCarac), LineCarac);
  std::copy(std::begin(state.recordType), std::end(state.recordType), RecordType);
  FullByteCountInt = state.fullByteCount;
  std::copy(std::begin(state.bytes), std::end(state.bytes), SRecordInt);
  std::copy(std::begin(state.s0), std::end(state.s0), AddressS0);
  std::copy(std::begin(state.s3), std::end(state.s3), AddressS3);
  std::copy(std::begin(state.s7), std::end(state.s7), AddressS7);
  SRecordDataSize = state.dataSize;
  std::copy(std::begin(state.words), std::end(state.words), SRecordData);
  CheckSum = state.checkSum;
  VarConvInt = state.lastDigit;
}

void RemoveChosenFile() { std::filesystem::remove(ChoosenFile); }

// One line through the decoder and both tests.
void DecodeLine() {
  const bool accepted = SRecordLineDecode() == RecordStatus::Accepted;
  Require(FullByteCountInt >= 0 && FullByteCountInt <= MaxByteCount);
  if (accepted) {
    Require(FullByteCountInt > 0);
    Require(SRecordDataSize >= 0 && SRecordDataSize <= MaxByteCount - 3);
    Require(CheckSum >= 0 && CheckSum <= 0xFF);
  }
  Require(VarConvInt >= 0 && VarConvInt <= 15);
  const int checksumRight = VerifyChecksum();
  Require(checksumRight == 0 || checksumRight == 1);
  const int headerAccepted = HeaderTrad();
  Require(headerAccepted == 0 || (headerAccepted == 1 && SRecordDataSize >= 6));
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  std::string path = (std::filesystem::temp_directory_path() / "srecord-fuzz-XXXXXX").string();
  const int descriptor = mkstemp(path.data());
  if (descriptor < 0) std::abort();
  close(descriptor);
  ChoosenFile = path;
  std::atexit(RemoveChosenFile);
  SaveState(initialState);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > MaxInput) return 0;
  std::ofstream(ChoosenFile, std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  RestoreState(initialState);

  MoveSize = 0;
  Require(CountSRecordline());
  std::int32_t lines = 0;
  while (ReadSRecordline() == LineRead::Read) {
    ++lines;
    const char* end = std::find(std::begin(LineCarac), std::end(LineCarac), '\0');
    Require(end != std::end(LineCarac));
    DecodeLine();
  }
  Require(lines == LineCount);
  Require(MoveSize == static_cast<std::int32_t>(size));
  return 0;
}
