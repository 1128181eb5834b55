#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "FlashModule.h"
#include "MemoryMap.h"

namespace {

using qzsim::FlashFailure;
using qzsim::FlashFaults;
using qzsim::Space;
constexpr Space P = Space::P;
constexpr Space X = Space::X;

constexpr std::uint32_t kFmclkd = 0xF400;
constexpr std::uint32_t kFmcr = 0xF401;
constexpr std::uint32_t kFmprot = 0xF410;
constexpr std::uint32_t kFmprotb = 0xF411;
constexpr std::uint32_t kFmustat = 0xF413;
constexpr std::uint32_t kFmcmd = 0xF414;

// Public, and each step returns the fixture: the misuse table chains steps from outside.
class Flash : public ::testing::Test {
 public:
  void SetUp() override { Make(1); }
  void Make(
      int variant, const std::function<void(FlashFaults&)>& fault = [](FlashFaults&) {}) {
    FlashFaults faults;
    fault(faults);
    flash = std::make_unique<qzsim::FlashModule>(qzsim::MemoryMapOf(variant), faults);
    now = 0;
  }
  std::uint16_t Reg(std::uint32_t address) { return flash->ReadRegister(address).value(); }
  std::uint16_t Status() { return Reg(kFmustat); }
  std::uint16_t Cell(Space space, std::uint32_t address) { return flash->Cell(space, address); }

  Flash& Set(std::uint32_t address, std::uint16_t value) {
    EXPECT_TRUE(flash->WriteRegister(address, value)) << std::hex << address;
    return *this;
  }
  Flash& Clocked() { return Set(kFmclkd, 0x52); }  // divider loaded
  // Every bank unprotected, `bank` selected.
  Flash& Ready(std::uint16_t bank) {
    Clocked().Set(kFmprot, 0).Set(kFmprotb, 0);
    return Set(kFmcr, 1).Set(kFmprot, 0).Set(kFmcr, bank);
  }
  Flash& Latch(Space space, std::uint32_t address, std::uint16_t data = 0) {
    flash->WriteArray(space, address, data);
    return *this;
  }
  Flash& Command(std::uint16_t command) { return Set(kFmcmd, command).Set(kFmustat, 0x80); }
  Flash& Program(Space space, std::uint32_t address, std::uint16_t data = 0) {
    return Latch(space, address, data).Command(0x20);
  }
  Flash& Erase(Space space, std::uint32_t address) { return Latch(space, address).Command(0x41); }
  Flash& Wait(std::uint64_t micros) {
    flash->AdvanceTo(now += micros);
    return *this;
  }

  std::unique_ptr<qzsim::FlashModule> flash;
  std::uint64_t now = 0;
};

TEST_F(Flash, RegistersResetValuesDividerAndProtection) {
  EXPECT_EQ(Reg(kFmclkd), 0x0000);
  EXPECT_EQ(Reg(kFmcr), 0x0000);
  EXPECT_EQ(Reg(kFmprotb), 0xFFFF);
  EXPECT_EQ(Reg(kFmustat), 0x00C0);
  EXPECT_EQ(Reg(0xF403), 0x0000);  // FMSECH, FMSECL: not secured
  EXPECT_EQ(Reg(0xF404), 0x0000);
  EXPECT_FALSE(flash->ReadRegister(0xF402).has_value());
  EXPECT_FALSE(flash->WriteRegister(0xF412, 0));
  Set(kFmclkd, 0x52).Set(kFmclkd, 0x10);
  EXPECT_EQ(Reg(kFmclkd), 0x00D2) << "DIVLD; the divider loads once per reset";

  EXPECT_EQ(Reg(kFmprot), 0xFFFF);
  Set(kFmprot, 0x0000).Set(kFmcr, 1);
  EXPECT_EQ(Reg(kFmprot), 0xFFFF) << "FMPROT is per bank";
  Set(kFmprot, 0x00F0).Set(kFmprot, 0xFFFF);
  EXPECT_EQ(Reg(kFmprot), 0x00F0) << "protection is lowered, never raised";
  EXPECT_EQ(Set(kFmcr, 3).Reg(kFmprot), 0x0000) << "no bank 3";
  Set(kFmcr, 0).Set(kFmprotb, 0x0000);
  EXPECT_EQ(Reg(kFmprot), 0x0000);
  EXPECT_EQ(Reg(kFmprotb), 0x0000);

  flash->Reset();
  EXPECT_EQ(Reg(kFmclkd), 0x0000);
  EXPECT_EQ(Reg(kFmprot), 0xFFFF);
  EXPECT_EQ(Reg(kFmprotb), 0xFFFF);
  EXPECT_EQ(Set(kFmcr, 1).Reg(kFmprot), 0xFFFF);
  EXPECT_EQ(Set(kFmclkd, 0xFF).Reg(kFmclkd), 0x00FF) << "DIVLD and seven divider bits";
}

TEST_F(Flash, CommandsRunOneAtATimeBehindAOneDeepBuffer) {
  Ready(0).Program(P, 0x0010, 0xF0F0);
  EXPECT_EQ(Status(), 0x0080) << "buffer free at once, command busy";
  EXPECT_EQ(Wait(999).Status(), 0x0080);
  EXPECT_EQ(Cell(P, 0x0010), 0xFFFF);
  EXPECT_EQ(Program(P, 0x0010, 0x00FF).Status(), 0x0000) << "buffer full, commands busy";
  EXPECT_EQ(Wait(1).Status(), 0x0080);
  EXPECT_EQ(Cell(P, 0x0010), 0xF0F0);
  EXPECT_EQ(Wait(999).Status(), 0x0080);
  EXPECT_EQ(Wait(1).Status(), 0x00C0);
  EXPECT_EQ(Cell(P, 0x0010), 0x00F0) << "programming ANDs into the old word";

  // Two consecutive words, here across the two blocks of variant 1, behind an erase.
  Erase(P, 0x10000).Latch(P, 0x0FFFF, 0x3333).Latch(P, 0x10000, 0x4444).Command(0x20);
  EXPECT_EQ(Wait(20000).Status(), 0x0080);
  EXPECT_EQ(Wait(999).Status(), 0x0080);
  EXPECT_EQ(Wait(1).Status(), 0x00C0);
  EXPECT_EQ(Cell(P, 0x0FFFF), 0x3333);
  EXPECT_EQ(Cell(P, 0x10000), 0x4444);

  // Settle runs what will complete; a reset abandons what runs, the flash keeps what completed.
  Erase(P, 0x00000).Program(P, 0x0010);
  flash->Settle();
  EXPECT_EQ(Status(), 0x00C0);
  EXPECT_EQ(Cell(P, 0x0010), 0x0000);
  Erase(P, 0x00000).Program(P, 0x0020);
  flash->Reset();
  EXPECT_EQ(Wait(100000).Status(), 0x00C0);
  EXPECT_EQ(Cell(P, 0x0010), 0x0000);
  EXPECT_EQ(Cell(P, 0x0020), 0xFFFF);
}

TEST_F(Flash, BlockEraseClearsTheBlockOfTheLatchedWordAfter20Ms) {
  struct Block {
    Space space;
    std::uint32_t first, last;
  };
  const std::vector<Block> maps[] = {
      {},
      {{P, 0x00000, 0x0FFFF}, {P, 0x10000, 0x1FFFF}, {P, 0x20000, 0x20FFF}, {X, 0x2000, 0x2FFF}},
      {{P, 0x00000, 0x0FFFF}, {P, 0x20000, 0x20FFF}, {X, 0x1000, 0x1FFF}},
  };
  const struct {
    int variant;
    std::uint32_t at;
    std::size_t block;
  } cases[] = {{1, 0x00123, 0}, {1, 0x10123, 1}, {1, 0x20FFF, 2}, {1, 0x2000, 3},
               {2, 0x0FFFF, 0}, {2, 0x20000, 1}, {2, 0x1800, 2}};
  for (const auto& [variant, at, erased] : cases) {
    const std::vector<Block>& map = maps[variant];
    const Space space = map[erased].space;
    SCOPED_TRACE(testing::Message() << "variant " << variant << " erase at " << std::hex << at);
    Make(variant);
    Ready(0);
    for (const Block& block : map) {
      for (std::uint32_t address : {block.first, block.last}) {
        Set(kFmcr, block.space == X ? 1 : 0).Program(block.space, address).Wait(1000);
      }
    }
    Set(kFmcr, space == X ? 1 : 0).Erase(space, at);
    EXPECT_EQ(Wait(19999).Status(), 0x0080);
    EXPECT_EQ(Cell(space, map[erased].first), 0x0000) << "the cells change at the end";
    EXPECT_EQ(Wait(1).Status(), 0x00C0);
    for (std::size_t i = 0; i < map.size(); ++i) {
      for (std::uint32_t address : {map[i].first, map[i].last}) {
        EXPECT_EQ(Cell(map[i].space, address), i == erased ? 0xFFFF : 0x0000) << address;
      }
    }
  }
}

struct Word {
  Space space;
  std::uint32_t address;
};

// Each cause of ACCERR (0x10) and PVIOL (0x20): the flag, no command run, each flag cleared
// by its own bit.
TEST_F(Flash, MisuseSetsAccerrOrPviolAndChangesNothing) {
  const struct {
    std::string name;
    std::uint16_t flag;
    std::function<void(Flash&)> steps;
  } cases[] = {
      {"no divider", 0x10, [](Flash& f) { f.Set(kFmprot, 0).Program(P, 0x10); }},
      {"ACCERR already set", 0x10, [](Flash& f) { f.Ready(0).Set(kFmcmd, 0x20).Program(P, 0x10); }},
      {"program flash, bank 1", 0x10, [](Flash& f) { f.Ready(1).Program(P, 0x10); }},
      {"data flash, bank 0", 0x10, [](Flash& f) { f.Ready(0).Program(X, 0x2010); }},
      {"bank 2", 0x10, [](Flash& f) { f.Ready(2).Program(P, 0x10); }},
      {"third word", 0x10,
       [](Flash& f) { f.Ready(0).Latch(P, 0xE).Latch(P, 0xF).Program(P, 0x10); }},
      {"gap between words", 0x10, [](Flash& f) { f.Ready(0).Latch(P, 0xE).Program(P, 0x10); }},
      {"words backwards", 0x10, [](Flash& f) { f.Ready(0).Latch(P, 0x11).Program(P, 0x10); }},
      {"two boot words", 0x10, [](Flash& f) { f.Ready(0).Latch(P, 0x20010).Program(P, 0x20011); }},
      {"two data words", 0x10, [](Flash& f) { f.Ready(1).Latch(X, 0x2010).Program(X, 0x2011); }},
      {"array write after FMCMD", 0x10,
       [](Flash& f) {
         f.Ready(0).Latch(P, 0xF).Set(kFmcmd, 0x20).Latch(P, 0x10).Set(kFmustat, 0x80);
       }},
      {"FMCMD without a latch", 0x10, [](Flash& f) { f.Ready(0).Command(0x20); }},
      {"second FMCMD", 0x10,
       [](Flash& f) { f.Ready(0).Latch(P, 0x10).Set(kFmcmd, 0x20).Command(0x20); }},
      {"launch without FMCMD", 0x10,
       [](Flash& f) { f.Ready(0).Latch(P, 0x10).Set(kFmustat, 0x80); }},
      {"unknown command", 0x10, [](Flash& f) { f.Ready(0).Latch(P, 0x10).Command(0x05); }},
      {"erase of two words", 0x10,
       [](Flash& f) { f.Ready(0).Latch(P, 0xF).Latch(P, 0x10).Command(0x41); }},
      {"buffer full", 0x10,
       [](Flash& f) { f.Ready(0).Program(P, 0x100).Program(P, 0x101).Latch(P, 0x10); }},
      {"program flash protected", 0x20,
       [](Flash& f) { f.Clocked().Set(kFmprotb, 0).Program(P, 0x10); }},
      {"boot flash protected", 0x20,
       [](Flash& f) { f.Clocked().Set(kFmprot, 0).Program(P, 0x20010); }},
      {"data flash protected", 0x20,
       [](Flash& f) {
         f.Clocked().Set(kFmprot, 0).Set(kFmprotb, 0).Set(kFmcr, 1).Program(X, 0x2010);
       }},
      {"one FMPROT bit set", 0x20, [](Flash& f) { f.Clocked().Set(kFmprot, 1).Erase(P, 0x10); }},
  };
  const Word touched[] = {{P, 0x000E},  {P, 0x000F},  {P, 0x0010}, {P, 0x0011},
                          {P, 0x20010}, {P, 0x20011}, {X, 0x2010}, {X, 0x2011}};
  for (const auto& misuse : cases) {
    SCOPED_TRACE(misuse.name);
    Make(1);
    misuse.steps(*this);
    EXPECT_EQ(Status() & 0x30, misuse.flag);
    EXPECT_EQ(Wait(100000).Status(), 0x00C0 | misuse.flag);
    for (const Word& word : touched) EXPECT_EQ(Cell(word.space, word.address), 0xFFFF);
    EXPECT_EQ(Set(kFmustat, 0x30 ^ misuse.flag).Status(), 0x00C0 | misuse.flag);
    EXPECT_EQ(Set(kFmustat, misuse.flag).Status(), 0x00C0);
  }
}

TEST_F(Flash, StuckProtectionIgnoresWrites) {
  Make(1, [](FlashFaults& faults) { faults.protectionStuck = true; });
  Ready(0);
  EXPECT_EQ(Reg(kFmprot), 0xFFFF);
  EXPECT_EQ(Reg(kFmprotb), 0xFFFF);
  EXPECT_EQ(Program(P, 0x0010).Status(), 0x00E0);
}

TEST_F(Flash, InjectedFailureHitsTheFirstProgramCommandPastTheWordCountOnce) {
  for (const FlashFailure failure : {FlashFailure::Pviol, FlashFailure::Accerr}) {
    const std::uint16_t flag = failure == FlashFailure::Pviol ? 0x20 : 0x10;
    SCOPED_TRACE(flag);
    Make(1, [&](FlashFaults& faults) {
      faults.failure = failure;
      faults.failAfterWords = 3;
    });
    Ready(0).Erase(P, 0x0000).Wait(20000);  // erases are not counted
    Latch(P, 0x0000).Program(P, 0x0001).Wait(1000).Program(P, 0x0002).Wait(1000);
    EXPECT_EQ(Status(), 0x00C0);
    EXPECT_EQ(Program(P, 0x0003).Status(), 0x00C0 | flag);
    EXPECT_EQ(Wait(1000).Cell(P, 0x0003), 0xFFFF);
    Set(kFmustat, flag).Program(P, 0x0003).Wait(1000);
    EXPECT_EQ(Status(), 0x00C0) << "the fault strikes once";
    EXPECT_EQ(Cell(P, 0x0003), 0x0000);
  }
}

// Every erase launched counts, a protected one too, across resets; programs do not.
TEST_F(Flash, InjectedEraseFailuresHitTheNthEraseOnce) {
  Make(1, [](FlashFaults& faults) {
    faults.erasePviolAt = 2;
    faults.eraseAccerrAt = 3;
  });
  EXPECT_EQ(Set(kFmclkd, 0x52).Erase(P, 0x00000).Status(), 0x00E0) << "1: protected";
  Set(kFmustat, 0x20).Set(kFmprot, 0).Program(P, 0x0010).Wait(1000);
  EXPECT_EQ(Erase(P, 0x00000).Status(), 0x00E0) << "2: injected PVIOL, refused at launch";
  EXPECT_EQ(Wait(20000).Cell(P, 0x0010), 0x0000) << "and not executed";
  Set(kFmustat, 0x20);
  flash->Reset();
  EXPECT_EQ(Set(kFmclkd, 0x52).Set(kFmprot, 0).Erase(P, 0x00000).Status(), 0x00D0)
      << "3: injected ACCERR";
  Set(kFmustat, 0x10).Erase(P, 0x00000).Wait(20000);
  EXPECT_EQ(Status(), 0x00C0);
  EXPECT_EQ(Cell(P, 0x0010), 0xFFFF);
}

TEST_F(Flash, HungCommandKeepsCcifLowAndARefusedEraseIsNoAcceptedCommand) {
  Make(1, [](FlashFaults& faults) {
    faults.eraseAccerrAt = 1;
    faults.hangAfterCommands = 1;
  });
  Ready(0).Erase(P, 0x00000).Set(kFmustat, 0x10);  // refused
  EXPECT_EQ(Erase(P, 0x00000).Wait(20000).Status(), 0x00C0) << "accepted command 0";
  Program(P, 0x0010).Wait(60'000'000);  // accepted command 1
  flash->Settle();
  EXPECT_EQ(Status(), 0x0080) << "CCIF stays low";
  EXPECT_EQ(Program(P, 0x0011).Wait(60'000'000).Status(), 0x0000) << "CBEIF too, once buffered";
  EXPECT_EQ(Cell(P, 0x0010), 0xFFFF);
  EXPECT_EQ(Cell(P, 0x0011), 0xFFFF);
  flash->Reset();
  EXPECT_EQ(Status(), 0x00C0);
}

TEST_F(Flash, BadWordReadsWrongButIsProgrammedRight) {
  Make(1, [](FlashFaults& faults) { faults.badWord = std::make_pair(X, 0x2010u); });
  EXPECT_EQ(flash->ReadArray(X, 0x2010), 0xFFFE);
  EXPECT_EQ(flash->ReadArray(X, 0x2011), 0xFFFF);
  EXPECT_EQ(flash->ReadArray(P, 0x2010), 0xFFFF);
  Ready(1).Program(X, 0x2010, 0x1234).Wait(1000);
  EXPECT_EQ(Cell(X, 0x2010), 0x1234);
  EXPECT_EQ(flash->ReadArray(X, 0x2010), 0x1235);
}

}  // namespace
