// S-Record reader and the per-record dispatch of the programming and verification passes.
//
// The reader keeps no file open: every line read reopens ChoosenFile and seeks to MoveSize.
// It accepts S0 (header), S3 (data) and S7 (end) records with a byte count of at most 41.
// Lines end in LF or CR LF; either way LineCarac ends in a plain newline, and MoveSize counts
// the bytes of the file. A folder, or a file that cannot be opened, reads as a file of no lines.
#pragma once

#include <cstdint>

inline constexpr int MaxByteCount = 41;
inline constexpr int LineCaracSize = 88;  // 87 characters read at most, and the terminator
inline constexpr int SRecordWordCount = 19;

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
extern std::int32_t CheckSumMemory;

// Value of one hexadecimal digit; any other character gives the last digit's value.
int ConvASCIItoDec(int character);

// Sets LineCount to the number of lines of ChoosenFile; a line longer than 87 characters
// counts once for each piece that ReadSRecordline delivers of it.
void CountSRecordline();

// Reads the line at MoveSize into LineCarac and advances MoveSize. False when nothing new was
// read: end of file, or the file could not be opened or positioned.
bool ReadSRecordline();

// Decodes LineCarac into the record variables. False when the record is rejected (a type other
// than S0, S3, S7, or a malformed record); the record fields then keep the previous record's
// values. A malformed record (a missing digit, a byte count of 0 or too small for the address
// and checksum) also leaves FullByteCountInt 0. A byte count above 41 ends the program.
bool SRecordLineDecode();

// 1 when CheckSum is the low byte of the complement of the sum of the byte count and the
// record's bytes before its checksum byte.
int VerifyChecksum();

// 1 when the words of SRecordData after the first spell one of the three accepted header texts
// in the data bytes of the last record; otherwise says so and returns 0.
int HeaderTrad();

// Per-record work of the programming pass (flash writers) and of the verification pass
// (memory checksum into CheckSumMemory).
void WriteSRecordData();
void ReadSRecordData();
