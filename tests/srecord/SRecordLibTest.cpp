// The S-Record reader: decoding, checksum and header tests on literal lines, and line reading
// from files written into a fresh folder per test.
#include "SRecordLib.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using Ints = std::vector<std::int32_t>;

// Byte count 41 (0x29), address 00002000, 36 data bytes 00 07 0E ... F5: 86 characters.
const std::string Line41 =
    "S3290000200000070E151C232A31383F464D545B626970777E858C939AA1A8AFB6BDC4CBD2D9E0E7EEF57C";

// Decodes line and its newline.
RecordStatus Decode(const std::string& line) {
  std::snprintf(LineCarac, sizeof LineCarac, "%s\n", line.c_str());
  return SRecordLineDecode();
}

bool Accepted(const std::string& line) { return Decode(line) == RecordStatus::Accepted; }

// Each line follows the record S30900001000AB12CD3428; a record without data keeps its words.
TEST(SRecordDecode, AcceptedRecordsFillTheirFields) {
  struct Case {
    const char* line;
    int count, dataSize;
    Ints address, words;  // the address field of the record's type
  };
  const Ints before{0x12AB, 0x34CD};
  const Case cases[] = {
      {"S30900001000AB12CD3428", 9, 4, {0x00, 0x00, 0x10, 0x00}, {0x12AB, 0x34CD}},  // little-endian words
      {"S30a00001000AABBCCDDeee9", 10, 5, {0x00, 0x00, 0x10, 0x00}, {0xBBAA, 0xDDCC, 0xE9EE}},  // lower case
      // An odd data byte takes the checksum byte as its high half.
      {"S30800001000AABBCCB6", 8, 3, {0x00, 0x00, 0x10, 0x00}, {0xBBAA, 0xB6CC}},
      {"S00800DD000044415441", 8, 5, {0x00, 0xDD}, {0x0000, 0x4441, 0x5441}},  // big-endian words
      {"S70800000010ABCDEF80", 8, 3, {0x00, 0x00, 0x00, 0x10}, {0xABCD, 0xEF80}},
      {"S30500001000EA", 5, 0, {0x00, 0x00, 0x10, 0x00}, before},
      {"S70500000000FA", 5, 0, {0x00, 0x00, 0x00, 0x00}, before},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    Decode("S30900001000AB12CD3428");
    EXPECT_TRUE(Accepted(c.line));
    EXPECT_EQ(std::string(RecordType, 2), std::string(c.line, 2));
    EXPECT_EQ(FullByteCountInt, c.count);
    EXPECT_EQ(SRecordDataSize, c.dataSize);
    const std::int32_t* address = c.line[1] == '0' ? AddressS0 : c.line[1] == '3' ? AddressS3 : AddressS7;
    EXPECT_EQ(Ints(address, address + c.address.size()), c.address);
    EXPECT_EQ(Ints(SRecordData, SRecordData + c.words.size()), c.words);
    EXPECT_EQ(CheckSum, std::stoi(std::string(c.line).substr(std::string(c.line).size() - 2), nullptr, 16));
    EXPECT_EQ(VerifyChecksum(), 1);
  }
  // The checksum covers the byte count, the address and the data.
  for (const char* line : {"S30900001000AB12CD3429", "S30900001000AB12CD3528", "S30900001001AB12CD3428",
                           "S30A00001000AB12CD342800"})
    EXPECT_TRUE(Accepted(line) && VerifyChecksum() == 0) << line;
}

// count 0: a malformed record, or one longer than any this programmer takes, which leave no
// byte count; otherwise a well-formed record of a type other than S0, S3, S7. The count is
// checked before the bytes and the type.
TEST(SRecordDecode, RejectedRecordsLeaveNoByteCountOrTheirOwn) {
  struct Case {
    const std::string line;
    int count;
    RecordStatus status = RecordStatus::UnknownType;
  };
  const RecordStatus malformed = RecordStatus::Malformed, above41 = RecordStatus::CountAbove41;
  const Case cases[] = {
      {"S1071000AB12CD342A", 7}, {"S206001000AB122C", 6}, {"S5030003F9", 3}, {"S804001000EB", 4},
      {"S9030000FC", 3}, {"X30900001000AB12CD3428", 9}, {"s30900001000AB12CD3428", 9},
      {"S30900001000AB12CD34G8", 0, malformed},  // not a digit where the checksum is
      {"S30900001000A 12CD3428", 0, malformed},  // a blank inside a byte
      {"S30900001000AB12CD3", 0, malformed},     // line ends inside the checksum
      {"S3G900001000AB12CD3428", 0, malformed},  // byte count not a number
      {"S300", 0, malformed}, {"S100", 0, malformed},  // byte count 0, of an accepted and of a rejected type
      {"S30400001000", 0, malformed}, {"S7040000FB", 0, malformed}, {"S0020000", 0, malformed},  // no checksum
      {"", 0, malformed},
      {"S32A" + Line41.substr(4), 0, above41}, {"S3FF", 0, above41}, {"S92A0000", 0, above41},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    // Its checksum FF is what a byte count of 0 with no bytes would sum to.
    ASSERT_TRUE(Accepted("S705000000FBFF"));
    EXPECT_EQ(Decode(c.line), c.status);
    EXPECT_EQ(FullByteCountInt, c.count);
    EXPECT_EQ(VerifyChecksum(), 0);
    EXPECT_TRUE(c.count == 0 || std::string(RecordType, 2) == c.line.substr(0, 2)) << "type " << RecordType[1];
  }
  // A rejected type's bytes are tested against the checksum byte of the record before (0x28).
  Decode("S30900001000AB12CD3428");
  EXPECT_EQ(Decode("S1071000AB12CD3600"), RecordStatus::UnknownType);
  EXPECT_EQ(VerifyChecksum(), 1);
}

// Only words wholly made of the last record's data bytes, after the two lead bytes, count.
TEST(SRecordHeader, TheThreeTextsAreAcceptedAndNearMissesRejected) {
  struct Case {
    const char* before;  // a record decoded first, or none
    const char* line;
    bool accepted;
  };
  const Case cases[] = {
      {"", "S0110000000050524F4752414D264441544196", true},      // PROGRAM&DATA
      {"", "S00D0000000050524F475241004DDA", true},              // PROGRA, 0, M
      {"", "S0090000000044415441DC", true},                      // DATA
      {"", "S009000041424441544159", true},                      // AB in front of DATA
      {"", "S00C0000000050524F4752414DDB", false},               // PROGRAM without the zero byte
      {"", "S00D0000000050524F4752414D00DA", false},             // PROGRAM and the zero byte after it
      {"", "S0110000000050524F4752414D584441544164", false},     // PROGRAM, a byte other than '&', DATA
      {"", "S00B00000000000044415441DA", false},                 // DATA two bytes late
      {"", "S0080000AB4441544132", false},                       // DATA one byte early
      {"", "S00800DD000044415441", false},  // DAT, and the checksum byte 41 ('A') as the high half
      // The rest of an earlier text is still in SRecordData.
      {"S0110000000050524F4752414D264441544196", "S0090000000050524F47BE", false},  // PROG
      {"S0090000000044415441DC", "S00700000000444173", false},                      // DA
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    ASSERT_TRUE(*c.before == '\0' || Accepted(c.before));
    ASSERT_TRUE(Accepted(c.line));
    EXPECT_EQ(VerifyChecksum(), 1);
    EXPECT_EQ(HeaderTrad(), c.accepted ? 1 : 0);
  }
}

// A pass counts the lines, then reads until the reader signals the end: one more read gets
// nothing and changes nothing. A reader that never signals it shows as a hundred lines.
TEST(SRecordFile, LinesAreReadInPiecesOfAtMost87CharactersWithCrLfFolded) {
  // create_directory refuses a name that another test process holds.
  std::random_device random;
  fs::path folder;
  do folder = fs::temp_directory_path() / ("srecord-" + std::to_string(random()));
  while (!fs::create_directory(folder));
  ChoosenFile = (folder / "image.s").string();
  const std::string long90 = Line41 + "ABCD", long87 = Line41 + "0", end = "S70500000000FA";
  using Lines = std::vector<std::string>;
  const std::pair<std::string, Lines> cases[] = {
      {"S0090000000044415441DC\nS30900001000AB12CD3428\n" + end,
       {"S0090000000044415441DC\n", "S30900001000AB12CD3428\n", end}},
      {Line41 + "\n" + end + "\n", {Line41 + "\n", end + "\n"}},
      {Line41 + "\r\n" + end + "\r\n", {Line41 + "\n", end + "\n"}},
      {end + "\r\r\nS7\r", {end + "\r\n", "S7\r"}},  // a CR not before LF is part of the line
      {long90 + "\n" + long87 + "\n" + end + "\n", {long90.substr(0, 87), "BCD\n", long87, "\n", end + "\n"}},
      {long90 + "\r\n" + long87 + "\r\n" + end + "\r\n", {long90.substr(0, 87), "BCD\n", long87, "\n", end + "\n"}},
      {long87 + end + "\n", {long87, end + "\n"}},
      {"", {}},
  };
  for (const auto& [content, pieces] : cases) {
    SCOPED_TRACE(content);
    std::ofstream(ChoosenFile, std::ios::binary) << content;
    MoveSize = 0;
    EXPECT_TRUE(CountSRecordline());
    EXPECT_EQ(LineCount, static_cast<std::int32_t>(pieces.size()));
    Lines lines;
    while (lines.size() < 100 && ReadSRecordline() == LineRead::Read) lines.emplace_back(LineCarac);
    EXPECT_EQ(lines, pieces);
    const std::string last = LineCarac;
    EXPECT_EQ(ReadSRecordline(), LineRead::EndOfFile);
    EXPECT_EQ(LineCarac, last);
    EXPECT_EQ(MoveSize, static_cast<std::int32_t>(content.size()));
  }
  fs::remove_all(folder);
}

}  // namespace
