#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "FlashModule.h"
#include "FlashState.h"
#include "MemoryMap.h"

namespace {

using qzsim::FlashModule;
using qzsim::Space;

const char kHeader[] =
    "# qzflash-sim flash state: space, word address, eight words; erased rows left out\n";

std::string Save(const FlashModule& flash) {
  std::ostringstream out;
  qzsim::SaveFlashState(flash, out);
  return out.str();
}

std::string Load(FlashModule& flash, const std::string& text) {
  std::istringstream in(text);
  return qzsim::LoadFlashState(flash, in);
}

TEST(FlashState, ErasedFlashSavesNoRows) {
  FlashModule flash(qzsim::MemoryMapOf(1), {});
  EXPECT_EQ(Save(flash), kHeader);
}

TEST(FlashState, RowsOfEightWordsInMapOrder) {
  FlashModule flash(qzsim::MemoryMapOf(1), {});
  flash.SetCell(Space::X, 0x2FFF, 0xABCD);
  flash.SetCell(Space::P, 0x00003, 0x1234);
  flash.SetCell(Space::P, 0x20000, 0x0000);
  flash.SetCell(Space::P, 0x1FFF8, 0x00FF);
  EXPECT_EQ(Save(flash), std::string(kHeader) +
                             "P 00000: FFFF FFFF FFFF 1234 FFFF FFFF FFFF FFFF\n"
                             "P 1FFF8: 00FF FFFF FFFF FFFF FFFF FFFF FFFF FFFF\n"
                             "P 20000: 0000 FFFF FFFF FFFF FFFF FFFF FFFF FFFF\n"
                             "X 02FF8: FFFF FFFF FFFF FFFF FFFF FFFF FFFF ABCD\n");
}

TEST(FlashState, LoadTakesRowsOfAnyLengthAtAnyAddress) {
  FlashModule flash(qzsim::MemoryMapOf(1), {});
  EXPECT_EQ(Load(flash,
                 "# written by hand\n"
                 "\n"
                 "P 12345: 1 22 333 4444\n"
                 "  X 2000:   beef\n"),
            "");
  EXPECT_EQ(flash.Cell(Space::P, 0x12345), 0x0001);
  EXPECT_EQ(flash.Cell(Space::P, 0x12346), 0x0022);
  EXPECT_EQ(flash.Cell(Space::P, 0x12347), 0x0333);
  EXPECT_EQ(flash.Cell(Space::P, 0x12348), 0x4444);
  EXPECT_EQ(flash.Cell(Space::P, 0x12349), 0xFFFF);
  EXPECT_EQ(flash.Cell(Space::X, 0x2000), 0xBEEF);
}

TEST(FlashState, SavedStateLoadsBackTheSame) {
  FlashModule first(qzsim::MemoryMapOf(2), {});
  first.SetCell(Space::P, 0x0FFFF, 0x0001);
  first.SetCell(Space::X, 0x1000, 0x0002);
  const std::string text = Save(first);
  FlashModule second(qzsim::MemoryMapOf(2), {});
  EXPECT_EQ(Load(second, text), "");
  EXPECT_EQ(Save(second), text);
  EXPECT_EQ(second.Cell(Space::P, 0x0FFFF), 0x0001);
}

TEST(FlashState, BadRowsAreReportedWithTheirLine) {
  const std::pair<const char*, const char*> cases[] = {
      {"P 21000: 0000\n", "line 1: P:21000 is not flash of this target"},
      {"# ok\nX 02000: 0000\n", "line 2: X:02000 is not flash of this target"},
      {"P 0FFFF: 0000 0000\n", "line 1: P:10000 is not flash of this target"},
      {"Q 00000: 0000\n", "line 1: expected 'P' or 'X', a hexadecimal address and ':'"},
      {"P 00000 0000\n", "line 1: expected 'P' or 'X', a hexadecimal address and ':'"},
      {"P 0G000: 0000\n", "line 1: expected 'P' or 'X', a hexadecimal address and ':'"},
      {"P 00000: 12345\n", "line 1: '12345' is not a word of four hexadecimal digits"},
      {"P 00000: 12x4\n", "line 1: '12x4' is not a word of four hexadecimal digits"},
      {"P 00000:\n", "line 1: a row holds one to eight words"},
      {"P 00000: 0 1 2 3 4 5 6 7 8\n", "line 1: a row holds one to eight words"},
  };
  for (const auto& [text, error] : cases) {
    FlashModule flash(qzsim::MemoryMapOf(2), {});
    EXPECT_EQ(Load(flash, text), error) << text;
  }
}

}  // namespace
