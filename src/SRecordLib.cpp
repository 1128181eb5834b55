#include "SRecordLib.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <span>
#include <string_view>
#include <system_error>

#include "AsmLib.h"
#include "FTDILib.h"
#include "QZFlashShared.h"

std::int32_t LineCount = 0;
std::int32_t MoveSize = 0;
char LineCarac[LineCaracSize] = "0";
char RecordType[2] = {'0', '\0'};
std::int32_t FullByteCountInt = 0;
std::int32_t SRecordInt[MaxByteCount] = {0x30};
std::int32_t AddressS0[2] = {0x30};
std::int32_t AddressS3[4] = {0x30};
std::int32_t AddressS7[4] = {0x30};
std::int32_t SRecordDataSize = 0;
std::int32_t SRecordData[SRecordWordCount] = {0x30};
std::int32_t CheckSum = 0;
std::int32_t VarConvInt = 0;
std::int32_t CheckSumMemory = 0;

// ---------------------------------------------------------------------------------------------
// Reading and decoding the lines of ChoosenFile

namespace {

constexpr int MaxLineChars = LineCaracSize - 1;

// Character positions in a line, from 0: "S", type digit, byte count pair, then the bytes.
constexpr std::size_t ByteCountPos = 2;
constexpr std::size_t FirstBytePos = 4;

// Address bytes plus the checksum byte: the least byte count of a record of the type.
constexpr int S0FieldBytes = 3;
constexpr int S3S7FieldBytes = 5;
constexpr int FirstS0DataByte = 2;
constexpr int FirstS3S7DataByte = 4;

// Header texts as the big-endian words of an S0 record, from word 1 on.
constexpr std::int32_t ProgramAndDataHeader[] = {0x5052, 0x4F47, 0x5241, 0x4D26, 0x4441, 0x5441};
constexpr std::int32_t ProgramOnlyHeader[] = {0x5052, 0x4F47, 0x5241, 0x004D};  // "PROGRA", 0, 'M'
constexpr std::int32_t DataOnlyHeader[] = {0x4441, 0x5441};

constexpr const char* WrongFormatMessage = " Wrong SRecord format or file";

int HexDigitValue(int character) {
  if (character >= '0' && character <= '9') return character - '0';
  if (character >= 'A' && character <= 'F') return character - 'A' + 10;
  if (character >= 'a' && character <= 'f') return character - 'a' + 10;
  return -1;
}

// The byte written at line[pos], or -1 when either digit is missing.
int BytePair(std::string_view line, std::size_t pos) {
  if (pos + 1 >= line.size() || HexDigitValue(line[pos]) < 0 || HexDigitValue(line[pos + 1]) < 0)
    return -1;
  const int high = ConvASCIItoDec(line[pos]);
  return high * 16 + ConvASCIItoDec(line[pos + 1]);
}

bool IsAcceptedType() {
  return RecordType[0] == 'S' &&
         (RecordType[1] == '0' || RecordType[1] == '3' || RecordType[1] == '7');
}

int MinByteCount() {
  if (!IsAcceptedType()) return 1;
  return RecordType[1] == '0' ? S0FieldBytes : S3S7FieldBytes;
}

bool Reject() {
  std::puts(WrongFormatMessage);
  return false;
}

// Pairs the bytes from firstByte up to the checksum into SRecordData. An odd number of data
// bytes leaves the checksum byte as the other half of the last word.
void AssembleWords(int firstByte, bool lowByteFirst) {
  const int words = (FullByteCountInt - firstByte) / 2;
  for (int k = 0; k < words; ++k) {
    const int first = SRecordInt[firstByte + 2 * k];
    const int second = SRecordInt[firstByte + 2 * k + 1];
    SRecordData[k] = lowByteFirst ? second * 256 + first : first * 256 + second;
  }
}

// Words 1 onwards of SRecordData against a header text. Word 0 holds the two bytes in front of
// the text. Only words made wholly of the last record's data bytes count, so neither the
// checksum half of an odd record nor words left by a longer earlier record complete a text.
bool HoldsHeader(std::span<const std::int32_t> text) {
  const std::size_t wholeWords = SRecordDataSize > 0 ? SRecordDataSize / 2 : 0;
  return wholeWords >= text.size() + 1 && std::equal(text.begin(), text.end(), SRecordData + 1);
}

bool OpenChoosenFile(std::ifstream& file) {
  // Opening a folder succeeds on some systems and then reads nothing.
  std::error_code error;
  if (!std::filesystem::is_directory(ChoosenFile, error))
    file.open(ChoosenFile, std::ios::binary);
  if (file.is_open()) return true;
  std::puts("\n Impossible to open the file");
  return false;
}

// Reads up to MaxLineChars characters into piece, stopping after a newline, and returns the
// bytes taken from the file (0 at its end). A CR right before the LF is part of the line end
// and is delivered as the newline alone, as the text mode of the files' home platform does.
int ReadLinePiece(std::istream& file, char (&piece)[LineCaracSize]) {
  constexpr auto endOfFile = std::istream::traits_type::eof();
  int stored = 0;
  int taken = 0;
  while (stored < MaxLineChars) {
    int character = file.get();
    if (character == endOfFile) break;
    ++taken;
    if (character == '\r' && file.peek() == '\n') {
      file.get();
      ++taken;
      character = '\n';
    }
    piece[stored++] = static_cast<char>(character);
    if (character == '\n') break;
  }
  piece[stored] = '\0';
  return taken;
}

}  // namespace

int ConvASCIItoDec(int character) {
  const int value = HexDigitValue(character);
  if (value >= 0) VarConvInt = value;
  return VarConvInt;
}

void CountSRecordline() {
  LineCount = 0;
  std::ifstream file;
  if (!OpenChoosenFile(file)) return;
  char piece[LineCaracSize] = {};
  while (ReadLinePiece(file, piece) > 0) ++LineCount;
}

bool ReadSRecordline() {
  std::ifstream file;
  if (!OpenChoosenFile(file)) return false;
  if (!file.seekg(MoveSize)) {
    std::puts("\n Impossible to read SRecord line ");
    return false;
  }
  char line[LineCaracSize] = {};
  const int taken = ReadLinePiece(file, line);
  if (taken == 0) return false;
  std::memcpy(LineCarac, line, sizeof line);
  MoveSize += taken;
  return true;
}

bool SRecordLineDecode() {
  FullByteCountInt = 0;
  RecordType[0] = LineCarac[0];
  RecordType[1] = LineCarac[0] == '\0' ? '\0' : LineCarac[1];

  // Characters after the terminator are left from longer earlier lines.
  const std::string_view line(LineCarac, std::find(LineCarac, std::end(LineCarac), '\0'));
  const int count = BytePair(line, ByteCountPos);
  if (count < 0) return Reject();
  if (count > MaxByteCount) {
    std::puts(" Format error in SRecord File ");
    ExitProgram();
  }
  if (count < MinByteCount()) return Reject();
  for (int i = 0; i < count; ++i) {
    const int byte = BytePair(line, FirstBytePos + 2 * i);
    if (byte < 0) return Reject();
    SRecordInt[i] = byte;
  }
  // Only a well-formed record has a byte count: a malformed one then fails the checksum test.
  FullByteCountInt = count;
  if (!IsAcceptedType()) return Reject();

  switch (RecordType[1]) {
    case '0':
      SRecordDataSize = count - S0FieldBytes;
      std::copy_n(SRecordInt, std::size(AddressS0), AddressS0);
      AssembleWords(FirstS0DataByte, false);
      break;
    case '3':
      SRecordDataSize = count - S3S7FieldBytes;
      std::copy_n(SRecordInt, std::size(AddressS3), AddressS3);
      AssembleWords(FirstS3S7DataByte, true);
      break;
    default:
      SRecordDataSize = count - S3S7FieldBytes;
      std::copy_n(SRecordInt, std::size(AddressS7), AddressS7);
      AssembleWords(FirstS3S7DataByte, false);
      break;
  }
  CheckSum = SRecordInt[count - 1];
  return true;
}

int VerifyChecksum() {
  if (FullByteCountInt < 1 || FullByteCountInt > MaxByteCount) return 0;
  int sum = FullByteCountInt;
  for (int i = 0; i < FullByteCountInt - 1; ++i) sum += SRecordInt[i];
  return (~sum & 0xFF) == CheckSum ? 1 : 0;
}

int HeaderTrad() {
  if (HoldsHeader(ProgramAndDataHeader) || HoldsHeader(ProgramOnlyHeader) ||
      HoldsHeader(DataOnlyHeader))
    return 1;
  std::puts(WrongFormatMessage);
  return 0;
}

// ---------------------------------------------------------------------------------------------
// Per-record work of the passes

namespace {

// What an S3 record's address selects.
enum class Region { ProgramFlash, BootFlash, DataFlash, Outside, Rejected };

constexpr int SpaceP = 0;  // address byte 0 of a P-memory record
constexpr int SpaceX = 2;  // address byte 0 of an X-memory record
constexpr int BootRegion = 2;

Region SelectRegion() {
  if (AddressS3[0] == SpaceX) return Region::DataFlash;
  if (AddressS3[0] != SpaceP) return Region::Rejected;
  if (AddressS3[1] < BootRegion) return Region::ProgramFlash;
  return AddressS3[1] == BootRegion ? Region::BootFlash : Region::Outside;
}

std::int32_t RecordAddress() { return AddressS3[1] * 65536 + AddressS3[2] * 256 + AddressS3[3]; }

int RecordWords() { return (FullByteCountInt - 5) / 2; }

void RejectRecord() {
  std::puts(" Wrong SRecord format or file");
  ErrorFlag = 1;
}

// Type digit of records the passes act on; any other was rejected.
bool DispatchCommon() {
  switch (RecordType[1]) {
    case '0':
      HeaderFlag = HeaderTrad();
      return false;
    case '7':
      return false;
    case '3':
      return true;
    default:
      RejectRecord();
      return false;
  }
}

// The previous flash command failed: this word is not written.
bool FlashFailed() {
  if (ACCERR == 0 && PVIOL == 0) return false;
  std::puts(" Writing error");
  ErrorFlag = 1;
  return true;
}

}  // namespace

void WriteSRecordData() {
  if (!DispatchCommon()) return;
  const Region region = SelectRegion();
  if (region == Region::Rejected) {
    RejectRecord();
    return;
  }
  // Nothing is written from a file whose header was not accepted.
  if (region == Region::Outside || FullByteCountInt <= 6 || HeaderFlag != 1) return;
  const std::int32_t address = RecordAddress();
  const int words = RecordWords();
  if (region == Region::ProgramFlash) {
    for (int k = 0; k < words; k += 2) {
      if (FlashFailed()) continue;
      // An odd last word goes alone: pairing it would program the word after the record.
      if (k + 1 < words)
        WriteProgramFlash(address + k, SRecordData[k], address + k + 1, SRecordData[k + 1]);
      else
        WriteBootFlash(address + k, SRecordData[k]);
    }
    return;
  }
  for (int k = 0; k < words; ++k) {
    if (FlashFailed()) continue;
    if (region == Region::BootFlash)
      WriteBootFlash(address + k, SRecordData[k]);
    else
      WriteDataFlash(address + k, SRecordData[k]);
  }
}

// The memory checksum covers the same bytes as the record's own: byte count, address, data.
void ReadSRecordData() {
  if (!DispatchCommon()) return;
  const Region region = SelectRegion();
  if (region == Region::Rejected) {
    RejectRecord();
    return;
  }
  std::int32_t sum = FullByteCountInt + AddressS3[0] + AddressS3[1] + AddressS3[2] + AddressS3[3];
  if (region == Region::Outside) {
    CheckSumMemory = sum;
    return;
  }
  // Records low in X memory (third address byte up to 0x0F) are taken as matching unread.
  if (region == Region::DataFlash && AddressS3[2] <= 0x0F) {
    CheckSumMemory = CheckSum;
    return;
  }
  if (FullByteCountInt > 6) {
    const std::int32_t address = RecordAddress();
    for (int k = 0; k < RecordWords(); ++k) {
      if (region == Region::DataFlash)
        ReadXFlash(address + k);
      else
        ReadPFlash(address + k);
      sum += (DataRead & 0xFF) + ((DataRead >> 8) & 0xFF);
    }
  }
  CheckSumMemory = ~sum & 0xFF;
}
