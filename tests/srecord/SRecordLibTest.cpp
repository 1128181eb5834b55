// The S-Record reader: decoding, checksum and header tests on literal lines, and line reading
// from files written into a fresh folder per test.
#include "SRecordLib.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "QZFlashShared.h"

namespace {

namespace fs = std::filesystem;
using Ints = std::vector<std::int32_t>;

const std::string WrongFormat = " Wrong SRecord format or file\n";
const std::string CannotOpen = "\n Impossible to open the file\n";

// Byte count 41 (0x29), address 00002000, 36 data bytes 00 07 0E ... F5: 86 characters.
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

Ints Words(int count) { return {SRecordData, SRecordData + count}; }

// The fields a rejected record must leave alone.
struct RecordFields {
  std::int32_t dataSize = SRecordDataSize;
  std::int32_t checkSum = CheckSum;
  Ints s0{AddressS0, AddressS0 + 2};
  Ints s3{AddressS3, AddressS3 + 4};
  Ints s7{AddressS7, AddressS7 + 4};
  Ints words{SRecordData, SRecordData + SRecordWordCount};

  bool operator==(const RecordFields&) const = default;
};

// ExitProgram ends the process with status 0, so a test that reaches it by mistake would end
// the run as a success. Outside a death test's child such an exit fails the run.
bool exitExpected = false;

class UnexpectedExitGuard : public testing::Environment {
 public:
  void SetUp() override {
    std::atexit([] {
      if (exitExpected) return;
      std::fputs("The program ended during a test\n", stderr);
      std::_Exit(1);
    });
  }
  void TearDown() override { exitExpected = true; }
};

[[maybe_unused]] testing::Environment* const guard =
    testing::AddGlobalTestEnvironment(new UnexpectedExitGuard);

// ---------------------------------------------------------------------------------------------
// Digits and decoding

TEST(SRecordDigits, HexDigitsOfBothCasesGiveTheirValuesOthersTheLastOne) {
  EXPECT_EQ(ConvASCIItoDec('0'), 0);
  EXPECT_EQ(ConvASCIItoDec('9'), 9);
  EXPECT_EQ(ConvASCIItoDec('A'), 10);
  EXPECT_EQ(ConvASCIItoDec('f'), 15);
  EXPECT_EQ(ConvASCIItoDec('7'), 7);
  const int others[] = {'G', 'g', ' ', '\n', '\r', '\0', '@', '/', ':', '`', 0xFF, -1};
  for (int other : others)
    EXPECT_EQ(ConvASCIItoDec(other), 7) << "character " << other;
  EXPECT_EQ(VarConvInt, 7);
}

TEST(SRecordDecode, DataRecordGivesLittleEndianWords) {
  const Decoded d = Decode("S30900001000AB12CD3428\n");
  EXPECT_TRUE(d.accepted);
  EXPECT_EQ(d.output, "");
  EXPECT_EQ(std::string(RecordType, 2), "S3");
  EXPECT_EQ(FullByteCountInt, 9);
  EXPECT_EQ(Ints(AddressS3, AddressS3 + 4), (Ints{0x00, 0x00, 0x10, 0x00}));
  EXPECT_EQ(SRecordDataSize, 4);
  EXPECT_EQ(Words(2), (Ints{0x12AB, 0x34CD}));
  EXPECT_EQ(CheckSum, 0x28);
  EXPECT_EQ(VerifyChecksum(), 1);

  // An odd data byte takes the checksum byte as its high half.
  EXPECT_TRUE(Decode("S30800001000AABBCCB6\n").accepted);
  EXPECT_EQ(SRecordDataSize, 3);
  EXPECT_EQ(Words(2), (Ints{0xBBAA, 0xB6CC}));
  EXPECT_EQ(VerifyChecksum(), 1);
}

TEST(SRecordDecode, HeaderAndEndRecordsGiveBigEndianWords) {
  EXPECT_TRUE(Decode("S00800DD000044415441\n").accepted);
  EXPECT_EQ(Ints(AddressS0, AddressS0 + 2), (Ints{0x00, 0xDD}));
  EXPECT_EQ(SRecordDataSize, 5);
  EXPECT_EQ(Words(3), (Ints{0x0000, 0x4441, 0x5441}));

  EXPECT_TRUE(Decode("S70500000000FA\n").accepted);
  EXPECT_EQ(SRecordDataSize, 0);
  EXPECT_EQ(Ints(AddressS7, AddressS7 + 4), (Ints{0, 0, 0, 0}));
  EXPECT_EQ(Words(3), (Ints{0x0000, 0x4441, 0x5441}));
  EXPECT_EQ(CheckSum, 0xFA);
  EXPECT_EQ(VerifyChecksum(), 1);

  EXPECT_TRUE(Decode("S70800000010ABCDEF80\n").accepted);
  EXPECT_EQ(Ints(AddressS7, AddressS7 + 4), (Ints{0x00, 0x00, 0x00, 0x10}));
  EXPECT_EQ(Words(2), (Ints{0xABCD, 0xEF80}));
}

TEST(SRecordDecode, ByteCount41IsAccepted) {
  EXPECT_TRUE(Decode(Line41 + "\n").accepted);
  EXPECT_EQ(FullByteCountInt, 41);
  EXPECT_EQ(SRecordDataSize, 36);
  EXPECT_EQ(SRecordData[0], 0x0700);
  EXPECT_EQ(SRecordData[17], 0xF5EE);
  EXPECT_EQ(VerifyChecksum(), 1);
}

TEST(SRecordDecode, LowerCaseDigitsDecodeLikeUpperCase) {
  EXPECT_TRUE(Decode("S30900001000ab12cd3428\n").accepted);
  EXPECT_EQ(Words(2), (Ints{0x12AB, 0x34CD}));
  EXPECT_EQ(VerifyChecksum(), 1);
  EXPECT_TRUE(Decode("S30a00001000AABBCCDDeee9\n").accepted);
  EXPECT_EQ(FullByteCountInt, 10);
  EXPECT_EQ(CheckSum, 0xE9);
}

TEST(SRecordDecode, ChecksumCoversCountAddressAndData) {
  for (const std::string line : {"S30900001000AB12CD3429", "S30900001000AB12CD3528",
                                 "S30900001001AB12CD3428", "S30A00001000AB12CD342800"}) {
    SCOPED_TRACE(line);
    ASSERT_TRUE(Decode(line + "\n").accepted);
    EXPECT_EQ(VerifyChecksum(), 0);
  }
}

TEST(SRecordDecode, OtherTypesAreRejectedAndKeepThePreviousRecord) {
  for (const std::string line : {"S1071000AB12CD342A", "S206001000AB122C", "S5030003F9",
                                 "S804001000EB", "S9030000FC", "X30900001000AB12CD3428",
                                 "s30900001000AB12CD3428"}) {
    SCOPED_TRACE(line);
    Decode("S30900001000AB12CD3428\n");
    const RecordFields before;
    const Decoded d = Decode(line + "\n");
    EXPECT_FALSE(d.accepted);
    EXPECT_EQ(d.output, WrongFormat);
    EXPECT_EQ(std::string(RecordType, 2), line.substr(0, 2));
    EXPECT_TRUE(RecordFields{} == before);
  }
  // The new bytes are tested against the checksum byte of the record before (0x28 above).
  Decode("S30900001000AB12CD3428\n");
  EXPECT_FALSE(Decode("S1071000AB12CD3600\n").accepted);
  EXPECT_EQ(VerifyChecksum(), 1);
}

TEST(SRecordDecode, MalformedRecordsAreRejectedAndFailTheChecksumTest) {
  for (const std::string line : {
           "S30900001000AB12CD34G8",  // not a digit where the checksum is
           "S30900001000AB 2CD3428",  // a blank inside a byte
           "S30900001000AB12CD",      // line ends before the checksum
           "S30900001000AB12CD3",     // line ends inside the checksum
           "S3",                      // no byte count
           "S3G900001000AB12CD3428",  // byte count not a number
           "S300",                    // byte count 0
           "S100",                    // byte count 0 of a rejected type
           "S30400001000",            // no room for the checksum
           "S7040000FB",              // the same for an end record
           "S0020000",                // and for a header record
           "",                        // an empty line
       }) {
    SCOPED_TRACE(line);
    // Its checksum FF is what a byte count of 0 with no bytes would sum to.
    ASSERT_TRUE(Decode("S705000000FBFF\n").accepted);
    const RecordFields before;
    const Decoded d = Decode(line + "\n");
    EXPECT_FALSE(d.accepted);
    EXPECT_EQ(d.output, WrongFormat);
    EXPECT_TRUE(RecordFields{} == before);
    EXPECT_EQ(FullByteCountInt, 0);
    EXPECT_EQ(VerifyChecksum(), 0);
  }
}

TEST(SRecordDecode, ShortestRecordsAreAcceptedWithoutData) {
  Decode("S30900001000AB12CD3428\n");
  for (const std::string line : {"S0030000FC", "S30500001000EA", "S70500000000FA"}) {
    SCOPED_TRACE(line);
    EXPECT_TRUE(Decode(line + "\n").accepted);
    EXPECT_EQ(SRecordDataSize, 0);
    EXPECT_EQ(VerifyChecksum(), 1);
    EXPECT_EQ(Words(2), (Ints{0x12AB, 0x34CD}));
  }
}

// ExitProgram waits for the operator's Enter: the child finds it already typed, and its
// standard output goes to standard error, where the death test reads.
void DecodeInExitingChild(const std::string& line) {
  exitExpected = true;
  std::ungetc('\n', stdin);
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

TEST(SRecordHeader, TheThreeFormsAreAccepted) {
  for (const std::string line : {
           "S0110000000050524F4752414D264441544196",      // PROGRAM&DATA
           "S00D0000000050524F475241004DDA",              // PROGRA, 0, M
           "S0090000000044415441DC",                      // DATA
           "S009000041424441544159",                      // AB in front of DATA
           "S0130000000050524F4752414D26444154412E5313",  // text after PROGRAM&DATA
       }) {
    SCOPED_TRACE(line);
    ASSERT_TRUE(Decode(line + "\n").accepted);
    EXPECT_EQ(VerifyChecksum(), 1);
    int accepted = 0;
    EXPECT_EQ(Output([&] { accepted = HeaderTrad(); }), "");
    EXPECT_EQ(accepted, 1);
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

TEST(SRecordHeader, OnlyTheRecordsOwnDataBytesCount) {
  // "PROG" after "PROGRAM&DATA": the rest of the text is still in SRecordData.
  ASSERT_TRUE(Decode("S0110000000050524F4752414D264441544196\n").accepted);
  ASSERT_TRUE(Decode("S0090000000050524F47BE\n").accepted);
  EXPECT_EQ(HeaderTrad(), 0);

  ASSERT_TRUE(Decode("S0090000000044415441DC\n").accepted);
  ASSERT_TRUE(Decode("S00700000000444173\n").accepted);  // "DA"
  EXPECT_EQ(HeaderTrad(), 0);

  // "DAT" with the valid checksum byte 41, an 'A'.
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
    // create_directory refuses a name that another test process holds.
    std::random_device random;
    do folder_ = fs::temp_directory_path() / ("srecord-" + std::to_string(random()));
    while (!fs::create_directory(folder_));
    ChoosenFile = (folder_ / "image.s").string();
    MoveSize = 0;
    LineCount = 0;
  }

  void TearDown() override { fs::remove_all(folder_); }

  void WriteImage(const std::string& bytes) const {
    std::ofstream(ChoosenFile, std::ios::binary) << bytes;
  }

  // Counts, then reads lines until the reader signals the end, as a pass does; a reader that
  // never does shows as a hundred lines.
  std::vector<std::string> Pass() const {
    MoveSize = 0;
    CountSRecordline();
    std::vector<std::string> lines;
    while (lines.size() < 100 && ReadSRecordline()) lines.emplace_back(LineCarac);
    return lines;
  }

  fs::path folder_;
};

TEST_F(SRecordFile, LinesAreReadInOrderAndTheEndIsSignalled) {
  WriteImage("S0090000000044415441DC\nS30900001000AB12CD3428\nS70500000000FA");
  CountSRecordline();
  EXPECT_EQ(LineCount, 3);
  ASSERT_TRUE(ReadSRecordline());
  EXPECT_STREQ(LineCarac, "S0090000000044415441DC\n");
  EXPECT_EQ(MoveSize, 23);
  ASSERT_TRUE(ReadSRecordline());
  EXPECT_EQ(MoveSize, 46);
  ASSERT_TRUE(ReadSRecordline());
  EXPECT_STREQ(LineCarac, "S70500000000FA");
  EXPECT_EQ(MoveSize, 60);

  EXPECT_EQ(Output([] { EXPECT_FALSE(ReadSRecordline()); }), "");
  EXPECT_STREQ(LineCarac, "S70500000000FA");
  EXPECT_EQ(MoveSize, 60);

  LineCount = 7;
  EXPECT_EQ(Pass().size(), 3u);
  EXPECT_EQ(LineCount, 3);
}

TEST_F(SRecordFile, Count41LineIsReadWholeWithEitherLineEnd) {
  for (const std::string end : {"\n", "\r\n"}) {
    SCOPED_TRACE(end == "\n" ? "LF" : "CR LF");
    WriteImage(Line41 + end + "S70500000000FA" + end);
    EXPECT_EQ(Pass(), (std::vector<std::string>{Line41 + "\n", "S70500000000FA\n"}));
    EXPECT_EQ(LineCount, 2);
    EXPECT_EQ(MoveSize, static_cast<std::int32_t>(fs::file_size(ChoosenFile)));

    MoveSize = 0;
    ASSERT_TRUE(ReadSRecordline());
    EXPECT_EQ(MoveSize, static_cast<std::int32_t>(Line41.size() + end.size()));
    EXPECT_TRUE(Decode(LineCarac).accepted);
    EXPECT_EQ(VerifyChecksum(), 1);
  }
}

TEST_F(SRecordFile, CrNotBeforeLfIsPartOfTheLine) {
  WriteImage("S70500000000FA\r\r\nS7\r");
  EXPECT_EQ(Pass(), (std::vector<std::string>{"S70500000000FA\r\n", "S7\r"}));
  EXPECT_EQ(MoveSize, 20);
}

TEST_F(SRecordFile, LongLinesAreReadAndCountedInPieces) {
  const std::string long90 = Line41 + "ABCD";
  const std::string long87 = Line41 + "0";
  for (const std::string end : {"\n", "\r\n"}) {
    SCOPED_TRACE(end == "\n" ? "LF" : "CR LF");
    WriteImage(long90 + end + long87 + end + "S70500000000FA" + end);
    EXPECT_EQ(Pass(), (std::vector<std::string>{long90.substr(0, 87), "BCD\n", long87, "\n",
                                                "S70500000000FA\n"}));
    EXPECT_EQ(LineCount, 5);
    EXPECT_EQ(MoveSize, static_cast<std::int32_t>(fs::file_size(ChoosenFile)));
  }

  // The second piece is decoded as a record of its own.
  WriteImage(Line41 + "0S70500000000FA\n");
  MoveSize = 0;
  ASSERT_TRUE(ReadSRecordline());
  ASSERT_TRUE(ReadSRecordline());
  EXPECT_STREQ(LineCarac, "S70500000000FA\n");
  EXPECT_TRUE(Decode(LineCarac).accepted);
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

TEST_F(SRecordFile, PositionOutsideTheFileReadsNothing) {
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

  WriteImage("");
  EXPECT_EQ(Pass(), std::vector<std::string>{});
  EXPECT_EQ(LineCount, 0);
}

}  // namespace
