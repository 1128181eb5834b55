// The target's flash is never lost silently: a state file that cannot be saved stops the start,
// and a save that fails at the end fails the run; no FILE.partial stays behind. For qzflash-sim
// and for the program under the libusb stand-in alike.
#include <gtest/gtest.h>

#include <filesystem>

#include "Run.h"

namespace {

// The run as a shell command line, options given to qzflash-sim or to the stand-in.
std::string Command(bool standIn, const std::string& options) {
  if (!standIn) return std::string(QZFLASH_SIM " --trace trace.txt ") + options;
  return "QZSIM_BUILD=" QZSIM_BUILD " " VIRTUAL_USB " --trace trace.txt " + options + " -- " QZFLASH;
}

std::string Lead(bool standIn) { return standIn ? "virtual-usb: " : "qzflash-sim: "; }

std::vector<std::string> Partials(const std::filesystem::path& folder) {
  std::vector<std::string> found;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
    if (entry.path().extension() == ".partial") found.push_back(entry.path().string());
  }
  return found;
}

// A place where no one, root included, can make FILE.partial: nothing runs, the start stops
// with the program's no-adapter status.
TEST(SimState, AStateThatCannotBeSavedStopsTheStart) {
  const struct {
    const char* file;
    const char* why;
  } cases[] = {
      {"afile/state.txt", "Not a directory"},
      {"missing/state.txt", "No such file or directory"},
      {"folder", "it is a folder"},
  };
  for (const bool standIn : {false, true}) {
    for (const auto& c : cases) {
      SCOPED_TRACE(Lead(standIn) + c.file);
      const ScratchFolder place;
      place.Write("afile", "kept\n");
      std::filesystem::create_directory(place.path() / "folder");
      const RunResult run = ::Run("/bin/sh", {"-c", Command(standIn, "--state " + std::string(c.file))},
                                place.path(), "2\n\n");
      EXPECT_EQ(run.status, 3);
      EXPECT_EQ(run.err, Lead(standIn) + "cannot save state file " + c.file + ": " + c.why +
                             (standIn ? "; no adapter attached\n" : "\n"));
      EXPECT_EQ(run.out.empty(), !standIn);
      EXPECT_FALSE(std::filesystem::exists(place.path() / "trace.txt")) << "ran";
      EXPECT_EQ(place.Read("afile"), "kept\n");
      EXPECT_TRUE(std::filesystem::is_empty(place.path() / "folder"));
      EXPECT_EQ(Partials(place.path()), std::vector<std::string>{});
    }
  }
}

// The place is taken away while the program runs (once its trace is open, the start is past):
// the save at exit fails, a status of 0 becomes 1, another status stays.
TEST(SimState, AStateLostAtTheEndFailsTheRun) {
  const struct {
    bool standIn;
    const char* options;
    const char* takeAway;  // shell commands
    int status;
  } cases[] = {
      {false, "--state d/state.txt", "rm -r d && touch d", 1},
      {false, "--state state.txt", "mkdir -p state.txt/x", 1},
      {false, "--no-target 1 --state d/state.txt", "rm -r d && touch d", 3},
      {true, "--state d/state.txt", "rm -r d && touch d", 1},
      {true, "--state state.txt", "mkdir -p state.txt/x", 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(Lead(c.standIn) + c.options + " / " + c.takeAway);
    const ScratchFolder place;
    std::filesystem::create_directory(place.path() / "d");
    const std::string script = "mkdir -p d; (i=0; while [ ! -e trace.txt ] && [ $i -lt 400 ]; do sleep 0.05; "
                               "i=$((i+1)); done; " + std::string(c.takeAway) + "; printf '2\\n\\n') | " +
                               Command(c.standIn, c.options);
    const RunResult run = ::Run("/bin/sh", {"-c", script}, place.path(), "");
    EXPECT_EQ(run.status, c.status);
    EXPECT_NE(run.err.find(Lead(c.standIn) + "cannot "), std::string::npos) << run.err;
    EXPECT_EQ(Partials(place.path()), std::vector<std::string>{});
  }
}

}  // namespace
