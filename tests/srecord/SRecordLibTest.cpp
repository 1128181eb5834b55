// The S-Record reader: decoding, checksum and header tests on literal lines, and line reading
// from files written into a fresh folder per test.
#include "SRecordLib.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "QZFlashShared.h"

namespace {

namespace fs = std::filesystem;

const std::string WrongFormat = " Wrong SRecord format or file\n";
const std::string CannotOpen = "\n Impossible to open the file\n";

// A record with byte count 41 (0x29): address 00002000 and 36 data bytes 00 07 0E ... F5,
// 86 characters.
const std::string Line41 =
    "S3290000200000070E151C232A31383F464D545B626970777E858C939AA1A8AFB6BDC4CBD2D9E0E7EEF57C";

std::string Output(const std::function<void()>& action) {
  testing::internal::CaptureStdout();
  action();
  return testing::internal::GetCapturedStdout();
}

void SetLine(const std::string& line) {
  std::snprintf(LineCarac, sizeof LineCarac, "%s", line.c_str());
}

struct Decoded {
  bool accepted;
  std::string output;
};

Decoded Decode(const std::string& line) {
  SetLine(line);
  bool accepted = false;
  const std::string output = Output([&] { accepted = SRecordLineDecode(); });
  return {accepted, output};
}

std::vector<std::int32_t> Words(int count) { return {SRecordData, SRecordData + count}; }

std::vector<std::int32_t> Address3() { return {AddressS3, AddressS3 + 4}; }

// The fields a rejected record must leave alone.
struct RecordFields {
  std::int32_t dataSize = SRecordDataSize;
  std::int32_t checkSum = CheckSum;
  std::vector<std::int32_t> s0{AddressS0, AddressS0 + 2};
  std::vector<std::int32_t> s3{AddressS3, AddressS3 + 4};
  std::vector<std::int32_t> s7{AddressS7, AddressS7 + 4};
  std::vector<std::int32_t> words{SRecordData, SRecordData + SRecordWordCount};

  bool operator==(const RecordFields&) const = default;
};

// ---------------------------------------------------------------------------------------------
// Digits

TEST(SRecordDigits, HexDigitsOfBothCasesGiveTheirValues) {
  EXPECT_EQ(ConvASCIItoDec('0'), 0);
  EXPECT_EQ(ConvASCIItoDec('9'), 9);
  EXPECT_EQ(ConvASCIItoDec('A'), 10);
  EXPECT_EQ(ConvASCIItoDec('F'), 15);
  EXPECT_EQ(ConvASCIItoDec('a'), 10);
  EXPECT_EQ(ConvASCIItoDec('f'), 15);
  EXPECT_EQ(VarConvInt, 15);
}

TEST(SRecordDigits, OtherCharactersGiveTheLastDigitsValue) {
  const int others[] = {'G', 'g', ' ', '\n', '\r', '\0', '@', '/', ':', '`', 0xFF, -1};
  ConvASCIItoDec('7');
  for (int character : others)
    EXPECT_EQ(ConvASCIItoDec(character), 7) << "character " << character;
  EXPECT_EQ(VarConvInt, 7);
}

// ---------------------------------------------------------------------------------------------
// Decoding

TEST(SRecordDecode, DataRecordGivesLittleEndianWordsAtItsWordAddress) {
  const Decoded d = Decode("S30900001000AB12CD3428\n");
  EXPECT_TRUE(d.accepted);
  EXPECT_EQ(d.output, "");
  EXPECT_EQ(RecordType[0], 'S');
  EXPECT_EQ(RecordType[1], '3');
  EXPECT_EQ(FullByteCountInt, 9);
  EXPECT_EQ(Address3(), (std::vector<std::int32_t>{0x00, 0x00, 0x10, 0x00}));
  EXPECT_EQ(SRecordDataSize, 4);
  EXPECT_EQ(Words(2), (std::vector<std::int32_t>{0x12AB, 0x34CD}));
  EXPECT_EQ(CheckSum, 0x28);
  EXPECT_EQ(VerifyChecksum(), 1);
  EXPECT_EQ(VarConvInt, 8);
}

TEST(SRecordDecode, OddDataByteTakesTheChecksumAsHighHalf) {
  const Decoded d = Decode("S30800001000AABBCCB6\n");
  EXPECT_TRUE(d.accepted);
  EXPECT_EQ(SRecordDataSize, 3);
  EXPECT_EQ(Words(2), (std::vector<std::int32_t>{0xBBAA, 0xB6CC}));
  EXPECT_EQ(VerifyChecksum(), 1);
}

TEST(SRecordDecode, HeaderRecordGivesBigEndianWords) {
  const Decoded d = Decode("S0090000000044415441DC\n");
  EXPECT_TRUE(d.accepted);
  EXPECT_EQ(AddressS0[0], 0x00);
  EXPECT_EQ(AddressS0[1], 0x00);
  EXPECT_EQ(SRecordDataSize, 6);
  EXPECT_EQ(Words(3), (std::vector<std::int32_t>{0x0000, 0x4441, 0x5441}));
  EXPECT_EQ(CheckSum, 0xDC);
}

TEST(SRecordDecode, EndRecordHasNoData) {
  Decode("S30900001000AB12CD3428\n");
  const Decoded d = Decode("S70500000000FA\n");
  EXPECT_TRUE(d.accepted);
  EXPECT_EQ(RecordType[1], '7');
  EXPECT_EQ(SRecordDataSize, 0);
  EXPECT_EQ((std::vector<std::int32_t>{AddressS7, AddressS7 + 4}),
            (std::vector<std::int32_t>{0, 0, 0, 0}));
  EXPECT_EQ(Words(2), (std::vector<std::int32_t>{0x12AB, 0x34CD}));
  EXPECT_EQ(CheckSum, 0xFA);
  EXPECT_EQ(VerifyChecksum(), 1);
}

TEST(SRecordDecode, EndRecordBytesGiveBigEndianWords) {
  EXPECT_TRUE(Decode("S70800000000ABCDEF90\n").accepted);
  EXPECT_EQ(SRecordDataSize, 3);
  EXPECT_EQ(Words(2), (std::vector<std::int32_t>{0xABCD, 0xEF90}));
}

TEST(SRecordDecode, ByteCount41IsAccepted) {
  const Decoded d = Decode(Line41 + "\n");
  EXPECT_TRUE(d.accepted);
  EXPECT_EQ(FullByteCountInt, 41);
  EXPECT_EQ(SRecordDataSize, 36);
  EXPECT_EQ(SRecordData[0], 0x0700);
  EXPECT_EQ(SRecordData[17], 0xF5EE);
  EXPECT_EQ(CheckSum, 0x7C);
  EXPECT_EQ(VerifyChecksum(), 1);
}

TEST(SRecordDecode, LowerCaseDigitsDecodeLikeUpperCase) {
  const Decoded d = Decode("S30900001000ab12cd3428\n");
  EXPECT_TRUE(d.accepted);
  EXPECT_EQ(Words(2), (std::vector<std::int32_t>{0x12AB, 0x34CD}));
  EXPECT_EQ(VerifyChecksum(), 1);

  EXPECT_TRUE(Decode("S30a00001000AABBCCDDeee9\n").accepted);
  EXPECT_EQ(FullByteCountInt, 10);
  EXPECT_EQ(CheckSum, 0xE9);
}

TEST(SRecordDecode, RecordsOfOtherTypesAreRejectedAndKeepThePreviousRecord) {
  for (const std::string line : {"S1071000AB12CD342A", "S206001000AB122C", "S5030003F9",
                                 "S804001000EB", "S9030000FC", "X30900001000AB12CD3428",
                                 "s30900001000AB12CD3428"}) {
    SCOPED_TRACE(line);
    Decode("S30900001000AB12CD3428\n");
    const RecordFields before;
    const Decoded d = Decode(line + "\n");
    EXPECT_FALSE(d.accepted);
    EXPECT_EQ(d.output, WrongFormat);
    EXPECT_EQ(RecordType[0], line[0]);
    EXPECT_EQ(RecordType[1], line[1]);
    EXPECT_TRUE(RecordFields{} == before);
  }
}

TEST(SRecordDecode, RejectedTypeIsCheckedAgainstThePreviousChecksumByte) {
  Decode("S30900001000AB12CD3428\n");
  // These bytes sum to the checksum 0x28 of the record before; the line's own byte is 00.
  EXPECT_FALSE(Decode("S1071000AB12CD3600\n").accepted);
  EXPECT_EQ(FullByteCountInt, 7);
  EXPECT_EQ(SRecordInt[5], 0x36);
  EXPECT_EQ(VerifyChecksum(), 1);
  EXPECT_FALSE(Decode("S1071000AB12CD342A\n").accepted);
  EXPECT_EQ(VerifyChecksum(), 0);
}

TEST(SRecordDecode, WrongChecksumByteFailsTheTest) {
  Decode("S30900001000AB12CD3429\n");
  EXPECT_EQ(VerifyChecksum(), 0);
  Decode("S30900001000AB12CD3528\n");
  EXPECT_EQ(VerifyChecksum(), 0);
  Decode("S30A00001000AB12CD3428\n");
  EXPECT_EQ(VerifyChecksum(), 0);
}

TEST(SRecordDecode, MalformedRecordsAreRejectedAndKeepThePreviousRecord) {
  for (const std::string line : {
           "S30900001000AB12CD34G8",  // not a digit where the checksum is
           "S30900001000AB 2CD3428",  // a blank inside a byte
           "S30900001000AB12CD",      // line ends before the checksum
           "S30900001000AB12CD3",     // line ends inside the checksum
           "S3",                      // no byte count
           "S3G900001000AB12CD3428",  // byte count is not a number
           "S3 9",                    //
           "S300",                    // byte count 0
           "S30400001000",            // no room for the checksum
           "S0020000",                // an S0 record too short for its address and checksum
           "S7040000FB",              //
           "S100",                    // rejected type, count 0
           "",                        //
       }) {
    SCOPED_TRACE(line);
    Decode("S30900001000AB12CD3428\n");
    const RecordFields before;
    const Decoded d = Decode(line + "\n");
    EXPECT_FALSE(d.accepted);
    EXPECT_EQ(d.output, WrongFormat);
    EXPECT_TRUE(RecordFields{} == before);
    EXPECT_EQ(FullByteCountInt, 0);
    EXPECT_EQ(VerifyChecksum(), 0);
  }
}

TEST(SRecordDecode, ByteCountZeroFailsTheChecksumTestWhateverCameBefore) {
  // The checksum FF is what a count of 0 with no bytes would sum to.
  ASSERT_TRUE(Decode("S705000000FBFF\n").accepted);
  ASSERT_EQ(CheckSum, 0xFF);
  EXPECT_FALSE(Decode("S300\n").accepted);
  EXPECT_EQ(VerifyChecksum(), 0);
}

TEST(SRecordDecode, ShortestRecordsOfEachTypeAreAcceptedWithoutData) {
  Decode("S30900001000AB12CD3428\n");
  EXPECT_TRUE(Decode("S0030000FC\n").accepted);
  EXPECT_EQ(SRecordDataSize, 0);
  EXPECT_EQ(VerifyChecksum(), 1);
  EXPECT_TRUE(Decode("S30500001000EA\n").accepted);
  EXPECT_EQ(SRecordDataSize, 0);
  EXPECT_EQ(Address3(), (std::vector<std::int32_t>{0x00, 0x00, 0x10, 0x00}));
  EXPECT_EQ(VerifyChecksum(), 1);
  EXPECT_EQ(Words(2), (std::vector<std::int32_t>{0x12AB, 0x34CD}));
}

// ExitProgram waits for the operator's Enter: the child gets an empty standard input, and its
// standard output is sent to standard error where the death test reads it.
void DecodeInExitingChild(const std::string& line) {
  std::freopen("/dev/null", "r", stdin);
  std::fflush(stdout);
  dup2(STDERR_FILENO, STDOUT_FILENO);
  SetLine(line);
  SRecordLineDecode();
}

TEST(SRecordDecodeDeathTest, ByteCountAbove41EndsTheProgramInOrder) {
  const std::string count42 = Line41.substr(0, 2) + "2A" + Line41.substr(4) + "\n";
  EXPECT_EXIT(DecodeInExitingChild(count42), testing::ExitedWithCode(0),
              " Format error in SRecord File \n");
  // The count is checked before the bytes and the type.
  EXPECT_EXIT(DecodeInExitingChild("S3FF\n"), testing::ExitedWithCode(0),
              " Format error in SRecord File \n");
  EXPECT_EXIT(DecodeInExitingChild("S92A0000\n"), testing::ExitedWithCode(0),
              " Format error in SRecord File \n");
}

// ---------------------------------------------------------------------------------------------
// Header test

TEST(SRecordHeader, TheThreeHeaderFormsAreAccepted) {
  for (const std::string line : {"S0110000000050524F4752414D264441544196",
                                 "S00D0000000050524F475241004DDA", "S0090000000044415441DC"}) {
    SCOPED_TRACE(line);
    ASSERT_TRUE(Decode(line + "\n").accepted);
    EXPECT_EQ(VerifyChecksum(), 1);
    int accepted = 0;
    EXPECT_EQ(Output([&] { accepted = HeaderTrad(); }), "");
    EXPECT_EQ(accepted, 1);
  }
}

TEST(SRecordHeader, BytesAroundTheTextAreNotExamined) {
  for (const std::string line : {"S009000041424441544159",  // "AB" in front of "DATA"
                                 "S0130000000050524F4752414D26444154412E5313"}) {  // "...DATA.S"
    SCOPED_TRACE(line);
    ASSERT_TRUE(Decode(line + "\n").accepted);
    EXPECT_EQ(HeaderTrad(), 1);
  }
}

TEST(SRecordHeader, NearMissesAreRejected) {
  for (const std::string line : {
           "S00C0000000050524F4752414DDB",            // PROGRAM without the zero byte
           "S00D0000000050524F4752414D00DA",          // PROGRAM and the zero byte after it
           "S0110000000050524F4752414D584441544164",  // PROGRAM, a byte other than '&', DATA
           "S0100000000050524F4752414D26444154D8",    // PROGRAM&DAT
           "S00B00000000000044415441DA",              // DATA two bytes late
           "S0080000AB4441544132",                    // DATA one byte early
           "S0090000000044415442DB",                  // DATB
           "S00900000000646174615C",                  // data
       }) {
    SCOPED_TRACE(line);
    ASSERT_TRUE(Decode(line + "\n").accepted);
    EXPECT_EQ(VerifyChecksum(), 1);
    int accepted = 1;
    EXPECT_EQ(Output([&] { accepted = HeaderTrad(); }), WrongFormat);
    EXPECT_EQ(accepted, 0);
  }
}

TEST(SRecordHeader, WordsLeftByAnEarlierRecordDoNotCompleteAHeader) {
  ASSERT_TRUE(Decode("S0110000000050524F4752414D264441544196\n").accepted);
  ASSERT_TRUE(Decode("S0090000000050524F47BE\n").accepted);  // "PROG"
  EXPECT_EQ(Output([] { EXPECT_EQ(HeaderTrad(), 0); }), WrongFormat);

  ASSERT_TRUE(Decode("S0090000000044415441DC\n").accepted);
  ASSERT_TRUE(Decode("S00700000000444173\n").accepted);  // "DA"
  EXPECT_EQ(HeaderTrad(), 0);
}

TEST(SRecordHeader, TheChecksumByteIsNoHeaderText) {
  // "DAT" and a valid checksum byte 41, 'A'.
  ASSERT_TRUE(Decode("S00800DD000044415441\n").accepted);
  ASSERT_EQ(VerifyChecksum(), 1);
  EXPECT_EQ(SRecordData[2], 0x5441);
  EXPECT_EQ(HeaderTrad(), 0);
}

// ---------------------------------------------------------------------------------------------
// Reading lines from the file

class SRecordFile : public testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "srecord-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    folder_ = pattern;
    ChoosenFile = (folder_ / "image.s").string();
    MoveSize = 0;
    LineCount = 0;
  }

  void TearDown() override { fs::remove_all(folder_); }

  void WriteImage(const std::string& bytes) const {
    std::ofstream(ChoosenFile, std::ios::binary) << bytes;
  }

  // Reads lines until the reader signals the end, as a pass does.
  std::vector<std::string> ReadAll() const {
    std::vector<std::string> lines;
    while (ReadSRecordline()) lines.emplace_back(LineCarac);
    return lines;
  }

  fs::path folder_;
};

TEST_F(SRecordFile, LinesAreReadInOrderAndTheEndIsSignalled) {
  const std::string s0 = "S0090000000044415441DC\n";
  const std::string s3 = "S30900001000AB12CD3428\n";
  const std::string s7 = "S70500000000FA";  // no newline at the end of the file
  WriteImage(s0 + s3 + s7);

  CountSRecordline();
  EXPECT_EQ(LineCount, 3);

  ASSERT_TRUE(ReadSRecordline());
  EXPECT_STREQ(LineCarac, s0.c_str());
  EXPECT_EQ(MoveSize, 23);
  ASSERT_TRUE(ReadSRecordline());
  EXPECT_STREQ(LineCarac, s3.c_str());
  EXPECT_EQ(MoveSize, 46);
  ASSERT_TRUE(ReadSRecordline());
  EXPECT_STREQ(LineCarac, s7.c_str());
  EXPECT_EQ(MoveSize, 60);

  EXPECT_EQ(Output([] { EXPECT_FALSE(ReadSRecordline()); }), "");
  EXPECT_STREQ(LineCarac, s7.c_str());
  EXPECT_EQ(MoveSize, 60);
  EXPECT_FALSE(ReadSRecordline());
}

TEST_F(SRecordFile, EachPassStartsAfresh) {
  WriteImage("S0090000000044415441DC\nS70500000000FA\n");
  EXPECT_EQ(ReadAll().size(), 2u);
  MoveSize = 0;
  LineCount = 7;
  CountSRecordline();
  EXPECT_EQ(LineCount, 2);
  EXPECT_EQ(ReadAll().size(), 2u);
}

TEST_F(SRecordFile, CrLfLinesAreReadWholeWithAPlainNewline) {
  WriteImage(Line41 + "\r\n" + "S70500000000FA\r\n");

  CountSRecordline();
  EXPECT_EQ(LineCount, 2);

  ASSERT_TRUE(ReadSRecordline());
  EXPECT_EQ(std::string(LineCarac), Line41 + "\n");
  EXPECT_EQ(MoveSize, 88);
  EXPECT_TRUE(Decode(LineCarac).accepted);
  EXPECT_EQ(VerifyChecksum(), 1);

  ASSERT_TRUE(ReadSRecordline());
  EXPECT_STREQ(LineCarac, "S70500000000FA\n");
  EXPECT_EQ(MoveSize, 104);
  EXPECT_FALSE(ReadSRecordline());
}

TEST_F(SRecordFile, Count41LineWithLfIsReadWhole) {
  WriteImage(Line41 + "\n");
  CountSRecordline();
  EXPECT_EQ(LineCount, 1);
  ASSERT_TRUE(ReadSRecordline());
  EXPECT_EQ(std::string(LineCarac), Line41 + "\n");
  EXPECT_EQ(MoveSize, 87);
}

TEST_F(SRecordFile, CrNotBeforeLfIsPartOfTheLine) {
  WriteImage("S70500000000FA\r\r\nS7\r");
  EXPECT_EQ(ReadAll(), (std::vector<std::string>{"S70500000000FA\r\n", "S7\r"}));
  EXPECT_EQ(MoveSize, 20);
}

TEST_F(SRecordFile, LongLinesAreReadAndCountedInPieces) {
  const std::string long90 = Line41 + "ABCD";  // 90 characters
  const std::string long87 = Line41 + "0";     // 87 characters
  for (const std::string& end : {std::string("\n"), std::string("\r\n")}) {
    SCOPED_TRACE(end == "\n" ? "LF" : "CR LF");
    WriteImage(long90 + end + long87 + end + "S70500000000FA" + end);
    MoveSize = 0;
    CountSRecordline();
    EXPECT_EQ(LineCount, 5);
    EXPECT_EQ(ReadAll(), (std::vector<std::string>{long90.substr(0, 87), "BCD\n", long87, "\n",
                                                    "S70500000000FA\n"}));
    EXPECT_EQ(MoveSize, static_cast<std::int32_t>(fs::file_size(ChoosenFile)));
  }
}

TEST_F(SRecordFile, SecondPieceOfALongLineIsDecodedOnItsOwn) {
  WriteImage(Line41 + "0S70500000000FA\n");
  ASSERT_TRUE(ReadSRecordline());
  EXPECT_TRUE(Decode(LineCarac).accepted);
  EXPECT_EQ(FullByteCountInt, 41);
  ASSERT_TRUE(ReadSRecordline());
  EXPECT_STREQ(LineCarac, "S70500000000FA\n");
  EXPECT_TRUE(Decode(LineCarac).accepted);
  EXPECT_EQ(RecordType[1], '7');
}

TEST_F(SRecordFile, MissingFileOrFolderHasNoLines) {
  for (const std::string& name : {(folder_ / "missing.s").string(), folder_.string()}) {
    SCOPED_TRACE(name);
    ChoosenFile = name;
    SetLine("S70500000000FA\n");
    MoveSize = 5;
    LineCount = 9;

    EXPECT_EQ(Output(CountSRecordline), CannotOpen);
    EXPECT_EQ(LineCount, 0);
    EXPECT_EQ(Output([] { EXPECT_FALSE(ReadSRecordline()); }), CannotOpen);
    EXPECT_STREQ(LineCarac, "S70500000000FA\n");
    EXPECT_EQ(MoveSize, 5);
  }
}

TEST_F(SRecordFile, PositionOutsideTheFile) {
  WriteImage("S70500000000FA\n");
  SetLine("S0030000FC\n");

  MoveSize = -1;
  EXPECT_EQ(Output([] { EXPECT_FALSE(ReadSRecordline()); }),
            "\n Impossible to read SRecord line \n");
  EXPECT_EQ(MoveSize, -1);

  MoveSize = 100;
  EXPECT_EQ(Output([] { EXPECT_FALSE(ReadSRecordline()); }), "");
  EXPECT_EQ(MoveSize, 100);
  EXPECT_STREQ(LineCarac, "S0030000FC\n");
}

TEST_F(SRecordFile, EmptyFileHasNoLines) {
  WriteImage("");
  LineCount = 3;
  EXPECT_EQ(Output(CountSRecordline), "");
  EXPECT_EQ(LineCount, 0);
  EXPECT_FALSE(ReadSRecordline());
}

}  // namespace
