// qzflash-sim end to end: identification, initialisation and the full erase, on both variants
// and under the faults real benches see.
#include <gtest/gtest.h>

#include <chrono>

#include "Console.h"
#include "Image.h"
#include "Run.h"

namespace {

using namespace console;

// The state file of a flash programmed at both ends of every flash region of the variant.
std::string ProgrammedState(int variant) {
  Image image;
  for (const Region& region : FlashRegions(variant)) image[{region.space, region.first}] = image[{region.space, region.last}] = 0;
  return StateOf(image);
}

const std::string EraseRun = Banner + AdapterReady + OperationMenu + Asked(2) + Initialised;

class TargetTest : public ::testing::Test {
 protected:
  ScratchFolder folder;

  // A run of a target of the variant whose flash holds ProgrammedState(variant).
  RunResult Sim(int variant, std::vector<std::string> args, const std::string& input) {
    folder.Write("flash.txt", ProgrammedState(variant));
    args.insert(args.begin(), {"--state", "flash.txt", "--variant", std::to_string(variant)});
    return ::Run(QZFLASH_SIM, args, folder.path(), input, 60);
  }
};

TEST_F(TargetTest, FullEraseOfEitherVariantUnderEveryFault) {
  // A clean erase, traced: every call and sleep in order, the bring-up's probe echoed once and
  // no warning.
  const RunResult clean = Sim(1, {"--trace", "clean.txt", "--stats"}, "2\n\n");
  EXPECT_TRUE(clean.err.starts_with("qzflash-sim: stats: ") && clean.err.ends_with(", sync echoes 1\n")) << clean.err;
  const std::string trace = folder.Read("clean.txt");
  for (const char* line : {"FT_CreateDeviceInfoList 1 status 0\nFT_Open 0 status 0\nFT_ResetDevice status 0\n",
                           "FT_SetLatencyTimer 2 status 0\nFT_SetBitMode 0 0 status 0\nFT_SetBitMode 0 2 status 0\nsleep 50\nwrite AA\n",
                           "write 8A978D80181B820000861D0085\n",
                           "write 4B04FF4B04063B06026B00434B01014B02812A072A072A072A074B00434B0101\n",
                           "sleep 1000\nwrite 80081B\nsleep 800\nwrite 80181B\nsleep 200\n",
                           "FT_SetBitMode 0 0 status 0\nFT_Close status 0\n"})
    EXPECT_NE(trace.find(line), std::string::npos) << line;
  // Unplug points: the writes before the reset pulse that starts the initialisation, and before
  // each of its reads after it.
  int writes = 0, beforeReset = -1;
  std::vector<int> beforeReads;
  for (const std::string& line : TraceLines(trace)) {
    if (line.starts_with("write ")) ++writes;
    if (line == "sleep 1000" && beforeReset < 0) beforeReset = writes;
    if (line.starts_with("read ") && beforeReset >= 0) beforeReads.push_back(writes);
  }
  ASSERT_GT(beforeReads.size(), 8u);
  const auto unplugAfter = [](int writes) { return std::vector<std::string>{"--unplug-after", std::to_string(writes)}; };
  // Five reads confirm the initialisation; the erase reads the clock divider, polls the buffer,
  // then reads the status of its launch.
  const int firstLaunch = beforeReads[7];
  const std::string erased = EraseRun + Erased + Goodbye;
  const std::string refused =
      Banner + AdapterReady + "\n Wrong aim... \n" + OperationMenu + Asked(2) + "\n Wrong aim !\n" + Goodbye;
  const std::string initialising =
      Banner + AdapterReady + OperationMenu + Asked(2) + Separator + "\n Initialization of the CPU...\n";
  std::string timeouts = EraseRun;
  for (int i = 0; i < 4; ++i) timeouts += " Flash command timeout\n";
  const std::string lost = " The adapter was lost\n";
  const std::string readFailed = initialising + " The Data Reading Failed\n" + lost + " Initialization error\n" + Goodbye;
  const std::string bootRows = StateOf({{{SpaceP, 0x20000}, 0}, {{SpaceP, 0x20FFF}, 0}});
  const std::string kept = "as programmed";
  struct Case {
    const char* name;
    int variant;
    std::vector<std::string> args;
    std::string out, rows;
    int status;
    int atLeastSeconds = 0;
  };
  const Case cases[] = {
      {"variant 2 in real time: the reset pulse alone waits two seconds", 2, {"--realtime"}, erased, "", 0, 2},
      {"unknown IDCODE", 1, {"--idcode", "0x01F4601F"}, refused, kept, 3},
      {"protection that stays", 2, {"--stuck-protection"}, initialising + " Initialization error\n" + Goodbye, kept, 1},
      // A write that did not go out is not read back: the initialisation fails without a read.
      {"unplugged within the reset pulse", 1, unplugAfter(beforeReset + 1),
       initialising + lost + " Initialization error\n" + Goodbye, kept, 3},
      {"unplugged before the first answer", 1, unplugAfter(beforeReads[0]), readFailed, kept, 3},
      // The first erase never completes, so every block after it times out as well.
      {"an erase that never completes", 1, {"--hang-after", "0"}, timeouts + " Erasing error\n" + Goodbye, kept, 1},
      // Variant 1 erases P:0x00000, P:0x10000, P:0x20000 (boot flash), X:0x2000 in this order.
      {"PVIOL erasing boot flash", 1, {"--erase-pviol", "3"}, EraseRun + " Erasing error\n" + Goodbye, bootRows, 1},
      // The first block is erased; the link fails during the second.
      {"unplugged during the erase", 1, unplugAfter(firstLaunch + 1),
       EraseRun + " The Data Reading Failed\n" + lost + " Erasing error\n" + Goodbye,
       ProgrammedState(1).substr(ProgrammedState(1).find("P 1FFF8")), 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto start = std::chrono::steady_clock::now();
    const RunResult run = Sim(c.variant, c.args, "2\n\n");
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GE(took, std::chrono::seconds(c.atLeastSeconds));
    EXPECT_LT(took, std::chrono::seconds(30));
    EXPECT_EQ(run.out, c.out);
    EXPECT_EQ(run.err, CleanRun);
    EXPECT_EQ(run.status, c.status);
    EXPECT_EQ(RowsOf(folder.Read("flash.txt")), c.rows == kept ? ProgrammedState(c.variant) : c.rows);
  }
}

}  // namespace
