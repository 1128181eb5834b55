#include "SRecordLib.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <span>
#include <string_view>
#include <system_error>
#include <vector>

std::string ChoosenFile;
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

namespace {

constexpr int MaxLineChars = LineCaracSize - 1;

// Character positions in a line, from 0: "S", type digit, byte count pair, then the bytes.
constexpr std::size_t ByteCountPos = 2;
constexpr std::size_t FirstBytePos = 4;

constexpr int FirstS0DataByte = 2;
constexpr int FirstS3S7DataByte = 4;

// Header texts as the big-endian words of an S0 record, from word 1 on.
constexpr std::int32_t ProgramAndDataHeader[] = {0x5052, 0x4F47, 0x5241, 0x4D26, 0x4441, 0x5441};
// "PROGRA", a zero byte, "M": program-only images carry the text so, and only so. "PROGRAM" and
// any byte other than '&' is none of the three forms, so such a header is refused.
constexpr std::int32_t ProgramOnlyHeader[] = {0x5052, 0x4F47, 0x5241, 0x004D};
constexpr std::int32_t DataOnlyHeader[] = {0x4441, 0x5441};

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
  return RecordType[1] == '0' ? S0FieldBytes : S3FieldBytes;
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
  return file.is_open();
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

bool CountSRecordline() {
  LineCount = 0;
  std::ifstream file;
  if (!OpenChoosenFile(file)) return false;
  char piece[LineCaracSize] = {};
  while (ReadLinePiece(file, piece) > 0) ++LineCount;
  return true;
}

LineRead ReadSRecordline() {
  std::ifstream file;
  if (!OpenChoosenFile(file)) return LineRead::CannotOpen;
  if (!file.seekg(MoveSize)) return LineRead::CannotSeek;
  char line[LineCaracSize] = {};
  const int taken = ReadLinePiece(file, line);
  if (taken == 0) return LineRead::EndOfFile;
  std::memcpy(LineCarac, line, sizeof line);
  MoveSize += taken;
  return LineRead::Read;
}

RecordStatus SRecordLineDecode() {
  FullByteCountInt = 0;
  RecordType[0] = LineCarac[0];
  RecordType[1] = LineCarac[0] == '\0' ? '\0' : LineCarac[1];

  // Characters after the terminator are left from longer earlier lines.
  const std::string_view line(LineCarac, std::find(LineCarac, std::end(LineCarac), '\0'));
  const int count = BytePair(line, ByteCountPos);
  if (count < 0) return RecordStatus::Malformed;
  if (count > MaxByteCount) return RecordStatus::CountAbove41;
  if (count < MinByteCount()) return RecordStatus::Malformed;
  for (int i = 0; i < count; ++i) {
    const int byte = BytePair(line, FirstBytePos + 2 * i);
    if (byte < 0) return RecordStatus::Malformed;
    SRecordInt[i] = byte;
  }
  // Only a well-formed record has a byte count: a malformed one then fails the checksum test.
  FullByteCountInt = count;
  if (!IsAcceptedType()) return RecordStatus::UnknownType;

  switch (RecordType[1]) {
    case '0':
      SRecordDataSize = count - S0FieldBytes;
      std::copy_n(SRecordInt, std::size(AddressS0), AddressS0);
      AssembleWords(FirstS0DataByte, false);
      break;
    case '3':
      SRecordDataSize = count - S3FieldBytes;
      std::copy_n(SRecordInt, std::size(AddressS3), AddressS3);
      AssembleWords(FirstS3S7DataByte, true);
      break;
    default:
      SRecordDataSize = count - S3FieldBytes;
      std::copy_n(SRecordInt, std::size(AddressS7), AddressS7);
      AssembleWords(FirstS3S7DataByte, false);
      break;
  }
  CheckSum = SRecordInt[count - 1];
  return RecordStatus::Accepted;
}

int VerifyChecksum() {
  if (FullByteCountInt < 1 || FullByteCountInt > MaxByteCount) return 0;
  int sum = FullByteCountInt;
  for (int i = 0; i < FullByteCountInt - 1; ++i) sum += SRecordInt[i];
  return (~sum & 0xFF) == CheckSum ? 1 : 0;
}

int HeaderTrad() {
  return HoldsHeader(ProgramAndDataHeader) || HoldsHeader(ProgramOnlyHeader) ||
                 HoldsHeader(DataOnlyHeader)
             ? 1
             : 0;
}

namespace {

// Type digit, byte count, bytes and the checksum as upper-case hex pairs.
std::string FormatRecord(char type, std::span<const std::uint8_t> bytes) {
  static constexpr char Digits[] = "0123456789ABCDEF";
  std::string line{'S', type};
  const auto put = [&line](unsigned byte) {
    line += Digits[(byte >> 4) & 0xF];
    line += Digits[byte & 0xF];
  };
  const unsigned count = static_cast<unsigned>(bytes.size()) + 1;
  unsigned sum = count;
  put(count);
  for (std::uint8_t byte : bytes) {
    put(byte);
    sum += byte;
  }
  put(~sum & 0xFF);
  return line + '\n';
}

}  // namespace

std::string FormatHeader(HeaderForm form) {
  std::vector<std::uint8_t> bytes{0, 0, 0, 0};
  using Text = std::span<const std::int32_t>;
  const Text text = form == HeaderForm::ProgramAndData ? Text(ProgramAndDataHeader)
                    : form == HeaderForm::ProgramOnly  ? Text(ProgramOnlyHeader)
                                                       : Text(DataOnlyHeader);
  for (std::int32_t word : text) {
    bytes.push_back(static_cast<std::uint8_t>(word >> 8));
    bytes.push_back(static_cast<std::uint8_t>(word));
  }
  return FormatRecord('0', bytes);
}

std::string FormatData(int space, std::int32_t address, std::span<const std::uint16_t> words) {
  std::vector<std::uint8_t> bytes{static_cast<std::uint8_t>(space), static_cast<std::uint8_t>(address >> 16),
                                  static_cast<std::uint8_t>(address >> 8), static_cast<std::uint8_t>(address)};
  for (std::uint16_t word : words) {
    bytes.push_back(static_cast<std::uint8_t>(word));
    bytes.push_back(static_cast<std::uint8_t>(word >> 8));
  }
  return FormatRecord('3', bytes);
}

std::string FormatEnd() { return FormatRecord('7', std::vector<std::uint8_t>(4, 0)); }
