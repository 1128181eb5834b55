// --fast end to end through qzflash-sim: the same JTAG bits, the same flash and the same verdicts
// as the default mode, only sooner.
#include <gtest/gtest.h>

#include "Image.h"
#include "Run.h"

namespace {

class FastModeTest : public ::testing::Test {
 protected:
  ScratchFolder folder;

  RunResult Sim(int variant, const std::vector<std::string>& options, bool fast, std::vector<std::string> command,
                const std::string& state = "flash.txt") const {
    std::vector<std::string> args{"--variant", std::to_string(variant), "--state", state};
    args.insert(args.end(), options.begin(), options.end());
    args.push_back("--");
    if (fast) args.push_back("--fast");
    args.insert(args.end(), command.begin(), command.end());
    return ::Run(QZFLASH_SIM, args, folder.path(), "", 60);
  }
};

// Both variants programmed and verified alike; a verification clocks the very same bits.
TEST_F(FastModeTest, SameFlashSameBitsSameVerdicts) {
  for (int variant : {1, 2}) {
    SCOPED_TRACE(variant);
    folder.Write("image.s19", Write(RandomImage(variant, 7, 4, 40)));
    RunResult runs[2];
    std::string states[2], traces[2];
    for (bool fast : {false, true}) {
      folder.Write(fast ? "fast.txt" : "default.txt", "");
      runs[fast] = Sim(variant, {}, fast, {"program", "image.s19"}, fast ? "fast.txt" : "default.txt");
      states[fast] = RowsOf(folder.Read(fast ? "fast.txt" : "default.txt"));
      Sim(variant, {"--trace", "trace.txt"}, fast, {"verify", "image.s19"}, fast ? "fast.txt" : "default.txt");
      traces[fast] = folder.Read("trace.txt");
    }
    EXPECT_EQ(runs[0].status, 0);
    EXPECT_EQ(runs[1].out, runs[0].out);
    EXPECT_EQ(states[1], states[0]);
    // The same commands write for write, a read's batch ending in send-immediate, which
    // clocks nothing: the same JTAG bits in the same order.
    const std::vector<std::string> plain = TraceLines(traces[0], "write "), fast = TraceLines(traces[1], "write ");
    ASSERT_EQ(fast.size(), plain.size());
    EXPECT_GT(plain.size(), 100u);
    int asked = 0;
    for (std::size_t i = 0; i < plain.size(); ++i) {
      asked += fast[i] == plain[i] + "87";
      EXPECT_TRUE(fast[i] == plain[i] || fast[i] == plain[i] + "87") << "write " << i;
    }
    EXPECT_GT(asked, 100) << "fast reads ask for their answers";
  }
}

// Every fault of the bench prints the same and ends with the same status in both modes. An
// unplug falls where the writes have got to, which the number of flash status polls moves: what
// it prints follows the point, its status does not.
TEST_F(FastModeTest, FaultsEndAlike) {
  const Image image = RandomImage(1, 3, 3, 20);
  folder.Write("image.s19", Write(image));
  const std::string badWord = SpaceLetter(image.begin()->first.space) + ":" + Hex(image.begin()->first.address);
  const std::pair<std::vector<std::string>, int> faults[] = {
      {{"--late-replies", "1"}, 0}, {{"--hang-after", "5"}, 1},    {{"--pviol-after", "7"}, 1},
      {{"--accerr-after", "2"}, 1}, {{"--erase-accerr", "2"}, 1},  {{"--stuck-protection"}, 1},
      {{"--no-target", "0"}, 3},    {{"--bad-word", badWord}, 1},  {{"--unplug-after", "9"}, 3},
      {{"--unplug-after", "40"}, 3}, {{"--unplug-after", "200"}, 3},
  };
  for (const auto& [fault, status] : faults) {
    SCOPED_TRACE(testing::PrintToString(fault));
    RunResult runs[2];
    for (bool fast : {false, true}) {
      folder.Write("flash.txt", "");
      runs[fast] = Sim(1, fault, fast, {"program", "image.s19"});
    }
    EXPECT_EQ(runs[0].status, status);
    EXPECT_EQ(runs[1].status, status);
    if (fault[0] != "--unplug-after") {
      EXPECT_EQ(runs[1].out, runs[0].out);
    }
  }
}

}  // namespace
