// The operator dialogue of the real program on a machine without an adapter.
#include <gtest/gtest.h>

#include "Console.h"
#include "Run.h"

namespace {

using namespace console;

const std::string NoAdapter =
    " Checking for QZ devices...\n"
    " There are no QZ devices installed\n"
    "\n Opening Port...\n"
    " Opening failed with error 2\n"
    "\n Configuring port for use...\n"
    " Error in configuring the port 3\n"
    " Error in synchronizing the port\n"
    " Configuration of the port is done.\n"
    "\n Wrong aim... \n";

class DialogueTest : public ::testing::Test {
 protected:
  ScratchFolder folder;
  RunResult RunWith(const std::string& input) { return ::Run(QZFLASH, {}, folder.path(), input, 30); }
};

TEST_F(DialogueTest, FullEraseOnAnUnknownTargetEndsAtOnce) {
  const RunResult run = RunWith("2\n\n");
  EXPECT_EQ(run.out, Banner + NoAdapter + OperationMenu + Asked(2) + "\n Wrong aim !\n" + Goodbye);
  EXPECT_EQ(run.status, 0);
}

TEST_F(DialogueTest, MenuAnswersAreReadInNineCharacterPieces) {
  struct Case {
    const char* input;
    int taken;
  };
  // Rejected answers show nothing; the menu waits for the next line.
  for (const Case& c : {Case{"0\n4\nx\n\n-1\n2abc\n", 2}, Case{"   3\n", 3}, Case{"12345678901\n", 1},
                        Case{"+2\n", 2}}) {
    const RunResult run = RunWith(c.input);
    const std::string asked = Asked(c.taken);
    EXPECT_EQ(run.out.substr(0, Banner.size() + NoAdapter.size() + OperationMenu.size() + asked.size()),
              Banner + NoAdapter + OperationMenu + asked)
        << c.input;
    EXPECT_EQ(run.status, 0) << c.input;
  }
}

TEST_F(DialogueTest, TheFolderIsListedSortedAndAnyEntryCanBeChosen) {
  // More entries than the original table held; names in byte order.
  for (int i = 0; i < 21; ++i) folder.Write("image" + std::string(i < 10 ? "0" : "") + std::to_string(i) + ".s19", "");
  folder.Write("B name with blanks.S19", "");
  std::filesystem::create_directory(folder.path() / "sub");
  const RunResult run = RunWith("3\n0\n26\n25\n\n");
  std::string listing = "\n 1 -> '.'\n\n 2 -> '..'\n\n 3 -> 'B name with blanks.S19'\n";
  for (int i = 0; i < 21; ++i)
    listing += "\n " + std::to_string(i + 4) + " -> 'image" + (i < 10 ? "0" : "") + std::to_string(i) + ".s19'\n";
  listing += "\n 25 -> 'sub'\n";
  EXPECT_EQ(run.out, Banner + NoAdapter + OperationMenu + Asked(3) +
                         Separator +
                         "\n Choose the file you want to use...\n" + listing + "\n Choosen File : sub\n" +
                         "\n Wrong aim !\n" + Goodbye);
  EXPECT_EQ(run.status, 0);
}

TEST_F(DialogueTest, TheEndOfInputEndsTheRunAtAnyMenu) {
  for (const char* input : {"", "5\n", "1\n", "1\n99\n"}) {
    const RunResult run = RunWith(input);
    EXPECT_EQ(run.status, 0) << input;
    EXPECT_TRUE(run.out.ends_with(Goodbye)) << input;
    EXPECT_EQ(run.out.find("Wrong aim !"), std::string::npos) << input;
  }
}

}  // namespace
