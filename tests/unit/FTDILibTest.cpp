// The MPSSE command stream against the recording adapter: the bytes of each command, one write
// per send, and how answers are read back, awaited, and failed.
#include "FTDILib.h"

#include <gtest/gtest.h>

#include "TestSupport.h"

namespace {

class FTDILibTest : public HostTest {};

TEST_F(FTDILibTest, EachBuilderAppendsItsCommandAndAFlushSendsThemInOneWrite) {
  SendDataUp(8, 0x1A5);
  SendDataDown(1, 0xFF);
  GetDataUp(8);
  GetDataDown(3);
  SendDataDownandGetDataUp(7, 0x44);
  SendDataUpandGetDataDown(2, 0x03);
  SendTMSCmdUp(5, 0xFF);
  SendTMSCmdDown(5, 0x06);
  SendTMSCmdDownandReadUp(1, 0x83);
  ConfigADBUS(0x18, 0x1B);
  ConfigACBUS(0x00, 0x00);
  LoopbackOFF();
  ConfigTCK();
  TCKMax();
  ThreePhasesDataClockOFF();
  SendFreeClocks(8);
  AdaptativeClockOFF();
  WrongCode();
  EXPECT_TRUE(fake::Writes().empty());
  FlushOutputBuffer();
  FlushOutputBuffer();  // nothing built: nothing sent
  EXPECT_EQ(fake::Writes(), std::vector<fake::Bytes>{Hex("1A 07 A5  1B 00 FF  2A 07  2E 02  3B 06 44  3E 01 03"
                                                         "4A 04 FF  4B 04 06  6B 00 83  80 18 1B  82 00 00  85"
                                                         "86 1D 00  8A  8D  8E 07  97  AA")});
  // One reply byte per read command, two for the bad-command echo.
  EXPECT_EQ(dwNumRepliesOwed, 7u);
}

// ReadData waits, then reads until the whole answer to what was sent has come, and takes its
// value from the tail, the last byte most significant. A fast read asks the chip for the answer
// at once (0x87) and does not wait.
TEST_F(FTDILibTest, AnswersAreAwaitedWholeAndReadFromTheirTail) {
  struct Case {
    const char* name;
    int reads, width;
    std::vector<fake::Bytes> pieces;
    std::uint32_t value;
    ReadMode mode = ReadMode::FixedWait;
  };
  fake::Bytes long1300(1300);
  for (std::size_t i = 0; i < long1300.size(); ++i) long1300[i] = static_cast<std::uint8_t>(i);
  const Case cases[] = {
      // Longer than the receive buffer, in one piece: the tail is kept.
      {"longer than the buffer", 1300, 2, {long1300}, 0x1312},
      {"fast, in pieces", 3, 2, {Hex("12"), {}, Hex("34 56")}, 0x5634, ReadMode::SendImmediate},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ResetHost();
    SetReadWait(4);
    SetReadMode(c.mode);
    for (int i = 0; i < c.reads; ++i) GetDataUp(8);
    fake::ReplyInPieces(c.pieces);
    FlushForRead();
    ReadData(c.width);
    SetReadMode(ReadMode::FixedWait);
    EXPECT_EQ(static_cast<std::uint32_t>(DataRead), c.value);
    const bool fast = c.mode == ReadMode::SendImmediate;
    EXPECT_EQ(fake::Writes()[0].back(), fast ? 0x87 : 0x07) << "the last byte: 0x87, or the read's length";
    EXPECT_EQ(fake::adapter.calls[1].name, fast ? "FT_GetQueueStatus" : "Sleep");
    EXPECT_TRUE(fake::adapter.rx.empty() && fake::adapter.arriving.empty()) << "all of it read";
    for (const fake::Call& call : fake::adapter.calls) {
      if (call.name == "FT_Read") {
        EXPECT_LE(call.args[0], InputBufferSize);
      }
    }
  }
}

// Each failed transfer leaves 0, is latched until taken, and stops every transfer meanwhile.
TEST_F(FTDILibTest, FailuresAreLatchedUntilTaken) {
  struct Case {
    const char* name;
    void (*fault)();
    int reads, width;
    fake::Bytes answer;
    LinkFailure failure;
    const char* shown;
  };
  const Case cases[] = {
      {"an answer that stops half way", [] {}, 2, 2, Hex("12"), LinkFailure::NoAnswer, " The Data Reading Failed\n"},
      {"FT_Read fails", [] { fake::adapter.statuses["FT_Read"] = FT_IO_ERROR; }, 2, 2, Hex("12 34"),
       LinkFailure::ReadFailed, " The Data Reading Failed\n"},
      {"an answer shorter than its value", [] {}, 1, 4, Hex("12"), LinkFailure::ShortAnswer, ""},
      {"FT_Write fails", [] { fake::adapter.statuses["FT_Write"] = FT_IO_ERROR; }, 1, 1, {}, LinkFailure::WriteFailed,
       ""},
      {"FT_Write takes part", [] { fake::adapter.writeLimit = 1; }, 1, 1, {}, LinkFailure::WriteFailed, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ResetHost();
    c.fault();
    for (int i = 0; i < c.reads; ++i) GetDataUp(8);
    fake::ReplyInPieces({c.answer});
    FlushOutputBuffer();
    const std::uint64_t before = fake::adapter.clockMs;
    CaptureStdout();
    ReadData(c.width);
    EXPECT_EQ(TakeStdout(), c.shown);
    EXPECT_EQ(DataRead, 0);
    EXPECT_LT(fake::adapter.clockMs - before, ReadTimeoutMs + 100);
    // Latched: nothing is sent or read, silently.
    const std::size_t calls = fake::adapter.calls.size();
    GetDataUp(8);
    FlushOutputBuffer();
    CaptureStdout();
    ReadData(1);
    EXPECT_EQ(TakeStdout(), "");
    EXPECT_EQ(fake::adapter.calls.size(), calls);
    EXPECT_EQ(TakeLinkFailure(), c.failure);
    EXPECT_EQ(TakeLinkFailure(), LinkFailure::None);
  }

  // The rest of an answer that timed out is still owed: the next read waits for it too, and
  // takes its own value from the tail, not the late byte.
  ResetHost();
  GetDataUp(8);
  GetDataUp(8);
  fake::ReplyInPieces({Hex("12")});
  FlushOutputBuffer();
  CaptureStdout();
  ReadData(2);
  TakeStdout();
  TakeLinkFailure();
  fake::Preload(Hex("34"));
  GetDataUp(8);
  fake::ReplyInPieces({{}, Hex("56")});
  FlushOutputBuffer();
  ReadData(1);
  EXPECT_EQ(DataRead, 0x56);
  EXPECT_EQ(TakeLinkFailure(), LinkFailure::None);
}

// An MPSSE in step answers the unknown opcode 0xAA with 0xFA and the opcode, anywhere in what
// it sends back.
TEST_F(FTDILibTest, TheEchoMustHoldFAThenAA) {
  const std::pair<const char*, int> cases[] = {{"FA AA", 0}, {"00 FA AA", 0}, {"FA", 1}, {"AA FA", 1}, {"FA 00", 1}};
  for (const auto& [answer, result] : cases) {
    ResetHost();
    fake::ReplyInPieces({Hex(answer)});
    CaptureStdout();
    EXPECT_EQ(SyncMPSSE(), result) << answer;
    EXPECT_EQ(TakeStdout(), result == 0 ? "" : " Error in synchronizing the port\n");
    EXPECT_EQ(fake::adapter.calls.back().name, result == 0 ? "FT_Read" : "FT_Close") << answer;
    TakeLinkFailure();
  }
}

}  // namespace
