#include "FTDILib.h"

#include <gtest/gtest.h>

#include "FlashLib.h"
#include "TestSupport.h"

namespace {

class FTDILibTest : public ::testing::Test {
 protected:
  void SetUp() override { ResetHost(); }
  fake::Bytes Built() const { return fake::Bytes(byOutputBuffer, byOutputBuffer + dwNumBytesToSend); }
};

TEST_F(FTDILibTest, EachBuilderAppendsItsCommand) {
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
  EXPECT_EQ(Built(), Hex("1A 07 A5  1B 00 FF  2A 07  2E 02  3B 06 44  3E 01 03  4A 04 FF  4B 04 06  6B 00 83"
                         "80 18 1B  82 00 00  85  86 1D 00  8A  8D  8E 07  97  AA"));
  // One reply byte per read command, two for the bad-command echo.
  EXPECT_EQ(dwNumRepliesBuilt, 7u);
  EXPECT_TRUE(fake::Writes().empty());
}

TEST_F(FTDILibTest, FlushSendsEverythingInOneWriteAndEmptiesTheBuffer) {
  ConfigADBUS(0x18, 0x1B);
  LoopbackOFF();
  EXPECT_EQ(dwNumBytesToSend, 4u);
  EXPECT_EQ(Built(), Hex("80 18 1B 85"));
  GetDataUp(8);
  FlushOutputBuffer();
  ASSERT_EQ(fake::Writes().size(), 1u);
  EXPECT_EQ(fake::Writes()[0], Hex("80 18 1B 85 2A 07"));
  EXPECT_EQ(dwNumBytesToSend, 0u);
  EXPECT_EQ(dwNumRepliesOwed, 1u);
  FlushOutputBuffer();
  EXPECT_EQ(fake::Writes().size(), 1u);

  // A failed write empties the buffer too, and leaves no answer to wait for.
  fake::adapter.statuses["FT_Write"] = FT_IO_ERROR;
  GetDataUp(8);
  FlushOutputBuffer();
  EXPECT_EQ(ftStatus, FT_IO_ERROR);
  EXPECT_EQ(dwNumBytesToSend, 0u);
  EXPECT_EQ(dwNumRepliesOwed, 1u);
  EXPECT_EQ(TakeLinkFailure(), LinkFailure::WriteFailed);
}

TEST_F(FTDILibTest, ReadDataTakesTheTailOfTheWholeAnswer) {
  GetDataUp(8);
  GetDataUp(8);
  GetDataUp(8);
  fake::Reply(Hex("12 34 56"));
  FlushOutputBuffer();
  ReadData(2);
  EXPECT_EQ(DataRead, 0x5634);

  GetDataUp(8);
  fake::Reply(Hex("56"));
  FlushOutputBuffer();
  ReadData(1);
  EXPECT_EQ(DataRead, 0x56);

  // The top byte of a 4-byte value is the last received.
  for (int i = 0; i < 4; ++i) GetDataUp(8);
  fake::Reply(Hex("1D 60 F4 81"));
  FlushOutputBuffer();
  ReadData(4);
  EXPECT_EQ(static_cast<std::uint32_t>(DataRead), 0x81F4601Du);
}

TEST_F(FTDILibTest, AnAnswerInPiecesIsReadWhole) {
  GetDataUp(8);
  GetDataUp(8);
  GetDataUp(8);
  fake::ReplyInPieces({Hex("12"), {}, Hex("34"), {}, {}, Hex("56")});
  FlushOutputBuffer();
  ReadData(2);
  EXPECT_EQ(DataRead, 0x5634);
  // Nothing of this answer is left over to spoil the next read.
  EXPECT_TRUE(fake::adapter.rx.empty());
  EXPECT_TRUE(fake::adapter.arriving.empty());
}

// Each failed read leaves 0, is latched until taken, and stops every transfer meanwhile.
TEST_F(FTDILibTest, FailedReadsAreLatchedUntilTaken) {
  struct Case {
    const char* name;
    fake::Bytes answer;
    FT_STATUS readStatus;
    LinkFailure failure;
    const char* shown;
  };
  const Case cases[] = {
      // Two read commands, one byte: the answer stops half way; the bound ends the wait.
      {"answer stops half way", Hex("12"), FT_OK, LinkFailure::NoAnswer, " The Data Reading Failed\n"},
      {"FT_Read fails", Hex("12 34"), FT_IO_ERROR, LinkFailure::ReadFailed, " The Data Reading Failed\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ResetHost();
    GetDataUp(8);
    GetDataUp(8);
    fake::Reply(c.answer);
    FlushOutputBuffer();
    fake::adapter.statuses["FT_Read"] = c.readStatus;
    const std::uint64_t before = fake::adapter.clockMs;
    testing::internal::CaptureStdout();
    ReadData(2);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), c.shown);
    EXPECT_EQ(DataRead, 0);
    EXPECT_LT(fake::adapter.clockMs - before, ReadTimeoutMs + 100);
    fake::adapter.statuses.clear();
    // Latched: nothing is sent or read, silently.
    GetDataUp(8);
    FlushOutputBuffer();
    testing::internal::CaptureStdout();
    ReadData(1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(fake::Writes().size(), 1u);
    EXPECT_EQ(TakeLinkFailure(), c.failure);
    EXPECT_EQ(TakeLinkFailure(), LinkFailure::None);
  }

  // The rest of an answer that timed out is still owed: the next read waits for it too, and
  // takes its own value from the tail, not the late byte.
  ResetHost();
  GetDataUp(8);
  GetDataUp(8);
  fake::Reply(Hex("12"));
  FlushOutputBuffer();
  testing::internal::CaptureStdout();
  ReadData(2);
  testing::internal::GetCapturedStdout();
  TakeLinkFailure();
  fake::Preload(Hex("34"));
  GetDataUp(8);
  fake::ReplyInPieces({{}, Hex("56")});
  FlushOutputBuffer();
  ReadData(1);
  EXPECT_EQ(DataRead, 0x56);
  EXPECT_EQ(TakeLinkFailure(), LinkFailure::None);

  // An answer shorter than the value: 0, latched, no message.
  ResetHost();
  GetDataUp(8);
  fake::Reply(Hex("12"));
  FlushOutputBuffer();
  testing::internal::CaptureStdout();
  ReadData(4);
  EXPECT_EQ(DataRead, 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(TakeLinkFailure(), LinkFailure::ShortAnswer);

  // A write that fails is latched; the buffer is emptied anyway.
  fake::adapter.statuses["FT_Write"] = FT_IO_ERROR;
  GetDataUp(8);
  FlushOutputBuffer();
  EXPECT_EQ(dwNumBytesToSend, 0u);
  EXPECT_EQ(TakeLinkFailure(), LinkFailure::WriteFailed);
}

TEST_F(FTDILibTest, ReadDataWaitsTheSetWaitBeforePolling) {
  for (bool verifying : {false, true}) {
    ResetHost();
    ChooseReadWait(verifying);
    GetDataUp(8);
    fake::Reply(Hex("01"));
    FlushOutputBuffer();
    ReadData(1);
    EXPECT_EQ(fake::Sleeps(), std::vector<std::uint32_t>{verifying ? 4u : 6u});
    EXPECT_EQ(fake::CallNames()[1], "Sleep");
  }
}

TEST_F(FTDILibTest, AnAnswerLongerThanTheReceiveBufferKeepsItsTail) {
  fake::Bytes answer(InputBufferSize + 300);
  for (std::size_t i = 0; i < answer.size(); ++i) answer[i] = static_cast<std::uint8_t>(i);
  for (std::size_t i = 0; i < answer.size(); ++i) GetDataUp(8);
  fake::ReplyInPieces({fake::Bytes(answer.begin(), answer.begin() + 1000),
                       fake::Bytes(answer.begin() + 1000, answer.end())});
  FlushOutputBuffer();
  ReadData(2);
  const std::size_t n = answer.size();
  EXPECT_EQ(DataRead, answer[n - 2] | answer[n - 1] << 8);
  EXPECT_LE(dwNumBytesRead, InputBufferSize);
  for (const fake::Call& call : fake::adapter.calls) {
    if (call.name == "FT_Read") {
      EXPECT_LE(call.args[0], InputBufferSize);
    }
  }
}

}  // namespace
