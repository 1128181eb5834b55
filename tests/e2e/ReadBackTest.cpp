// qzflash-sim end to end: the flash read back into a file, the blank check, and programming that
// erases only the blocks its file touches.
#include <gtest/gtest.h>

#include "Image.h"
#include "Run.h"

namespace {

class ReadBackTest : public ::testing::Test {
 protected:
  ScratchFolder folder;

  RunResult Sim(int variant, const std::string& state, std::vector<std::string> args,
                std::vector<std::string> faults = {}) {
    faults.insert(faults.end(), {"--variant", std::to_string(variant), "--state", state, "--"});
    args.insert(args.begin(), faults.begin(), faults.end());
    return ::Run(QZFLASH_SIM, args, folder.path(), "", 120);
  }
};

// What a board of image keeps of the memories named.
Image Within(const Image& image, int variant, const std::vector<int>& regions) {
  Image kept;
  for (const int k : regions) {
    const Region region = FlashRegions(variant)[static_cast<std::size_t>(k)];
    for (const auto& [at, word] : image)
      if (at.space == region.space && at.address >= region.first && at.address <= region.last) kept[at] = word;
  }
  return kept;
}

TEST_F(ReadBackTest, AReadBackProgramsTheSameFlashOntoAnErasedChip) {
  struct Case {
    int variant;
    const char* memory;
    std::vector<int> regions;  // of FlashRegions: program, boot, data
  };
  // Whole reads cost seconds under the sanitizers: variant 2's program flash alone adds nothing
  // that variant 1's two program flash blocks do not show.
  for (const Case& c : {Case{1, "data,program,boot", {0, 1, 2}}, Case{2, "boot", {1}}, Case{2, "data", {2}}}) {
    SCOPED_TRACE(std::to_string(c.variant) + " " + c.memory);
    const Image image = RandomImage(c.variant, 7, 6, 40);
    folder.Write("board.txt", StateOf(image));
    ASSERT_EQ(Sim(c.variant, "board.txt", {"--fast", "read", "--memory", c.memory, "saved.s19"}).status, 0);
    std::filesystem::remove(folder.path() / "copy.txt");
    ASSERT_EQ(Sim(c.variant, "copy.txt", {"program", "saved.s19"}).status, 0);
    EXPECT_EQ(RowsOf(folder.Read("copy.txt")), StateOf(Within(image, c.variant, c.regions)));
  }
  // An erased chip reads back as a header and an end record; the default mode reads the same.
  std::filesystem::remove(folder.path() / "copy.txt");
  EXPECT_EQ(Sim(2, "copy.txt", {"read", "--memory=boot", "saved.s19"}).status, 0);
  EXPECT_EQ(folder.Read("saved.s19"), "S00D0000000050524F475241004DDA\nS70500000000FA\n");
}

TEST_F(ReadBackTest, AFailedReadLeavesTheFileThatWasThereAndNoOther) {
  folder.Write("board.txt", StateOf(RandomImage(2, 3, 2, 8)));
  folder.Write("saved.s19", "as it was");
  for (const std::vector<std::string>& faults : std::vector<std::vector<std::string>>{{"--unplug-after", "40"},
                                                                                      {"--unplug-after", "400"},
                                                                                      {"--unplug-after", "2000"},
                                                                                      {"--idcode", "0x1234567F"},
                                                                                      {"--no-target", "1"}}) {
    SCOPED_TRACE(testing::PrintToString(faults));
    EXPECT_EQ(Sim(2, "board.txt", {"read", "saved.s19"}, faults).status, 3);
    EXPECT_EQ(folder.Read("saved.s19"), "as it was");
    const auto files = std::filesystem::directory_iterator(folder.path());
    EXPECT_EQ(std::distance(begin(files), end(files)), 2) << "only board.txt and saved.s19";
  }
  // A place the file cannot be written to is refused before anything is read.
  std::filesystem::create_directory(folder.path() / "folder");
  for (const auto& [place, why] :
       {std::pair{"folder", "Is a directory"}, {"missing/saved.s19", "No such file or directory"}}) {
    const RunResult run = Sim(2, "board.txt", {"read", place});
    EXPECT_EQ(run.status, 2) << place;
    EXPECT_EQ(run.err, std::string("qzflash: ") + place + ": " + why + "\n");
    EXPECT_EQ(run.out.find("Welcome"), std::string::npos) << run.out;
  }
  // Late answers still read back what the board holds.
  ASSERT_EQ(Sim(2, "board.txt", {"read", "--memory", "data", "saved.s19"}).status, 0);
  const std::string saved = folder.Read("saved.s19");
  ASSERT_EQ(Sim(2, "board.txt", {"read", "--memory", "data", "late.s19"}, {"--late-replies", "37"}).status, 0);
  EXPECT_EQ(folder.Read("late.s19"), saved);
}

TEST_F(ReadBackTest, BlankCheckFindsTheFirstWordNotErased) {
  folder.Write("board.txt", StateOf({{{SpaceX, 0x1100}, 0xBEEF}, {{SpaceX, 0x1FFF}, 0}}));
  RunResult run = Sim(2, "board.txt", {"blank-check", "--memory", "boot,data"});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.out.find("\n First word not erased: X:0x01100 = 0xBEEF\n"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("\n Words not erased: 2\n\n The flash is not erased\n"), std::string::npos) << run.out;
  EXPECT_EQ(Sim(2, "board.txt", {"blank-check", "--memory", "boot"}).status, 0);
  run = Sim(2, "erased.txt", {"blank-check", "--memory=boot"}, {"--bad-word", "P:20FFF"});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.out.find("P:0x20FFF = 0xFFFE\n Words not erased: 1\n"), std::string::npos) << run.out;
  EXPECT_EQ(Sim(2, "board.txt", {"blank-check"}, {"--unplug-after", "60"}).status, 3);
}

TEST_F(ReadBackTest, ProgrammingErasesOnlyTheBlocksItsFileTouches) {
  // Variant 1: an application in both program flash blocks, a bootloader, calibration data.
  const Image board{{{SpaceP, 0x0FFFF}, 1}, {{SpaceP, 0x10000}, 2}, {{SpaceP, 0x20000}, 3}, {{SpaceX, 0x2FFF}, 4}};
  const Image kept{{{SpaceP, 0x20000}, 3}, {{SpaceX, 0x2FFF}, 4}};
  struct Case {
    Image file, after;
    std::string said;
  };
  const Case cases[] = {
      {{{{SpaceP, 0x00100}, 0x1234}},
       {{{SpaceP, 0x00100}, 0x1234}, {{SpaceP, 0x10000}, 2}},
       " Erasing P:0x00000-0x0FFFF\n Keeping P:0x10000-0x1FFFF\n Keeping P:0x20000-0x20FFF\n Keeping "
       "X:0x02000-0x02FFF\n"},
      // A file across the blocks' border erases both.
      {{{{SpaceP, 0x0FFFF}, 0x1234}, {{SpaceP, 0x10000}, 0x5678}},
       {{{SpaceP, 0x0FFFF}, 0x1234}, {{SpaceP, 0x10000}, 0x5678}},
       " Erasing P:0x00000-0x0FFFF\n Erasing P:0x10000-0x1FFFF\n Keeping P:0x20000-0x20FFF\n"},
  };
  for (const Case& c : cases) {
    folder.Write("board.txt", StateOf(board));
    folder.Write("app.s19", Write(c.file));
    const RunResult run = Sim(1, "board.txt", {"program", "--erase", "touched", "app.s19"});
    EXPECT_EQ(run.status, 0);
    EXPECT_NE(run.out.find(c.said), std::string::npos) << run.out;
    Image after = c.after;
    after.insert(kept.begin(), kept.end());
    EXPECT_EQ(RowsOf(folder.Read("board.txt")), StateOf(after));
  }
  // A file the check refuses erases nothing.
  folder.Write("board.txt", StateOf(board));
  folder.Write("app.s19", Write(Image{{{SpaceP, 0x0FFFF}, 0}, {{SpaceP, 0x21000}, 0}}));
  EXPECT_EQ(Sim(1, "board.txt", {"program", "--erase=touched", "app.s19"}).status, 2);
  EXPECT_EQ(RowsOf(folder.Read("board.txt")), StateOf(board));
}

}  // namespace
