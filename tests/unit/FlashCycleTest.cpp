// Initialisation and the flash-module command cycle against the recording adapter: what is
// sent, in which USB writes, and how the status words read back steer the cycle.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "FTDILib.h"
#include "QZFlash.h"
#include "TestSupport.h"

namespace {

using Words = std::vector<std::uint16_t>;

class FlashCycleTest : public ::testing::Test {
 protected:
  void SetUp() override { ResetHost(); }
};

std::vector<std::size_t> WriteSizes() {
  std::vector<std::size_t> sizes;
  for (const fake::Bytes& write : fake::Writes()) sizes.push_back(write.size());
  return sizes;
}


// Answers for the next writes in order: an empty tail is an answer of zeros.
void Answers(std::initializer_list<fake::Bytes> tails) {
  for (const fake::Bytes& tail : tails) fake::ReplyTail(tail);
}

// The core's store of value into X:address, as the X write sequence hands it over.
Words XStore(std::uint16_t address, std::uint16_t value) {
  return {0xE41C, address, 0, 0x81A0, 0xE41C, value, 0, 0x808C, 0xD000};
}

bool Contains(const Words& haystack, const Words& needle) {
  return std::search(haystack.begin(), haystack.end(), needle.begin(), needle.end()) != haystack.end();
}

const fake::Bytes None = {};
const fake::Bytes OMR2 = Hex("02 00");

TEST_F(FlashCycleTest, InitialisationWritesAndReadsAsDesigned) {
  Answers({None, None, None, None, None, None, OMR2});
  testing::internal::CaptureStdout();
  Initialisation();
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "\n Initialization of the CPU...\n Initialization done\n");
  EXPECT_EQ(ErrorFlag, 0);
  EXPECT_EQ(WriteSizes(), (std::vector<std::size_t>{3, 3, 51, 59, 24, 180, 205, 423, 423, 385, 423, 423, 385, 423,
                                                    423, 385}));
  // The reset pulse's waits, then one wait before each of the five reads.
  EXPECT_EQ(fake::Sleeps(), (std::vector<std::uint32_t>{1000, 800, 200, 6, 6, 6, 6, 6}));
  const std::vector<fake::Bytes> writes = fake::Writes();
  EXPECT_EQ(writes[4], Hex("4B 02 81 3B 06 01 6B 00 43 4B 01 01 4B 02 81 3B 06 20 6B 00 43 4B 01 01"));
  EXPECT_EQ(InjectedWords(writes[5]), (Words{0xE41C, 2, 0, 0x8C8C}));
  EXPECT_EQ(InjectedWords(writes[7]), XStore(0xF401, 0));
  EXPECT_EQ(InjectedWords(writes[8]), XStore(0xF410, 0));
  EXPECT_EQ(InjectedWords(writes[10]), XStore(0xF401, 0));
  EXPECT_EQ(InjectedWords(writes[11]), XStore(0xF411, 0));
  EXPECT_EQ(InjectedWords(writes[13]), XStore(0xF401, 1));
  EXPECT_EQ(InjectedWords(writes[14]), XStore(0xF410, 0));
}

TEST_F(FlashCycleTest, AFailedCheckIsReportedAfterAllChecksRan) {
  // OMR reads back 0x0102.
  Answers({None, None, None, None, None, None, Hex("02 01")});
  testing::internal::CaptureStdout();
  Initialisation();
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "\n Initialization of the CPU...\n Initialization error\n");
  EXPECT_EQ(ErrorFlag, 1);
  EXPECT_EQ(fake::Writes().size(), 16u);

  // One protection register that stays set; an earlier error flag does not linger.
  for (int failing = 0; failing < 3; ++failing) {
    ResetHost();
    ErrorFlag = 1;
    Answers({None, None, None, None, None, None, OMR2});
    for (int check = 0; check < 3; ++check) Answers({None, None, check == failing ? Hex("FF FF") : None});
    testing::internal::CaptureStdout();
    Initialisation();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "\n Initialization of the CPU...\n Initialization error\n");
    EXPECT_EQ(ErrorFlag, 1);
    EXPECT_EQ(fake::Writes().size(), 16u);
  }
  ResetHost();
  ErrorFlag = 1;
  Answers({None, None, None, None, None, None, OMR2});
  testing::internal::CaptureStdout();
  Initialisation();
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(ErrorFlag, 0);
}

TEST_F(FlashCycleTest, EraseLatchesLaunchesAndWaitsForCompletion) {
  // FMCLKD not loaded, FMUSTAT busy once, then the erase runs for two polls.
  Answers({None, None, Hex("00 00"), Hex("C0 00"), None, Hex("80 00"), Hex("80 00"), Hex("C0 00")});
  EraseMemory(0x10000, 0, 0x41);
  EXPECT_EQ(WriteSizes(), (std::vector<std::size_t>{385, 423, 385, 385, 423, 1654, 385, 385}));
  const std::vector<fake::Bytes> writes = fake::Writes();
  EXPECT_EQ(InjectedWords(writes[1]), XStore(0xF400, 0x52));
  EXPECT_EQ(InjectedWords(writes[4]), XStore(0xF401, 0));
  EXPECT_EQ(InjectedWords(writes[5]),
            (Words{0xE41C, 0x0000, 0x0001, 0x81A0, 0xE41C, 0, 0, 0x808C, 0x8360, 0xE41C, 0xF414, 0, 0x81A0, 0xE41C,
                   0x41, 0, 0x808C, 0xD000, 0xE41C, 0xF413, 0, 0x81A0, 0xE41C, 0x80, 0, 0x808C, 0xD000, 0xE41C,
                   0xF413, 0, 0x81A0, 0xF080, 0xE77F, 0xD07C, 0xFFFF}));
  EXPECT_EQ(CCIF, 1);
  EXPECT_EQ(PVIOL, 0);
  EXPECT_EQ(ACCERR, 0);
  EXPECT_EQ(dwNumBytesToSend, 0u);
}

TEST_F(FlashCycleTest, EraseEdgeCases) {
  // A loaded clock divider is left alone; a bank other than 0 and 1 gets no latch write.
  Answers({Hex("80 00"), Hex("C0 00"), None, Hex("C0 00"), Hex("C0 00")});
  EraseMemory(0x1000, 2, 0x41);
  EXPECT_EQ(WriteSizes(), (std::vector<std::size_t>{385, 385, 423, 1231, 385}));
  EXPECT_EQ(DIVLD, 1);

  // Both error bits after the launch: only the protection violation is cleared, queued.
  ResetHost();
  Answers({Hex("80 00"), Hex("C0 00"), None, Hex("F0 00")});
  EraseMemory(0x2000, 1, 0x41);
  EXPECT_EQ(PVIOL, 1);
  EXPECT_EQ(ACCERR, 1);
  EXPECT_EQ(fake::Writes().size(), 4u);
  EXPECT_TRUE(Contains(InjectedWords(fake::Writes()[3]), {0xE41C, 0x2000, 0, 0x81A0, 0xE41C, 0, 0, 0x808C, 0xD000}));
  const fake::Bytes queued(byOutputBuffer, byOutputBuffer + dwNumBytesToSend);
  EXPECT_EQ(InjectedWords(queued), XStore(0xF413, 0x20));
}

TEST_F(FlashCycleTest, FullEraseCoversEveryBlockOfTheVariant) {
  struct Case {
    int variant;
    std::vector<Words> latches;
  };
  const Case cases[] = {
      {1, {{0, 0, 0x8360}, {0, 1, 0x8360}, {0, 2, 0x8360}, {0x2000, 0, 0xD000}}},
      {2, {{0, 0, 0x8360}, {0, 2, 0x8360}, {0x1000, 0, 0xD000}}},
  };
  for (const Case& c : cases) {
    ResetHost();
    // Every FMUSTAT read says idle and complete; FMCLKD reads loaded.
    for (int i = 0; i < 40; ++i) fake::ReplyTail(Hex("C0 00"));
    FullErase(c.variant);
    const Words words = InjectedWords(AllWritten());
    std::vector<Words> latches;
    const Words eraseCommand = {0xE41C, 0xF414, 0, 0x81A0, 0xE41C, 0x41, 0, 0x808C, 0xD000};
    for (auto at = words.begin(); (at = std::search(at, words.end(), eraseCommand.begin(), eraseCommand.end())) != words.end();
         ++at) {
      // The latch write comes right before the command: address halves and the store.
      latches.push_back({*(at - 8), *(at - 7), *(at - 1)});
    }
    EXPECT_EQ(latches, c.latches) << "variant " << c.variant;
    EXPECT_EQ(ErrorFlag, 0);
  }
}

TEST_F(FlashCycleTest, WritersPollOnlyWhenTheBufferWasBusy) {
  CBEIF = 1;
  Answers({None, Hex("C0 00")});
  WriteProgramFlash(0x12340, 0x1111, 0x12341, 0x2222);
  EXPECT_EQ(WriteSizes(), (std::vector<std::size_t>{423, 423 * 4 + 385}));
  EXPECT_EQ(InjectedWords(fake::Writes()[0]), XStore(0xF401, 0));
  EXPECT_EQ(InjectedWords(fake::Writes()[1]),
            (Words{0xE41C, 0x2340, 1, 0x81A0, 0xE41C, 0x1111, 0, 0x808C, 0x8360, 0xE41C, 0x2341, 1, 0x81A0, 0xE41C,
                   0x2222, 0, 0x808C, 0x8360, 0xE41C, 0xF414, 0, 0x81A0, 0xE41C, 0x20, 0, 0x808C, 0xD000, 0xE41C,
                   0xF413, 0, 0x81A0, 0xE41C, 0x80, 0, 0x808C, 0xD000, 0xE41C, 0xF413, 0, 0x81A0, 0xF080, 0xE77F,
                   0xD07C, 0xFFFF}));
  EXPECT_EQ(CBEIF, 1);

  // The buffer was full after the last launch: wait for it first.
  ResetHost();
  CBEIF = 0;
  Answers({Hex("00 00"), Hex("80 00"), None, Hex("90 00")});
  WriteDataFlash(0x2005, 0xABCD);
  EXPECT_EQ(WriteSizes(), (std::vector<std::size_t>{385, 385, 423, 423 * 3 + 385, 423}));
  EXPECT_TRUE(Contains(InjectedWords(fake::Writes()[3]), {0xE41C, 0x2005, 0, 0x81A0, 0xE41C, 0xABCD, 0, 0x808C, 0xD000}));
  EXPECT_EQ(InjectedWords(fake::Writes()[2]), XStore(0xF401, 1));
  // The access error is cleared in the same flush.
  EXPECT_EQ(ACCERR, 1);
  EXPECT_EQ(InjectedWords(fake::Writes()[4]), XStore(0xF413, 0x10));

  ResetHost();
  CBEIF = 1;
  Answers({None, Hex("A0 00")});
  WriteBootFlash(0x20001, 0x0F0F);
  EXPECT_TRUE(Contains(InjectedWords(fake::Writes()[1]), {0xE41C, 1, 2, 0x81A0, 0xE41C, 0x0F0F, 0, 0x808C, 0x8360}));
  EXPECT_EQ(PVIOL, 1);
  EXPECT_EQ(InjectedWords(fake::Writes()[2]), XStore(0xF413, 0x20));
}

TEST_F(FlashCycleTest, AFlashCommandThatNeverCompletesFailsAfterFiveSeconds) {
  // Every status read says busy.
  for (int i = 0; i < 2000; ++i) fake::ReplyTail(Hex("80 00"));
  const std::uint64_t start = fake::adapter.clockMs;
  testing::internal::CaptureStdout();
  EraseMemory(0, 0, 0x41);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), " Flash command timeout\n");
  EXPECT_EQ(ErrorFlag, 1);
  EXPECT_EQ(ACCERR, 1);
  EXPECT_GE(fake::adapter.clockMs - start, 5000u);
  EXPECT_LT(fake::adapter.clockMs - start, 5200u);
}

// A failed transfer fails the operation it happened in, once: the next one starts clean, and
// waits for what the failed read still owed if that comes late.
TEST_F(FlashCycleTest, ALinkFailureFailsOneOperation) {
  struct Case {
    const char* name;
    std::function<void()> fault;  // set up before the first initialisation
    const char* shown;
    bool restComesLate;  // the rest of the answer arrives after the failure
  };
  const Case cases[] = {
      {"a write that fails", [] { fake::adapter.statuses["FT_Write"] = FT_IO_ERROR; }, "", false},
      // The OMR read-back gets one byte of its two, then nothing: the wait for the rest ends.
      {"an answer that stops", [] { Answers({None, None, None, None, None, None}); fake::ReplyInPieces({Hex("02")}); },
       " The Data Reading Failed\n", true},
      {"a read that fails", [] { fake::adapter.statuses["FT_GetQueueStatus"] = FT_IO_ERROR; },
       " The Data Reading Failed\n", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ResetHost();
    c.fault();
    testing::internal::CaptureStdout();
    EXPECT_EQ(Initialisation(), Outcome::LinkLost);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              std::string("\n Initialization of the CPU...\n") + c.shown + " Initialization error\n");
    EXPECT_EQ(ErrorFlag, 1);
    EXPECT_LE(fake::Writes().size(), 7u) << "nothing is sent after the failure";
    fake::adapter.statuses.clear();
    fake::adapter.replies.clear();
    if (c.restComesLate) fake::Preload(fake::Bytes(dwNumRepliesOwed, 0x00));
    Answers({None, None, None, None, None, None, OMR2});
    testing::internal::CaptureStdout();
    EXPECT_EQ(Initialisation(), Outcome::Done);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "\n Initialization of the CPU...\n Initialization done\n");
  }
}

}  // namespace
