// The bytes the JTAG, EOnCE and instruction layers put on the wire, checked against the
// protocol written out by hand.
#include <gtest/gtest.h>

#include "AsmLib.h"
#include "EOnceLib.h"
#include "FTDILib.h"
#include "QZFlash.h"
#include "TAPLib.h"
#include "TestSupport.h"

namespace {

class TargetAccessTest : public ::testing::Test {
 protected:
  void SetUp() override { ResetHost(); }
  fake::Bytes Built() const { return fake::Bytes(byOutputBuffer, byOutputBuffer + dwNumBytesToSend); }
};

const fake::Bytes EOnceInstructionScan = Hex("4B 04 06 3B 02 06 6B 00 43 4B 01 01");

TEST_F(TargetAccessTest, JtagScans) {
  SendJTAGInsWithRead(0x6, 1);
  EXPECT_EQ(Built(), Hex("4B 04 06 3B 02 06 6B 00 43 4B 01 01"));
  ClearOutputBuffer();
  SendJTAGInsWithRead(0x82, 0);
  EXPECT_EQ(Built(), Hex("4B 04 06 3B 06 82 6B 00 83 4B 01 01"));
  ClearOutputBuffer();
  SendJTAGInsNoRead(0x7, 1);
  EXPECT_EQ(Built(), Hex("4B 04 06 1B 02 07 4B 00 43 4B 01 01"));
  EXPECT_EQ(dwNumRepliesBuilt, 0u);
  ClearOutputBuffer();
  GetDataWithWrite(1, 0x44);
  EXPECT_EQ(Built(), Hex("4B 02 81 3B 06 44 6B 00 43 4B 01 01"));
  ClearOutputBuffer();
  GetDataWithWrite(2, 0xE41C);
  EXPECT_EQ(Built(), Hex("4B 02 81 3B 07 1C 3B 06 E4 6B 00 83 4B 01 01"));
  ClearOutputBuffer();
  GetDataWithWrite(2, -1);
  EXPECT_EQ(Built(), Hex("4B 02 81 3B 07 FF 3B 06 FF 6B 00 83 4B 01 01"));
  ClearOutputBuffer();
  GetDataWithWrite(4, 0x12345678);
  EXPECT_EQ(Built(), Hex("4B 02 81 3B 07 78 3B 07 56 3B 07 34 3B 06 12 6B 00 43 4B 01 01"));
  EXPECT_EQ(dwNumRepliesBuilt, 5u);
  ClearOutputBuffer();
  GetDataWithWrite(5, 0x2);
  EXPECT_EQ(Built(), Hex("4B 02 81 3B 02 02 6B 00 43 4B 01 01"));
  ClearOutputBuffer();
  GetDataNoWrite(1);
  EXPECT_EQ(Built(), Hex("4B 02 81 2A 07 4B 00 43 4B 01 01"));
  EXPECT_EQ(dwNumRepliesBuilt, 1u);
  ClearOutputBuffer();
  ResetTAP();
  EXPECT_EQ(Built(), Hex("4B 04 FF"));
  EXPECT_TRUE(fake::Writes().empty());
}

TEST_F(TargetAccessTest, ResetPulseHoldsTheLineLowFor800ms) {
  ResetCPU();
  EXPECT_EQ(fake::CallNames(), (std::vector<std::string>{"Sleep", "FT_Write", "Sleep", "FT_Write", "Sleep"}));
  EXPECT_EQ(fake::Sleeps(), (std::vector<std::uint32_t>{1000, 800, 200}));
  EXPECT_EQ(fake::Writes(), (std::vector<fake::Bytes>{Hex("80 08 1B"), Hex("80 18 1B")}));
}

TEST_F(TargetAccessTest, IdcodeReadRecognisesBothVariants) {
  struct Case {
    const char* answer;
    int variant;
  };
  // Only the last four bytes of the whole six-byte answer count; a shorter answer is no target.
  for (const Case& c : {Case{"01 00 1D 60 F4 01", 1}, Case{"01 00 1D 00 F4 01", 2}, Case{"AA BB CC DD 1D 60 F4 01", 1},
                        Case{"01 00 1D 60 F4 02", 7}, Case{"1D 60 F4 01", 7}, Case{"", 7}}) {
    ResetHost();
    numeroCible = 7;
    fake::Reply(Hex(c.answer));
    testing::internal::CaptureStdout();
    ReadIDCode();
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(numeroCible, c.variant) << c.answer;
    EXPECT_EQ(out, c.variant == 7 ? "\n Wrong aim... \n" : "") << c.answer;
    ASSERT_EQ(fake::Writes().size(), 1u);
    EXPECT_EQ(fake::Writes()[0], Hex("4B 04 FF 4B 04 06 3B 06 02 6B 00 43 4B 01 01 4B 02 81 2A 07 2A 07 2A 07 2A 07"
                                     "4B 00 43 4B 01 01"));
    // The identification reads at once, without the wait of the register reads.
    EXPECT_TRUE(fake::Sleeps().empty());
  }
}

TEST_F(TargetAccessTest, EOnceRegisterAccess) {
  fake::Reply(Hex("AA BB 34 12"));
  ReadOTX1();
  ASSERT_EQ(fake::Writes().size(), 1u);
  EXPECT_EQ(fake::Writes()[0], Hex("4B 02 81 3B 06 89 6B 00 83 4B 01 01 4B 02 81 2A 07 2A 07 4B 00 43 4B 01 01"));
  EXPECT_EQ(DataRead, 0x1234);

  ResetHost();
  WriteOCR(0x20);
  EXPECT_EQ(fake::Writes(), std::vector<fake::Bytes>{Hex("4B 02 81 3B 06 01 6B 00 43 4B 01 01"
                                                         "4B 02 81 3B 06 20 6B 00 43 4B 01 01")});
  EXPECT_EQ(dwNumRepliesOwed, 4u);

  ResetHost();
  WriteORX1(0x12345);
  EXPECT_EQ(fake::Writes(), std::vector<fake::Bytes>{Hex("4B 02 81 3B 06 0D 6B 00 43 4B 01 01"
                                                         "4B 02 81 3B 07 45 3B 06 23 6B 00 43 4B 01 01")});

  ResetHost();
  ExitDebug();
  EXPECT_EQ(fake::Writes(), std::vector<fake::Bytes>{Hex("4B 02 81 3B 06 BF 6B 00 83 4B 01 01")});

  // Reads differ only in their command byte and width.
  struct Read {
    void (*function)();
    const char* command;
    int bytes;
  };
  for (const Read& r : {Read{ReadOCR, "81", 1}, Read{ReadOSCNTR, "82", 3}, Read{ReadOSR, "83", 2},
                        Read{ReadOBASE, "85", 1}, Read{ReadOTXRXSR, "86", 1}, Read{ReadOTX, "87", 4}}) {
    ResetHost();
    fake::Reply(Hex("00 00 01 02 03 04"));
    r.function();
    fake::Bytes expected = Hex(std::string("4B 02 81 3B 06 ") + r.command + " 6B 00 83 4B 01 01 4B 02 81");
    for (int i = 0; i < r.bytes; ++i) expected.insert(expected.end(), {0x2A, 0x07});
    const fake::Bytes tail = Hex("4B 00 43 4B 01 01");
    expected.insert(expected.end(), tail.begin(), tail.end());
    EXPECT_EQ(fake::Writes(), std::vector<fake::Bytes>{expected}) << r.command;
    const std::int32_t values[] = {0, 0x04, 0x0403, 0x040302, 0x04030201};
    EXPECT_EQ(DataRead, values[r.bytes]) << r.command;
  }
}

TEST_F(TargetAccessTest, InstructionFeedingOnlyAppends) {
  WriteOPDBR(0x8C8C);
  EXPECT_EQ(Built(), Hex("4B 02 81 3B 06 44 6B 00 43 4B 01 01 4B 02 81 3B 07 8C 3B 06 8C 6B 00 83 4B 01 01"));
  ClearOutputBuffer();
  WriteOPDBR2WORDS(0xE41C, 0xF400);
  EXPECT_EQ(dwNumBytesToSend, 81u);
  EXPECT_EQ(InjectedWords(Built()), (std::vector<std::uint16_t>{0xE41C, 0xF400, 0x0000}));
  ClearOutputBuffer();
  WriteOPDBR2WORDS(0xE77F, -10500);
  EXPECT_EQ(InjectedWords(Built()), (std::vector<std::uint16_t>{0xE77F, 0xD6FC, 0xFFFF}));
  // Only the last word carries the execute bit.
  const fake::Bytes built = Built();
  EXPECT_EQ(fake::Bytes(built.begin(), built.begin() + 12), Hex("4B 02 81 3B 06 04 6B 00 43 4B 01 01"));
  EXPECT_EQ(fake::Bytes(built.begin() + 27, built.begin() + 39), Hex("4B 02 81 3B 06 04 6B 00 43 4B 01 01"));
  EXPECT_EQ(fake::Bytes(built.begin() + 54, built.begin() + 66), Hex("4B 02 81 3B 06 44 6B 00 43 4B 01 01"));
  ClearOutputBuffer();
  ActivCoreTap();
  EXPECT_EQ(Built(), Hex("4B 04 06 3B 06 05 6B 00 43 4B 01 01 4B 02 81 3B 02 02 6B 00 43 4B 01 01"));
  ClearOutputBuffer();
  ActivDebugMode();
  EXPECT_EQ(Built(), Hex("4B 04 06 3B 02 07 6B 00 43 4B 01 01"));
  EXPECT_TRUE(fake::Writes().empty());
}

TEST_F(TargetAccessTest, OneInjection) {
  // ReadSR's first injection is 0x869D: its 63 bytes, then the copy and the OTX1 read.
  fake::Reply(fake::Bytes(36, 0x00));
  ReadSR();
  const fake::Bytes sent = fake::Writes().at(0);
  fake::Bytes expected = Hex("4B 02 81 3B 06 44 6B 00 43 4B 01 01 4B 02 81 3B 07 9D 3B 06 86 6B 00 83 4B 01 01");
  for (int i = 0; i < 3; ++i) expected.insert(expected.end(), EOnceInstructionScan.begin(), EOnceInstructionScan.end());
  EXPECT_EQ(fake::Bytes(sent.begin(), sent.begin() + 63), expected);
}

using Words = std::vector<std::uint16_t>;

TEST_F(TargetAccessTest, InstructionSequences) {
  struct Case {
    const char* name;
    void (*operation)();
    Words words;
    int answer;  // reply bytes the sequence makes the adapter queue
    bool sends;
    DWORD bytes;
  };
  const Case cases[] = {
      {"ReadPFlash", [] { ReadPFlash(0x20000); }, {0xE41C, 0x0000, 0x0002, 0x81A0, 0x8068, 0xE77F, 0xD07C, 0xFFFF}, 68, true, 385},
      {"ReadXFlash", [] { ReadXFlash(0x1234); }, {0xE41C, 0x1234, 0x0000, 0x81A0, 0xF080, 0xE77F, 0xD07C, 0xFFFF}, 68, true, 385},
      {"WriteXFlash", [] { WriteXFlash(0x1000, 0); }, {0xE41C, 0x1000, 0, 0x81A0, 0xE41C, 0, 0, 0x808C, 0xD000}, 75, false, 423},
      {"WritePFlash", [] { WritePFlash(0x12340, 0xBEEF); }, {0xE41C, 0x2340, 0x0001, 0x81A0, 0xE41C, 0xBEEF, 0, 0x808C, 0x8360}, 75, false, 423},
      {"WriteFMCLKD", [] { WriteFMCLKD(0x52); }, {0xE41C, 0xF400, 0, 0x81A0, 0xE41C, 0x0052, 0, 0x808C, 0xD000}, 75, true, 423},
      {"WriteFMUSTAT", [] { WriteFMUSTAT(-1); }, {0xE41C, 0xF413, 0, 0x81A0, 0xE41C, 0xFFFF, 0xFFFF, 0x808C, 0xD000}, 75, false, 423},
      {"WriteFMCMD", [] { WriteFMCMD(0x8000); }, {0xE41C, 0xF414, 0, 0x81A0, 0xE41C, 0x8000, 0, 0x808C, 0xD000}, 75, false, 423},
      {"WriteFMCR", [] { WriteFMCR(1); }, {0xE41C, 0xF401, 0, 0x81A0, 0xE41C, 1, 0, 0x808C, 0xD000}, 75, true, 423},
      {"WriteFMPROT", [] { WriteFMPROT(0); }, {0xE41C, 0xF410, 0, 0x81A0, 0xE41C, 0, 0, 0x808C, 0xD000}, 75, true, 423},
      {"WriteFMPROTB", [] { WriteFMPROTB(0); }, {0xE41C, 0xF411, 0, 0x81A0, 0xE41C, 0, 0, 0x808C, 0xD000}, 75, true, 423},
      {"WriteFMSECH", [] { WriteFMSECH(3); }, {0xE41C, 0xF403, 0, 0x81A0, 0xE41C, 3, 0, 0x808C, 0xD000}, 75, true, 423},
      {"WriteFMSECL", [] { WriteFMSECL(4); }, {0xE41C, 0xF404, 0, 0x81A0, 0xE41C, 4, 0, 0x808C, 0xD000}, 75, true, 423},
      {"ReadOMR", ReadOMR, {0x869C, 0xE77F, 0xD6FC, 0xFFFF}, 36, true, 205},
      {"ReadSR", ReadSR, {0x869D, 0xE77F, 0xD6FC, 0xFFFF}, 36, true, 205},
      {"WriteOMR", [] { WriteOMR(2); }, {0xE41C, 0x0002, 0x0000, 0x8C8C}, 32, true, 180},
  };
  for (const Case& c : cases) {
    ResetHost();
    fake::Bytes answer(static_cast<std::size_t>(c.answer - 2), 0x99);
    answer.insert(answer.end(), {0xBE, 0xEF});
    fake::Reply(answer);
    c.operation();
    // A read consumes the whole answer; a write leaves its reply bytes for the next read.
    const bool reads = c.bytes == 385 || c.bytes == 205;
    EXPECT_EQ(dwNumRepliesOwed + dwNumRepliesBuilt, reads ? 0u : DWORD(c.answer)) << c.name;
    const fake::Bytes stream = c.sends ? AllWritten() : Built();
    EXPECT_EQ(InjectedWords(stream), c.words) << c.name;
    EXPECT_EQ(stream.size(), c.bytes) << c.name;
    EXPECT_EQ(fake::Writes().size(), c.sends ? 1u : 0u) << c.name;
    EXPECT_EQ(DataRead, reads ? 0xEFBE : 0) << c.name;
  }
}

TEST_F(TargetAccessTest, FlashModuleRegisterReadsAreXReads) {
  const std::pair<void (*)(), std::uint16_t> reads[] = {{ReadFMCLKD, 0xF400}, {ReadFMCR, 0xF401}, {ReadFMSECH, 0xF403},
                                                         {ReadFMSECL, 0xF404}, {ReadFMPROT, 0xF410}, {ReadFMPROTB, 0xF411},
                                                         {ReadFMUSTAT, 0xF413}, {ReadFMCMD, 0xF414}};
  for (const auto& [read, address] : reads) {
    ResetHost();
    fake::ReplyTail(Hex("34 12"));
    read();
    EXPECT_EQ(InjectedWords(AllWritten()), (Words{0xE41C, address, 0, 0x81A0, 0xF080, 0xE77F, 0xD07C, 0xFFFF}))
        << std::hex << address;
    EXPECT_EQ(DataRead, 0x1234) << std::hex << address;
  }
}

TEST_F(TargetAccessTest, QueuedWritesRideWithTheNextRead) {
  WriteFMCMD(0x20);
  WriteFMUSTAT(0x80);
  fake::ReplyTail(Hex("C0 00"));
  ReadFMUSTAT();
  EXPECT_EQ(DataRead, 0xC0);
  ASSERT_EQ(fake::Writes().size(), 1u);
  EXPECT_EQ(fake::Writes()[0].size(), 1231u);
  EXPECT_EQ(InjectedWords(fake::Writes()[0]),
            (Words{0xE41C, 0xF414, 0, 0x81A0, 0xE41C, 0x20, 0, 0x808C, 0xD000, 0xE41C, 0xF413, 0, 0x81A0, 0xE41C, 0x80,
                   0, 0x808C, 0xD000, 0xE41C, 0xF413, 0, 0x81A0, 0xF080, 0xE77F, 0xD07C, 0xFFFF}));
}

TEST_F(TargetAccessTest, TheLargestBatchesFitTheCommandBuffer) {
  for (int i = 0; i < 8; ++i) WritePFlash(i, i);
  EXPECT_EQ(dwNumBytesToSend, 3384u);
  fake::Reply(fake::Bytes(8 * 75 + 68, 0x00));
  ReadXFlash(0);
  EXPECT_EQ(ftStatus, FT_OK);
  ASSERT_EQ(fake::Writes().size(), 1u);
  EXPECT_EQ(fake::Writes()[0].size(), 3769u);

  ResetHost();
  for (int i = 0; i < 9; ++i) WriteXFlash(i, i);
  FlushOutputBuffer();
  EXPECT_EQ(fake::Writes().at(0).size(), 3807u);

  // One write more cannot be queued: the batch is dropped rather than sent cut, and nothing
  // more goes out until the failure is taken.
  ResetHost();
  for (int i = 0; i < 9; ++i) WriteXFlash(i, i);
  testing::internal::CaptureStdout();
  WriteXFlash(9, 9);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), " Command buffer overflow\n");
  ReadXFlash(0);
  EXPECT_TRUE(fake::Writes().empty());
  EXPECT_EQ(TakeLinkFailure(), LinkFailure::CommandOverflow);
  ReadXFlash(0);
  EXPECT_EQ(fake::Writes().size(), 1u);
}

}  // namespace
