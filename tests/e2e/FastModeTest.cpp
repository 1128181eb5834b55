// --fast end to end through qzflash-sim: the same JTAG bits, the same flash and the same verdicts
// as the default mode, only sooner.
#include <gtest/gtest.h>

#include <sstream>

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

int Nibble(char c) { return c <= '9' ? c - '0' : c - 'A' + 10; }

// The JTAG levels of every TCK of a trace's writes, as the target sees them: one "TMS TDI" pair
// of digits a clock. Data commands shift TDI least significant bit first with TMS held; TMS
// commands carry TMS in bits 0..6 and hold bit 7 on TDI; 0x80 sets both lines; length bytes
// count one less than the clocks.
std::string JtagBits(const std::string& trace) {
  std::vector<int> bytes;
  std::istringstream lines(trace);
  for (std::string line; std::getline(lines, line);)
    if (line.starts_with("write "))
      for (std::size_t i = 6; i + 1 < line.size(); i += 2) bytes.push_back(Nibble(line[i]) * 16 + Nibble(line[i + 1]));
  std::string bits;
  int tms = 0, tdi = 0;
  const auto clock = [&] { bits += char('0' + tms), bits += char('0' + tdi), bits += ' '; };
  for (std::size_t i = 0; i < bytes.size();) {
    const int opcode = bytes[i];
    if (opcode == 0x1A || opcode == 0x1B || opcode == 0x3B || opcode == 0x3E) {
      for (int bit = 0; bit <= bytes[i + 1]; ++bit) tdi = (bytes[i + 2] >> bit) & 1, clock();
      i += 3;
    } else if (opcode == 0x2A || opcode == 0x2E || opcode == 0x8E) {
      for (int bit = 0; bit <= bytes[i + 1]; ++bit) clock();
      i += 2;
    } else if (opcode == 0x4A || opcode == 0x4B || opcode == 0x6B) {
      tdi = bytes[i + 2] >> 7;
      for (int bit = 0; bit <= bytes[i + 1]; ++bit) tms = (bytes[i + 2] >> bit) & 1, clock();
      i += 3;
    } else if (opcode == 0x80) {
      tms = (bytes[i + 1] >> 3) & 1, tdi = (bytes[i + 1] >> 1) & 1;
      i += 3;
    } else {
      i += opcode == 0x82 || opcode == 0x86 ? 3 : 1;
    }
  }
  return bits;
}

// The last line a run printed before its goodbye.
std::string Verdict(const std::string& out) {
  std::istringstream lines(out.substr(0, out.rfind("\n Goodbye ! ")));
  std::string verdict;
  for (std::string line; std::getline(lines, line);)
    if (!line.empty()) verdict = line;
  return verdict;
}

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
    EXPECT_GT(JtagBits(traces[0]).size(), 100000u);
    EXPECT_TRUE(JtagBits(traces[1]) == JtagBits(traces[0])) << "the fast verification clocked other bits";
    EXPECT_NE(traces[1].find("87\n"), std::string::npos) << "a fast read asks for its answer";
  }
}

// Every fault of the bench ends in the same verdict and status in both modes. An unplug falls
// where the writes have got to, which the number of flash status polls moves: its verdict
// follows the point, its status does not.
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
      EXPECT_EQ(Verdict(runs[1].out), Verdict(runs[0].out));
    }
  }
}

}  // namespace
