// qzflash-sim end to end: identification, initialisation and the full erase, on both variants
// and under the faults real benches see.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>

#include "Console.h"
#include "Run.h"

namespace {

using namespace console;

const std::string State = "flash.txt";

// A state file with programmed words at both ends of every flash block of the variant, in the
// order the model saves them.
std::string ProgrammedState(int variant) {
  std::string rows = "P 00000: 0000 1111 2222 3333 4444 5555 6666 7777\nP 0FFF8: 0001 0002 0003 0004 0005 0006 0007 0008\n";
  if (variant == 1) rows += "P 10000: 0F0F FFFF FFFF FFFF FFFF FFFF FFFF FFFF\nP 1FFF8: FFFF FFFF FFFF FFFF FFFF FFFF FFFF F0F0\n";
  rows += "P 20000: 1234 FFFF FFFF FFFF FFFF FFFF FFFF FFFF\nP 20FF8: FFFF FFFF FFFF FFFF FFFF FFFF FFFF 4321\n";
  rows += variant == 1 ? "X 02000" : "X 01000";
  rows += ": AAAA BBBB FFFF FFFF FFFF FFFF FFFF FFFF\n";
  rows += variant == 1 ? "X 02FF8" : "X 01FF8";
  rows += ": FFFF FFFF FFFF FFFF FFFF FFFF CCCC DDDD\n";
  return rows;
}

// The rows of a saved state; the comment line at its top is left out.
std::string Rows(const std::string& state) {
  std::string rows;
  std::size_t start = 0;
  while (start < state.size()) {
    std::size_t end = state.find('\n', start);
    if (end == std::string::npos) end = state.size();
    if (state[start] != '#') rows += state.substr(start, end - start + 1);
    start = end + 1;
  }
  return rows;
}

class TargetTest : public ::testing::Test {
 protected:
  ScratchFolder folder;

  RunResult Sim(std::vector<std::string> args, const std::string& input) {
    args.insert(args.begin(), {"--state", State});
    return ::Run(QZFLASH_SIM, args, folder.path(), input, 60);
  }
};

const std::string EraseRun = Banner + AdapterReady + OperationMenu + Asked(2) + Initialised;

TEST_F(TargetTest, FullEraseErasesEveryBlockOfEitherVariant) {
  for (int variant : {1, 2}) {
    folder.Write(State, ProgrammedState(variant));
    const RunResult run = Sim({"--variant", std::to_string(variant)}, "2\n\n");
    EXPECT_EQ(run.out, EraseRun + "\n Memory has been erased...\n" + Goodbye) << "variant " << variant;
    EXPECT_EQ(run.err, CleanRun);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(Rows(folder.Read(State)), "") << "variant " << variant;
  }
}

TEST_F(TargetTest, AnUnknownOrMissingTargetIsRefused) {
  const std::string refused = Banner + AdapterReady + "\n Wrong aim... \n" + OperationMenu + Asked(2) +
                              "\n Wrong aim !\n" + Goodbye;
  for (const std::vector<std::string>& args : {std::vector<std::string>{"--idcode", "0x01F4601F"},
                                               std::vector<std::string>{"--no-target", "0"},
                                               std::vector<std::string>{"--no-target", "1"}}) {
    folder.Write(State, ProgrammedState(1));
    const RunResult run = Sim(args, "2\n\n");
    EXPECT_EQ(run.out, refused) << args[0] << " " << args[1];
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(Rows(folder.Read(State)), ProgrammedState(1)) << args[0] << " " << args[1];
  }
}

TEST_F(TargetTest, WithoutAdapterTheBringUpReportsEachStep) {
  const RunResult run = Sim({"--devices", "0"}, "2\n\n");
  EXPECT_TRUE(run.out.starts_with(Banner +
                                  " Checking for QZ devices...\n"
                                  " There are no QZ devices installed\n"
                                  "\n Opening Port...\n"
                                  " Opening failed with error "))
      << run.out;
  for (const char* line : {"\n Configuring port for use...\n Error in configuring the port ",
                           " Error in synchronizing the port\n Configuration of the port is done.\n\n Wrong aim... \n"})
    EXPECT_NE(run.out.find(line), std::string::npos) << line;
  EXPECT_TRUE(run.out.ends_with("\n Wrong aim !\n" + Goodbye));
  EXPECT_EQ(run.status, 0);
}

TEST_F(TargetTest, ATargetThatKeepsItsProtectionIsNotTouched) {
  folder.Write(State, ProgrammedState(2));
  const RunResult run = Sim({"--variant", "2", "--stuck-protection"}, "2\n\n");
  EXPECT_EQ(run.out, Banner + AdapterReady + OperationMenu + Asked(2) + Separator +
                         "\n Initialization of the CPU...\n Initialization error\n" + Goodbye);
  EXPECT_EQ(run.err, CleanRun);
  EXPECT_EQ(Rows(folder.Read(State)), ProgrammedState(2));
}

TEST_F(TargetTest, AnEraseThatNeverCompletesEndsTheRunInBoundedTime) {
  folder.Write(State, ProgrammedState(1));
  const auto start = std::chrono::steady_clock::now();
  const RunResult run = Sim({"--hang-after", "0"}, "2\n\n");
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
  // The module never finishes the first erase, so every block after it times out as well.
  std::string timeouts;
  for (int block = 0; block < 4; ++block) timeouts += " Flash command timeout\n";
  EXPECT_EQ(run.out, EraseRun + timeouts + " Erasing error\n" + Goodbye);
  EXPECT_EQ(run.status, 0);
  const std::string rows = Rows(folder.Read(State));
  EXPECT_NE(rows.find("P 00000: 0000 1111"), std::string::npos) << rows;
}

TEST_F(TargetTest, AFailedBlockEraseIsReportedAfterTheOthersWereTried) {
  // Variant 1 erases P:0x00000, P:0x10000, P:0x20000 (boot flash), X:0x2000 in this order.
  for (const char* fault : {"--erase-pviol", "--erase-accerr"}) {
    folder.Write(State, ProgrammedState(1));
    const RunResult run = Sim({fault, "3"}, "2\n\n");
    EXPECT_EQ(run.out, EraseRun + " Erasing error\n" + Goodbye) << fault;
    EXPECT_EQ(run.err, CleanRun) << fault;
    EXPECT_EQ(Rows(folder.Read(State)),
              "P 20000: 1234 FFFF FFFF FFFF FFFF FFFF FFFF FFFF\nP 20FF8: FFFF FFFF FFFF FFFF FFFF FFFF FFFF 4321\n")
        << fault;
  }
  // Operation 1 stops there too: an image is never programmed over flash that is not erased.
  folder.Write(State, ProgrammedState(2));
  folder.Write("image.s19", "S0110000000050524F4752414D264441544196\nS30900001000AB12CD3428\nS70500000000FA\n");
  const RunResult run = Sim({"--variant", "2", "--erase-accerr", "1"}, "1\n4\n\n");
  EXPECT_TRUE(run.out.ends_with(Initialised + " Erasing error\n" + Goodbye)) << run.out;
  EXPECT_EQ(run.out.find("Memory has been"), std::string::npos);
}

TEST_F(TargetTest, AnUnpluggedAdapterEndsTheRunInOrder) {
  for (int unplugAfter : {4, 5, 7}) {
    folder.Write(State, ProgrammedState(1));
    const RunResult run = Sim({"--unplug-after", std::to_string(unplugAfter)}, "2\n\n");
    EXPECT_TRUE(run.out.starts_with(EraseRun.substr(0, EraseRun.size() - std::string(" Initialization done\n").size())));
    EXPECT_NE(run.out.find(" The Data Reading Failed\n"), std::string::npos) << unplugAfter;
    EXPECT_TRUE(run.out.ends_with(" Initialization error\n" + Goodbye)) << unplugAfter;
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(Rows(folder.Read(State)), ProgrammedState(1));
  }
}

TEST_F(TargetTest, LateAnswersInPiecesChangeNothing) {
  folder.Write(State, ProgrammedState(1));
  const RunResult run = Sim({"--late-replies", "1"}, "2\n\n");
  EXPECT_EQ(run.out, EraseRun + "\n Memory has been erased...\n" + Goodbye);
  EXPECT_EQ(run.err, CleanRun);
  EXPECT_EQ(Rows(folder.Read(State)), "");
}

TEST_F(TargetTest, TheTraceRecordsEveryCallAndSleep) {
  const RunResult run = Sim({"--trace", "trace.txt"}, "2\n\n");
  EXPECT_EQ(run.status, 0);
  const std::string trace = folder.Read("trace.txt");
  for (const char* line : {"FT_CreateDeviceInfoList 1 status 0\nFT_Open 0 status 0\nFT_ResetDevice status 0\n",
                           "FT_SetBitMode 0 2 status 0\nsleep 50\nwrite AA\n",
                           "write 8A978D80181B820000861D0085\n",
                           "write 4B04FF4B04063B06026B00434B01014B02812A072A072A072A074B00434B0101\n",
                           "sleep 1000\nwrite 80081B\nsleep 800\nwrite 80181B\nsleep 200\n",
                           "FT_SetBitMode 0 0 status 0\nFT_Close status 0\n"})
    EXPECT_NE(trace.find(line), std::string::npos) << line;
}

TEST_F(TargetTest, RealTimeRunsTakeThePrescribedWaits) {
  const auto start = std::chrono::steady_clock::now();
  const RunResult run = Sim({"--realtime", "--variant", "2"}, "2\n\n");
  // The reset pulse alone waits two seconds.
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
  EXPECT_EQ(run.out, EraseRun + "\n Memory has been erased...\n" + Goodbye);
}

}  // namespace
