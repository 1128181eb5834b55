// S-Record reader: reads, decodes and checks the lines of ChoosenFile.
//
// A parser and nothing more: it prints nothing and touches no adapter; the passes that use it
// say what went wrong. It keeps no file open: every line read reopens ChoosenFile and seeks to
// MoveSize. It accepts S0 (header), S3 (data) and S7 (end) records with a byte count of at
// most 41. Lines end in LF or CR LF; either way LineCarac ends in a plain newline, and MoveSize
// counts the bytes of the file. A folder reads as a file that cannot be opened.
#pragma once

#include <cstdint>
#include <span>
#include <string>

inline constexpr int MaxByteCount = 41;
inline constexpr int LineCaracSize = 88;  // 87 characters read at most, and the terminator
inline constexpr int SRecordWordCount = 19;

// Address bytes and checksum byte: the least byte count of a record of each type.
inline constexpr int S0FieldBytes = 3;
inline constexpr int S3FieldBytes = 5;

// The file the dialogue chose; the reader opens it for every line.
extern std::string ChoosenFile;

extern std::int32_t LineCount;
extern std::int32_t MoveSize;
extern char LineCarac[LineCaracSize];
extern char RecordType[2];
extern std::int32_t FullByteCountInt;
extern std::int32_t SRecordInt[MaxByteCount];
extern std::int32_t AddressS0[2];
extern std::int32_t AddressS3[4];
extern std::int32_t AddressS7[4];
extern std::int32_t SRecordDataSize;
extern std::int32_t SRecordData[SRecordWordCount];
extern std::int32_t CheckSum;
extern std::int32_t VarConvInt;

// Value of one hexadecimal digit, of either case. Any other character changes nothing and
// gives the last digit's value; the decoder rejects a line holding one before converting it.
int ConvASCIItoDec(int character);

// Sets LineCount to the number of lines of ChoosenFile; a line longer than 87 characters
// counts once for each piece that ReadSRecordline delivers of it. False when the file cannot
// be opened (LineCount 0).
bool CountSRecordline();

enum class LineRead { Read, EndOfFile, CannotOpen, CannotSeek };

// Reads the line at MoveSize into LineCarac and advances MoveSize. Anything but Read leaves
// LineCarac and MoveSize as they were.
LineRead ReadSRecordline();

enum class RecordStatus {
  Accepted,
  UnknownType,    // not S0, S3 or S7
  Malformed,      // a missing digit, or a byte count of 0 or too small for the address
  CountAbove41,   // longer than any record this programmer takes
};

// Decodes LineCarac into the record variables. Anything but Accepted leaves the record fields
// with the previous record's values; a malformed record or a count above 41 also leaves
// FullByteCountInt 0, so that its checksum test fails.
RecordStatus SRecordLineDecode();

// 1 when CheckSum is the low byte of the complement of the sum of the byte count and the
// record's bytes before its checksum byte.
int VerifyChecksum();

// 1 when the words of SRecordData after the first spell one of the three accepted header texts
// in the data bytes of the last record.
int HeaderTrad();

// Writing the records this reader takes, each line ending in a newline.
enum class HeaderForm { ProgramAndData, ProgramOnly, DataOnly };
std::string FormatHeader(HeaderForm form);
// An S3 record: a0 space, the word address in a1..a3, the words little-endian. At most
// (MaxByteCount - S3FieldBytes) / 2 words.
std::string FormatData(int space, std::int32_t address, std::span<const std::uint16_t> words);
std::string FormatEnd();
