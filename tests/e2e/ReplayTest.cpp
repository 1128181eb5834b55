// Traces of the program's D2XX calls played back into the model: what a user with a real
// adapter records (qzflash --trace) and sends in, recorded here on the virtual FT2232H.
#include <gtest/gtest.h>

#include <filesystem>

#include "Image.h"
#include "Run.h"

namespace {

class ReplayTest : public ::testing::Test {
 protected:
  ScratchFolder folder;

  RunResult Replay(const std::string& trace, const std::vector<std::string>& options = {}) const {
    folder.Write("replayed.trace", trace);
    std::vector<std::string> args{"--replay", "replayed.trace"};
    args.insert(args.end(), options.begin(), options.end());
    return ::Run(QZFLASH_SIM, args, folder.path(), "", 60);
  }
};

// The first read whose answer ends in the status word 0x00C0 (CBEIF and CCIF, nothing failed),
// the last received byte most significant.
std::size_t FirstIdleStatus(const std::string& trace) {
  std::size_t line = 0;
  for (const std::string& text : TraceLines(trace)) {
    if (text.starts_with("read ") && text.ends_with("C000")) return line;
    ++line;
  }
  return 0;
}

std::string Joined(std::vector<std::string> lines) {
  std::string text;
  for (const std::string& line : lines) text += line + '\n';
  return text;
}

TEST_F(ReplayTest, ATraceOfTheLinuxProgramReplaysAndABitChangedInAStatusIsNamed) {
  std::filesystem::copy_file(EXAMPLES "/demo-variant1.s19", folder.path() / "image.s19");
  const RunResult run = ::Run("/usr/bin/env",
                              {"QZSIM_BUILD=" QZSIM_BUILD, VIRTUAL_USB, "--trace", "usb.trace", "--", QZFLASH,
                               "--trace", "board.trace", "program", "image.s19"},
                              folder.path(), "", 60);
  ASSERT_EQ(run.status, 0) << run.err;
  const std::string trace = folder.Read("board.trace");
  const RunResult clean = Replay(trace);
  EXPECT_EQ(clean.status, 0) << clean.out << clean.err;
  EXPECT_TRUE(clean.out.starts_with("qzflash-sim: replayed.trace: the model agrees with all ")) << clean.out;

  std::vector<std::string> lines = TraceLines(trace);
  const std::size_t status = FirstIdleStatus(trace);
  ASSERT_GT(status, 0u);
  lines[status].replace(lines[status].size() - 4, 1, "D");  // ACCERR set
  const RunResult changed = Replay(Joined(lines));
  EXPECT_EQ(changed.status, 1);
  EXPECT_NE(changed.out.find("read on line " + std::to_string(status + 1) + "\n  scan "), std::string::npos)
      << changed.out;
  EXPECT_NE(changed.out.find(": core TAP, EOnCE data scan, read OTX1: the word the core read from X:0xF413 "
                             "(FMUSTAT)\n  model C0, board D0\n"),
            std::string::npos)
      << changed.out;

  // Traces that cannot be replayed: cut inside a line or after one, lines out of order, another
  // kind of file.
  lines = TraceLines(trace);
  std::vector<std::string> reordered = lines;
  std::swap(reordered[1], reordered[11]);  // FT_Open after the first write
  const std::pair<std::string, std::string> unusable[] = {
      {trace.substr(0, trace.find('\n', trace.size() / 2)), "cut short: the trace is truncated"},
      {Joined({lines.begin(), lines.begin() + 100}), "ends with the device open: the trace is truncated"},
      {Joined(reordered), "line 2: write with no device open: lines out of order"},
      {folder.Read("usb.trace"), "line 1: 'control "},
  };
  for (const auto& [text, said] : unusable) {
    const RunResult bad = Replay(text);
    EXPECT_EQ(bad.status, 2) << said;
    EXPECT_NE(bad.err.find(said), std::string::npos) << bad.err;
    EXPECT_EQ(bad.out, "");
  }
  // The adapter's faults are the trace's own.
  const RunResult unplugged = Replay(trace, {"--unplug-after", "1"});
  EXPECT_EQ(unplugged.status, 2);
  EXPECT_NE(unplugged.err.find("--replay plays the adapter of the trace"), std::string::npos) << unplugged.err;
}

// The program's trace under qzflash-sim is the tool's own, line for line, and replays clean; a
// trace file that cannot be made stops the program before anything is touched.
TEST_F(ReplayTest, TheProgramsTraceIsTheToolsOwn) {
  for (const char* command : {"erase", "devices"}) {
    const RunResult run = ::Run(QZFLASH_SIM,
                                {"--variant", "2", "--trace", "tool.trace", "--", "--trace", "program.trace", command},
                                folder.path(), "", 60);
    EXPECT_EQ(run.status, 0) << command;
    EXPECT_EQ(folder.Read("program.trace"), folder.Read("tool.trace")) << command;
    const RunResult replay = Replay(folder.Read("program.trace"), {"--variant", "2"});
    EXPECT_EQ(replay.status, 0) << replay.out << replay.err;
  }
  const RunResult refused =
      ::Run(QZFLASH_SIM, {"--trace", "tool.trace", "--", "--trace", "missing/t", "erase"}, folder.path(), "", 60);
  EXPECT_EQ(refused.err, "qzflash: missing/t: No such file or directory\n");
  EXPECT_EQ(refused.status, 2);
  EXPECT_EQ(folder.Read("tool.trace"), "");
  // A trace that lost lines is said; the operation's own outcome stands.
  const RunResult full = ::Run(QZFLASH_SIM, {"--", "--trace", "/dev/full", "erase"}, folder.path(), "", 60);
  EXPECT_EQ(full.err, "qzflash: /dev/full: the trace is incomplete: No space left on device\n");
  EXPECT_EQ(full.status, 0);
}

}  // namespace
