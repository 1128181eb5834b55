// The flash driver against the recording adapter: how the status words read back steer the
// command cycle and the initialisation, one program command word by word, and a failed transfer
// failing the one operation it happened in.
#include "FlashLib.h"

#include <gtest/gtest.h>

#include <functional>

#include "FTDILib.h"
#include "TestSupport.h"

namespace {

using Words = std::vector<std::uint16_t>;

class FlashDriverTest : public HostTest {};

// Answers for the next writes in order: an empty tail is an answer of zeros.
void Answers(std::initializer_list<fake::Bytes> tails) {
  for (const fake::Bytes& tail : tails) fake::ReplyTail(tail);
}

const fake::Bytes None = {};
const fake::Bytes OMR2 = Hex("02 00");

// What the core was told in each write, as the cycle reads: "X:F401=1" stores 1 into X:0xF401,
// "X:F413?" reads it back, "P:12340=1111" is an array write into program flash.
std::vector<std::string> CoreSteps() {
  std::vector<std::string> writes;
  for (const fake::Bytes& write : fake::Writes()) {
    const Words words = InjectedWords(write);
    std::uint32_t value = 0, address = 0, data = 0;
    std::string steps;
    char step[32];
    for (std::size_t i = 0; i < words.size(); ++i) {
      step[0] = '\0';
      if (words[i] == 0xE41C) value = words[i + 1] | words[i + 2] << 16u, i += 2;
      else if (words[i] == 0x81A0) address = value;
      else if (words[i] == 0x808C) data = value;
      else if (words[i] == 0xD000) std::snprintf(step, sizeof step, "X:%04X=%X", address, data);
      else if (words[i] == 0x8360) std::snprintf(step, sizeof step, "P:%05X=%X", address, data);
      else if (words[i] == 0xF080) std::snprintf(step, sizeof step, "X:%04X?", address);
      else if (words[i] == 0xE77F) i += 2;  // the read word on its way to OTX1
      if (step[0] != '\0') steps.append(steps.empty() ? "" : " ").append(step);
    }
    writes.push_back(steps);
  }
  return writes;
}

// FMCR, then the two array writes, the command and the launch in one write with the status
// read that follows them.
TEST_F(FlashDriverTest, AProgramCommandWordByWord) {
  CBEIF = 1;
  Answers({None, Hex("C0 00")});
  WriteProgramFlash(0x12340, 0x1111, 0x12341, 0x2222);
  EXPECT_EQ(InjectedWords(fake::Writes()[0]), (Words{0xE41C, 0xF401, 0, 0x81A0, 0xE41C, 0, 0, 0x808C, 0xD000}));
  EXPECT_EQ(InjectedWords(fake::Writes()[1]),
            (Words{0xE41C, 0x2340, 1, 0x81A0, 0xE41C, 0x1111, 0, 0x808C, 0x8360, 0xE41C, 0x2341, 1, 0x81A0, 0xE41C,
                   0x2222, 0, 0x808C, 0x8360, 0xE41C, 0xF414, 0, 0x81A0, 0xE41C, 0x20, 0, 0x808C, 0xD000, 0xE41C,
                   0xF413, 0, 0x81A0, 0xE41C, 0x80, 0, 0x808C, 0xD000, 0xE41C, 0xF413, 0, 0x81A0, 0xF080, 0xE77F,
                   0xD07C, 0xFFFF}));
}

// The status read after each launch: a busy buffer is waited for before the next command, a
// protection violation or access error is cleared in the same flush, the violation first.
TEST_F(FlashDriverTest, TheStatusReadBackSteersTheCycle) {
  struct Case {
    const char* name;
    std::function<void()> operation;
    std::int32_t cbeif;                    // before
    std::vector<fake::Bytes> answers;      // tails, one per write
    std::vector<std::string> steps;        // what each write told the core
  };
  const Case cases[] = {
      {"buffer busy, then access error", [] { WriteDataFlash(0x2005, 0xABCD); }, 0,
       {Hex("00 00"), Hex("80 00"), None, Hex("90 00")},
       {"X:F413?", "X:F413?", "X:F401=1", "X:2005=ABCD X:F414=20 X:F413=80 X:F413?", "X:F413=10"}},
      {"protection violation", [] { WriteBootFlash(0x20001, 0x0F0F); }, 1, {None, Hex("A0 00")},
       {"X:F401=0", "P:20001=F0F X:F414=20 X:F413=80 X:F413?", "X:F413=20"}},
      // A loaded divider is left alone; a bank other than 0 and 1 gets no latch write.
      {"erase, bank 2", [] { EraseMemory(0x1000, 2, 0x41); }, 1,
       {Hex("80 00"), Hex("C0 00"), None, Hex("C0 00"), Hex("C0 00")},
       {"X:F400?", "X:F413?", "X:F401=2", "X:F414=41 X:F413=80 X:F413?", "X:F413?"}},
      {"erase, both errors", [] { EraseMemory(0x2000, 1, 0x41); }, 1,
       {Hex("00 00"), None, Hex("C0 00"), None, Hex("F0 00")},
       {"X:F400?", "X:F400=52", "X:F413?", "X:F401=1", "X:2000=0 X:F414=41 X:F413=80 X:F413?", "X:F413=20"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ResetHost();
    CBEIF = c.cbeif;
    for (const fake::Bytes& answer : c.answers) fake::ReplyTail(answer);
    c.operation();
    FlushOutputBuffer();
    EXPECT_EQ(CoreSteps(), c.steps);
  }
}

// Every check runs, and any one that fails fails the whole; an earlier failure does not linger.
TEST_F(FlashDriverTest, InitialisationConfirmsEverySetting) {
  const fake::Bytes OMR0102 = Hex("02 01"), Protected = Hex("FF FF");
  const std::vector<fake::Bytes> cases[] = {
      {OMR2, None, None, None}, {OMR0102, None, None, None}, {OMR2, None, Protected, None}};
  for (const std::vector<fake::Bytes>& readBacks : cases) {
    ResetHost();
    ErrorFlag = 1;
    Answers({None, None, None, None, None, None, readBacks[0]});
    for (int check = 1; check <= 3; ++check) Answers({None, None, readBacks[check]});
    const bool good = &readBacks == &cases[0];
    CaptureStdout();
    EXPECT_EQ(Initialisation(), good ? Outcome::Done : Outcome::Failed);
    EXPECT_EQ(TakeStdout(),
              std::string("\n Initialization of the CPU...\n") + (good ? " Initialization done\n" : " Initialization error\n"));
    EXPECT_EQ(ErrorFlag, good ? 0 : 1);
    EXPECT_EQ(CoreSteps().back(), "X:F410?") << "the data flash's protection, checked last";
  }
}

// A failed transfer fails the operation it happened in, once: the next one starts clean. The
// OMR read-back gets one byte of its answer, then nothing: the wait for the rest ends.
TEST_F(FlashDriverTest, ALinkFailureFailsOneOperation) {
  Answers({None, None, None, None, None, None});
  fake::ReplyInPieces({Hex("02")});
  CaptureStdout();
  EXPECT_EQ(Initialisation(), Outcome::LinkLost);
  EXPECT_EQ(TakeStdout(), "\n Initialization of the CPU...\n The Data Reading Failed\n The adapter was lost\n Initialization error\n");
  fake::Preload(fake::Bytes(dwNumRepliesOwed, 0x00));  // what the failed read still owed
  Answers({None, None, None, None, None, None, OMR2});
  CaptureStdout();
  EXPECT_EQ(Initialisation(), Outcome::Done);
  EXPECT_EQ(TakeStdout(), "\n Initialization of the CPU...\n Initialization done\n");
}

// Too long a batch is the program's fault, not the adapter's: nothing of it leaves, and the
// operation fails.
TEST_F(FlashDriverTest, ACommandBufferOverflowFailsTheOperation) {
  CaptureStdout();
  for (DWORD i = 0; i <= OutputBufferSize / 2; ++i) SendFreeClocks(8);
  FlushOutputBuffer();
  EXPECT_EQ(Conclude(Outcome::Done), Outcome::Failed);
  EXPECT_EQ(TakeStdout(), " Command buffer overflow\n");
  EXPECT_TRUE(fake::Writes().empty());
  EXPECT_EQ(ErrorFlag, 1);
}

TEST_F(FlashDriverTest, AFlashCommandThatNeverCompletesFailsAfterFiveSeconds) {
  for (int i = 0; i < 2000; ++i) fake::ReplyTail(Hex("80 00"));  // always busy
  const std::uint64_t start = fake::adapter.clockMs;
  CaptureStdout();
  EraseMemory(0, 0, 0x41);
  EXPECT_EQ(TakeStdout(), " Flash command timeout\n");
  EXPECT_EQ(ACCERR, 1);
  EXPECT_GE(fake::adapter.clockMs - start, 5000u);
  EXPECT_LT(fake::adapter.clockMs - start, 5200u);
}

}  // namespace
