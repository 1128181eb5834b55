// The command line: each command end to end through qzflash-sim, with its exit status, what a
// script reads in a log, and what is touched for a command line that cannot be used.
#include <gtest/gtest.h>

#include "Console.h"
#include "Image.h"
#include "Run.h"

namespace {

class CommandLineTest : public ::testing::Test {
 protected:
  ScratchFolder folder;

  RunResult Sim(std::vector<std::string> args, bool closeInput = true) const {
    args.insert(args.begin(), {"--state", "flash.txt", "--trace", "trace.txt"});
    return ::Run(QZFLASH_SIM, args, folder.path(), "", 30, closeInput);
  }
};

TEST_F(CommandLineTest, CommandsEndWithTheStatusOfTheirOutcome) {
  // Ten records and the header and end lines: a progress step every line.
  std::vector<Record> records;
  for (std::uint16_t i = 0; i < 10; ++i) records.push_back({i < 8 ? SpaceP : SpaceX, 0x2400u + 0x10u * i, Words(3, i)});
  folder.Write("image.s19", Write(records));
  folder.Write("bad.s19", Write(records, {.endRecord = false}));
  std::string steps;  // a plain line at every tenth of the file, for a log
  for (int step = 10; step <= 100; step += 10) steps += ' ' + std::to_string(step) + "%\n";
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string shown;  // the end of standard output, before the goodbye
    std::string err = "";
  };
  const Case cases[] = {
      {{"--devices", "3", "--target-device", "2", "--", "--device", "2", "erase"}, 0, console::Erased},
      {{"--devices", "3", "--target-device", "2", "--", "erase", "--device=02"}, 0, console::Erased},
      // The bring-up stops at the step that failed, and says why.
      {{"--devices", "3", "--target-device", "2", "--", "erase"}, 3, " Opening failed with error 3\n",
       "qzflash: adapter 0 is in use\n"},
      {{"--devices", "3", "--", "--device=5", "erase"}, 3, " There is no QZ device number 5\n",
       "qzflash: adapter 5 does not exist (3 found)\n"},
      {{"--devices", "0", "--", "erase"}, 3, " There are no QZ devices installed\n", "qzflash: no adapter found\n"},
      {{"--", "program", "image.s19"}, 0, console::Erased + steps + console::Rewritten + steps + console::Success},
      {{"--", "verify", "image.s19"}, 0, console::Initialised + steps + console::Success},
      {{"--bad-word", "X:2491", "--", "verify", "image.s19"}, 1, console::ErrorDetected},
      {{"--", "program", "bad.s19"}, 2,
       " Line 12: no S7 end record\n\n The file cannot be programmed: the flash was left as it was\n"},
      {{"--", "verify", "missing.s19"}, 2, "\n Impossible to open the file\n",
       "qzflash: missing.s19: No such file or directory\n"},
      {{"--", "program", "."}, 2, "\n Impossible to open the file\n", "qzflash: .: Is a directory\n"},
      {{"--no-target", "1", "--", "verify", "image.s19"}, 3, "\n Wrong aim... \n\n Wrong aim !\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    // Standard input stays open: a command waits for nothing.
    const RunResult run = Sim(c.args, false);
    EXPECT_EQ(run.status, c.status);
    EXPECT_TRUE(run.out.ends_with(c.shown + "\n Goodbye ! \n")) << run.out;
    EXPECT_EQ(run.err, c.err);
    EXPECT_EQ(run.out.find("\x1b["), std::string::npos) << "no console codes in a log";
  }
  EXPECT_EQ(RowsOf(folder.Read("flash.txt")), StateOf(ImageOf(records)));
}

TEST_F(CommandLineTest, DevicesAreListedOneALine) {
  const RunResult run = Sim({"--devices", "2", "--target-device", "1", "--", "devices"});
  EXPECT_EQ(run.out,
            "0  FT232H  A  QZSIM000  QZ virtual adapter  (in use)\n"
            "1  FT232H  A  QZSIM001  QZ virtual adapter\n");
  EXPECT_EQ(run.status, 0);
}

// A command line that cannot be used says so on standard error and touches nothing.
TEST_F(CommandLineTest, BadCommandLinesTouchNothing) {
  const std::vector<std::string> bad[] = {
      {"frob"},         {"--frob"},         {"--device"},   {"--device", "x"}, {"--device", "-1", "erase"},
      {"program"},      {"verify"},         {"erase", "x"}, {"program", "a", "b"}, {"devices", "x"},
      {"verify", ""},   {"program", ""},       {"--device=", "erase"}, {"--device", "1x", "erase"},
      {"--device", "4294967297", "erase"}, {"read", "--memory", "", "f"}, {"read", "--memory=program,", "f"},
      {"blank-check", "--memory", "eeprom"}, {"verify", "--memory", "data", "f"}, {"program", "--erase", "some", "f"},
      {"read", "--erase", "all", "f"}, {"read"}, {"blank-check", "f"},
  };
  for (const std::vector<std::string>& args : bad) {
    SCOPED_TRACE(testing::PrintToString(args));
    std::vector<std::string> simArgs{"--"};
    simArgs.insert(simArgs.end(), args.begin(), args.end());
    const RunResult run = Sim(simArgs);
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.out, "");
    EXPECT_TRUE(run.err.starts_with("qzflash: ") && run.err.find("Usage: qzflash") != std::string::npos) << run.err;
    EXPECT_EQ(folder.Read("trace.txt"), "");
  }
  for (const char* option : {"--help", "--version"}) {
    const RunResult run = ::Run(QZFLASH, {option}, folder.path(), "");
    EXPECT_EQ(run.status, 0) << option;
    EXPECT_FALSE(run.out.empty()) << option;
  }
  // The real program without an adapter.
  EXPECT_EQ(::Run(QZFLASH, {"erase"}, folder.path(), "").status, 3);
  EXPECT_EQ(::Run(QZFLASH, {"devices"}, folder.path(), "").status, 3);
}

}  // namespace
