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

const std::string ChooseFile = Separator + "\n Choose the file you want to use...\n";


// Answers are read in pieces of nine characters; rejected ones show nothing and the menu waits
// for the next line. The end of the input ends the run at any menu, with nothing failed. The
// empty folder lists "." and "..", and an unknown target is refused once the operation is
// chosen, with the status of a missing adapter.
TEST(DialogueTest, MenuAnswersAndTheEndOfInput) {
  const ScratchFolder folder;
  const std::string listing = ChooseFile + "\n 1 -> '.'\n\n 2 -> '..'\n";
  const std::pair<const char*, int> cases[] = {
      {"2\n\n", 2}, {"0\n4\nx\n\n-1\n2abc\n", 2}, {"+2\n", 2}, {"   3\n", 3}, {"12345678901\n", 1},
      {"", 0}, {"5\n", 0}, {"1\n", 1}, {"1\n99\n", 1},
  };
  for (const auto& [input, taken] : cases) {
    const std::string after = taken == 0 ? "" : Asked(taken) + (taken == 2 ? "\n Wrong aim !\n" : listing);
    const RunResult run = ::Run(QZFLASH, {}, folder.path(), input);
    EXPECT_EQ(run.out, Banner + NoAdapter + OperationMenu + after + Goodbye) << input;
    EXPECT_EQ(run.status, taken == 2 ? 3 : 0) << input;
  }
}

TEST(DialogueTest, TheFolderIsListedSortedAndAnyEntryCanBeChosen) {
  const ScratchFolder folder;
  // More than 19 entries, each choosable; names in byte order.
  for (int i = 0; i < 21; ++i) folder.Write("image" + std::string(i < 10 ? "0" : "") + std::to_string(i) + ".s19", "");
  folder.Write("B name with blanks.S19", "");
  std::filesystem::create_directory(folder.path() / "sub");
  const RunResult run = ::Run(QZFLASH, {}, folder.path(), "3\n0\n26\n25\n\n");
  std::string listing = "\n 1 -> '.'\n\n 2 -> '..'\n\n 3 -> 'B name with blanks.S19'\n";
  for (int i = 0; i < 21; ++i)
    listing += "\n " + std::to_string(i + 4) + " -> 'image" + (i < 10 ? "0" : "") + std::to_string(i) + ".s19'\n";
  listing += "\n 25 -> 'sub'\n";
  EXPECT_EQ(run.out, Banner + NoAdapter + OperationMenu + Asked(3) + ChooseFile + listing +
                         "\n Choosen File : sub\n\n Wrong aim !\n" + Goodbye);
  EXPECT_EQ(run.status, 3);
}

}  // namespace
