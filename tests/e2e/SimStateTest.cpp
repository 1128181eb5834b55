// The target's flash is never lost silently, under qzflash-sim and the libusb stand-in alike: a
// state file that cannot be saved stops the start, one whose save fails at the end fails the
// run, and no FILE.partial stays behind. The stand-in says what is wrong with its options in one
// line and shows an empty bus: the program finds no adapter.
#include <gtest/gtest.h>

#include <filesystem>

#include "Run.h"

namespace {

TEST(SimState, AStateThatCannotBeSavedIsNeverLostSilently) {
  // takeAway: shell commands during the run, once its trace is open; root cannot write there either.
  const struct { bool standIn; std::string options; const char* takeAway; int status; std::string err; } cases[] = {
      {false, "--state afile/state.txt", "", 3, "qzflash-sim: cannot save state file afile/state.txt: Not a directory\n"},
      {false, "--state d/x/state.txt", "", 3, "qzflash-sim: cannot save state file d/x/state.txt: No such file or directory\n"},
      {false, "--state d", "", 3, "qzflash-sim: cannot save state file d: it is a folder\n"},
      {true, "--state d", "", 3, "virtual-usb: cannot save state file d: it is a folder; no adapter attached\n"},
      {true, "--variant 3", "", 3, "virtual-usb: QZSIM_OPTIONS: --variant: '3' is not a number from 1 to 2; no adapter attached\n"},
      {false, "--state d/state.txt", "rm -r d && touch d", 1, "qzflash-sim: cannot write d/state.txt.partial\n"},
      {false, "--state state.txt", "mkdir -p state.txt/x", 1, "qzflash-sim: cannot replace state.txt: Is a directory\n"},
      {false, "--no-target 1 --state d/state.txt", "rm -r d && touch d", 3, "qzflash-sim: cannot write d/state.txt.partial\n"},
      {true, "--state state.txt", "mkdir -p state.txt/x", 1, "virtual-usb: cannot replace state.txt: Is a directory\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.options + " / " + c.takeAway);
    const ScratchFolder place;
    place.Write("afile", "");
    std::filesystem::create_directory(place.path() / "d");
    const std::string options = "--trace trace.txt " + c.options;
    const std::string command = c.standIn ? "QZSIM_BUILD=" QZSIM_BUILD " " VIRTUAL_USB " " + options + " -- " QZFLASH : QZFLASH_SIM " " + options;
    const std::string wait = "i=0; while [ ! -e trace.txt ] && [ $i -lt 400 ]; do sleep 0.05; i=$((i+1)); done; ";
    const std::string input = *c.takeAway ? "(" + wait + c.takeAway + "; printf '2\\n\\n')" : "printf '2\\n\\n'";
    const RunResult run = ::Run("/bin/sh", {"-c", input + " | " + command}, place.path(), "");
    EXPECT_EQ(run.status, c.status);
    EXPECT_EQ(run.err, c.err);
    EXPECT_EQ(place.Read("trace.txt").empty(), *c.takeAway == 0) << "ran";
    for (const auto& entry : std::filesystem::recursive_directory_iterator(place.path()))
      EXPECT_NE(entry.path().extension(), ".partial");
  }
}

}  // namespace
