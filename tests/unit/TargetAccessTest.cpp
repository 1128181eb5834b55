// The bytes the JTAG, EOnCE and instruction layers put on the wire, checked against the
// protocol written out by hand.
#include <gtest/gtest.h>

#include "AsmLib.h"
#include "EOnceLib.h"
#include "FTDILib.h"
#include "TAPLib.h"
#include "TestSupport.h"

namespace {

class TargetAccessTest : public HostTest {};

// An instruction scan with its read-back, a data scan of 16 bits whose last bit is 1, a
// reading data scan, the TAP reset; all appended, nothing sent.
TEST_F(TargetAccessTest, JtagScans) {
  SendJTAGInsWithRead(0x6, 1);
  GetDataWithWrite(2, 0xE41C);
  GetDataWithWrite(5, 0x2);
  GetDataNoWrite(1);
  ResetTAP();
  EXPECT_EQ(fake::Bytes(byOutputBuffer, byOutputBuffer + dwNumBytesToSend), Hex("4B 04 06 3B 02 06 6B 00 43 4B 01 01"
                         "4B 02 81 3B 07 1C 3B 06 E4 6B 00 83 4B 01 01"
                         "4B 02 81 3B 02 02 6B 00 43 4B 01 01"
                         "4B 02 81 2A 07 4B 00 43 4B 01 01"
                         "4B 04 FF"));
  EXPECT_TRUE(fake::Writes().empty());
}

// A register read sends at once and takes the register's bytes from the tail of the answer;
// the exit command is a command scan alone.
TEST_F(TargetAccessTest, EOnceRegisterAccess) {
  fake::ReplyInPieces({Hex("AA BB 34 12")});
  ReadOTX1();
  ExitDebug();
  EXPECT_EQ(fake::Writes(), (std::vector<fake::Bytes>{
                                Hex("4B 02 81 3B 06 89 6B 00 83 4B 01 01 4B 02 81 2A 07 2A 07 4B 00 43 4B 01 01"),
                                Hex("4B 02 81 3B 06 BF 6B 00 83 4B 01 01")}));
  EXPECT_EQ(DataRead, 0x1234);
}

// One injection: the one-word instruction 0x8C8C (OMR from the value loaded) with the execute
// bit, then three EOnCE instruction scans that give the core its time.
TEST_F(TargetAccessTest, OneInjectedInstruction) {
  WriteOMR(2);
  const fake::Bytes sent = fake::Writes().at(0);
  const fake::Bytes last(sent.end() - 63, sent.end());
  EXPECT_EQ(last, Hex("4B 02 81 3B 06 44 6B 00 43 4B 01 01  4B 02 81 3B 07 8C 3B 06 8C 6B 00 83 4B 01 01"
                      "4B 04 06 3B 02 06 6B 00 43 4B 01 01  4B 04 06 3B 02 06 6B 00 43 4B 01 01"
                      "4B 04 06 3B 02 06 6B 00 43 4B 01 01"));
  EXPECT_EQ(InjectedWords(sent), (std::vector<std::uint16_t>{0xE41C, 0x0002, 0x0000, 0x8C8C}));
}

}  // namespace
