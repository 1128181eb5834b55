#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "FlashModule.h"
#include "MemoryMap.h"

namespace {

using qzsim::FlashFaults;
using qzsim::FlashModule;
using qzsim::Space;

constexpr std::uint32_t kFmclkd = 0xF400;
constexpr std::uint32_t kFmcr = 0xF401;
constexpr std::uint32_t kFmprot = 0xF410;
constexpr std::uint32_t kFmprotb = 0xF411;
constexpr std::uint32_t kFmustat = 0xF413;
constexpr std::uint32_t kFmcmd = 0xF414;

// Public: the misuse tables below drive the fixture from outside.
class Flash : public ::testing::Test {
 public:
  void SetUp() override { Make(1); }

  void Make(int variant, FlashFaults faults = {}) {
    flash = std::make_unique<FlashModule>(qzsim::MemoryMapOf(variant), faults);
    now = 0;
  }
  std::uint16_t Reg(std::uint32_t address) { return flash->ReadRegister(address).value(); }
  void Set(std::uint32_t address, std::uint16_t value) {
    ASSERT_TRUE(flash->WriteRegister(address, value));
  }
  std::uint16_t Status() { return Reg(kFmustat); }
  // Divider loaded and every bank unprotected, `bank` selected.
  void Ready(std::uint16_t bank) {
    Set(kFmclkd, 0x52);
    Set(kFmcr, 0);
    Set(kFmprot, 0);
    Set(kFmprotb, 0);
    Set(kFmcr, 1);
    Set(kFmprot, 0);
    Set(kFmcr, bank);
  }
  void Command(std::uint16_t command) {
    Set(kFmcmd, command);
    Set(kFmustat, 0x80);
  }
  void Program(Space space, std::uint32_t address, std::uint16_t data) {
    flash->WriteArray(space, address, data);
    Command(0x20);
  }
  void Erase(Space space, std::uint32_t address) {
    flash->WriteArray(space, address, 0);
    Command(0x41);
  }
  void Wait(std::uint64_t micros) {
    now += micros;
    flash->AdvanceTo(now);
  }
  std::uint16_t Cell(Space space, std::uint32_t address) { return flash->Cell(space, address); }

  std::unique_ptr<FlashModule> flash;
  std::uint64_t now = 0;
};

TEST_F(Flash, RegistersComeOutOfResetProtectedAndIdle) {
  EXPECT_EQ(Reg(kFmclkd), 0x0000);
  EXPECT_EQ(Reg(kFmcr), 0x0000);
  EXPECT_EQ(Reg(kFmprot), 0xFFFF);
  EXPECT_EQ(Reg(kFmprotb), 0xFFFF);
  EXPECT_EQ(Reg(kFmustat), 0x00C0);
  EXPECT_EQ(Reg(0xF403), 0x0000);
  EXPECT_EQ(Reg(0xF404), 0x0000);
  Set(kFmcr, 1);
  EXPECT_EQ(Reg(kFmprot), 0xFFFF) << "data flash bank";
  EXPECT_FALSE(flash->ReadRegister(0xF402).has_value());
  EXPECT_FALSE(flash->WriteRegister(0xF412, 0));
}

TEST_F(Flash, DividerLoadsOncePerReset) {
  Set(kFmclkd, 0x52);
  EXPECT_EQ(Reg(kFmclkd), 0x00D2);
  Set(kFmclkd, 0x10);
  EXPECT_EQ(Reg(kFmclkd), 0x00D2);
  flash->Reset();
  EXPECT_EQ(Reg(kFmclkd), 0x0000);
  Set(kFmclkd, 0xFF);
  EXPECT_EQ(Reg(kFmclkd), 0x00FF) << "DIVLD and seven divider bits";
}

TEST_F(Flash, ProtectionClearsPerBankUntilReset) {
  Set(kFmcr, 0);
  Set(kFmprot, 0x0000);
  EXPECT_EQ(Reg(kFmprot), 0x0000);
  Set(kFmcr, 1);
  EXPECT_EQ(Reg(kFmprot), 0xFFFF);
  Set(kFmprot, 0x00F0);
  EXPECT_EQ(Reg(kFmprot), 0x00F0);
  Set(kFmprot, 0xFFFF);
  EXPECT_EQ(Reg(kFmprot), 0x00F0) << "protection is lowered, never raised";
  Set(kFmprotb, 0x0000);
  EXPECT_EQ(Reg(kFmprotb), 0x0000);
  flash->Reset();
  EXPECT_EQ(Reg(kFmprot), 0xFFFF);
  EXPECT_EQ(Reg(kFmprotb), 0xFFFF);
  Set(kFmcr, 0);
  EXPECT_EQ(Reg(kFmprot), 0xFFFF);
}

TEST_F(Flash, ProgramCommandCompletesOneMillisecondAfterLaunch) {
  Ready(0);
  Program(Space::P, 0x0010, 0x1234);
  EXPECT_EQ(Status(), 0x0080) << "buffer free at once, command busy";
  EXPECT_EQ(Cell(Space::P, 0x0010), 0xFFFF);
  Wait(999);
  EXPECT_EQ(Status(), 0x0080);
  Wait(1);
  EXPECT_EQ(Status(), 0x00C0);
  EXPECT_EQ(Cell(Space::P, 0x0010), 0x1234);
  EXPECT_EQ(flash->ReadArray(Space::P, 0x0010), 0x1234);
}

TEST_F(Flash, ProgrammingAndsIntoTheOldWord) {
  Ready(0);
  Program(Space::P, 0x0010, 0xF0F0);
  Wait(1000);
  Program(Space::P, 0x0010, 0x00FF);
  Wait(1000);
  EXPECT_EQ(Cell(Space::P, 0x0010), 0x00F0);
}

TEST_F(Flash, ProgramFlashTakesTwoConsecutiveWordsPerCommand) {
  Ready(0);
  flash->WriteArray(Space::P, 0x1FFF0, 0x1111);
  flash->WriteArray(Space::P, 0x1FFF1, 0x2222);
  Command(0x20);
  flash->WriteArray(Space::P, 0x0FFFF, 0x3333);  // across the two blocks of variant 1
  flash->WriteArray(Space::P, 0x10000, 0x4444);
  Command(0x20);
  Wait(2000);
  EXPECT_EQ(Status(), 0x00C0);
  EXPECT_EQ(Cell(Space::P, 0x1FFF0), 0x1111);
  EXPECT_EQ(Cell(Space::P, 0x1FFF1), 0x2222);
  EXPECT_EQ(Cell(Space::P, 0x0FFFF), 0x3333);
  EXPECT_EQ(Cell(Space::P, 0x10000), 0x4444);
}

TEST_F(Flash, BlockEraseOfVariant1ErasesTheBlockOfTheLatchedAddress) {
  Ready(0);
  for (std::uint32_t address : {0x00005u, 0x10005u, 0x1FFFFu, 0x20005u}) {
    Program(Space::P, address, 0);
    Wait(1000);
  }
  Set(kFmcr, 1);
  Program(Space::X, 0x2005, 0);
  Wait(1000);
  Set(kFmcr, 0);
  Erase(Space::P, 0x10123);
  Wait(19999);
  EXPECT_EQ(Status(), 0x0080);
  EXPECT_EQ(Cell(Space::P, 0x10005), 0x0000);
  Wait(1);
  EXPECT_EQ(Status(), 0x00C0);
  EXPECT_EQ(Cell(Space::P, 0x10005), 0xFFFF);
  EXPECT_EQ(Cell(Space::P, 0x1FFFF), 0xFFFF);
  EXPECT_EQ(Cell(Space::P, 0x00005), 0x0000);
  EXPECT_EQ(Cell(Space::P, 0x20005), 0x0000);
  Erase(Space::P, 0x20FFF);
  Wait(20000);
  EXPECT_EQ(Cell(Space::P, 0x20005), 0xFFFF);
  EXPECT_EQ(Cell(Space::X, 0x2005), 0x0000);
  Set(kFmcr, 1);
  Erase(Space::X, 0x2000);
  Wait(20000);
  EXPECT_EQ(Cell(Space::X, 0x2005), 0xFFFF);
  EXPECT_EQ(Cell(Space::P, 0x00005), 0x0000);
}

TEST_F(Flash, BlockEraseOfVariant2) {
  Make(2);
  Ready(0);
  Program(Space::P, 0x0FFFF, 0);
  Wait(1000);
  EXPECT_FALSE(flash->BlockAt(Space::P, 0x10000));
  Erase(Space::P, 0x00000);
  Wait(20000);
  EXPECT_EQ(Cell(Space::P, 0x0FFFF), 0xFFFF);
  Set(kFmcr, 1);
  Program(Space::X, 0x1FFF, 0x0F0F);
  Wait(1000);
  EXPECT_EQ(Cell(Space::X, 0x1FFF), 0x0F0F);
  EXPECT_FALSE(flash->BlockAt(Space::X, 0x2000));
  Erase(Space::X, 0x1000);
  Wait(20000);
  EXPECT_EQ(Cell(Space::X, 0x1FFF), 0xFFFF);
}

TEST_F(Flash, OneDeepBufferHoldsTheSecondCommand) {
  Ready(0);
  Program(Space::P, 0x0001, 0x0001);
  EXPECT_EQ(Status(), 0x0080);
  Program(Space::P, 0x0002, 0x0002);
  EXPECT_EQ(Status(), 0x0000) << "buffer full, commands busy";
  Wait(1000);
  EXPECT_EQ(Status(), 0x0080);
  EXPECT_EQ(Cell(Space::P, 0x0001), 0x0001);
  EXPECT_EQ(Cell(Space::P, 0x0002), 0xFFFF);
  Wait(999);
  EXPECT_EQ(Status(), 0x0080);
  Wait(1);
  EXPECT_EQ(Status(), 0x00C0);
  EXPECT_EQ(Cell(Space::P, 0x0002), 0x0002);
}

TEST_F(Flash, BufferedCommandStartsWhenTheEraseAheadOfItEnds) {
  Ready(0);
  Erase(Space::P, 0);
  Program(Space::P, 0x0003, 0x0000);
  Wait(20000);
  EXPECT_EQ(Status(), 0x0080);
  Wait(999);
  EXPECT_EQ(Status(), 0x0080);
  Wait(1);
  EXPECT_EQ(Status(), 0x00C0);
  EXPECT_EQ(Cell(Space::P, 0x0003), 0x0000);
}

struct Misuse {
  std::string name;
  std::function<void(Flash&)> steps;
};

TEST_F(Flash, EveryAccessErrorStopsTheCommand) {
  const Misuse cases[] = {
      {"array write before the divider is loaded",
       [](Flash& f) {
         f.Set(kFmcr, 0);
         f.Set(kFmprot, 0);
         f.Program(Space::P, 0x0010, 0);
       }},
      {"array write while ACCERR is set",
       [](Flash& f) {
         f.Ready(0);
         f.Set(kFmcmd, 0x20);  // no latch: ACCERR
         f.Program(Space::P, 0x0010, 0);
       }},
      {"program flash with the data flash bank selected",
       [](Flash& f) {
         f.Ready(1);
         f.Program(Space::P, 0x0010, 0);
       }},
      {"data flash with the program flash bank selected",
       [](Flash& f) {
         f.Ready(0);
         f.Program(Space::X, 0x2010, 0);
       }},
      {"a bank that does not exist",
       [](Flash& f) {
         f.Ready(2);
         f.Program(Space::P, 0x0010, 0);
       }},
      {"a third word for program flash",
       [](Flash& f) {
         f.Ready(0);
         f.flash->WriteArray(Space::P, 0x000E, 0);
         f.flash->WriteArray(Space::P, 0x000F, 0);
         f.Program(Space::P, 0x0010, 0);
       }},
      {"a second word that does not follow the first",
       [](Flash& f) {
         f.Ready(0);
         f.flash->WriteArray(Space::P, 0x000E, 0);
         f.Program(Space::P, 0x0010, 0);
       }},
      {"a second word before the first",
       [](Flash& f) {
         f.Ready(0);
         f.flash->WriteArray(Space::P, 0x0011, 0);
         f.Program(Space::P, 0x0010, 0);
       }},
      {"a second word for boot flash",
       [](Flash& f) {
         f.Ready(0);
         f.flash->WriteArray(Space::P, 0x20010, 0);
         f.Program(Space::P, 0x20011, 0);
       }},
      {"a second word for data flash",
       [](Flash& f) {
         f.Ready(1);
         f.flash->WriteArray(Space::X, 0x2010, 0);
         f.Program(Space::X, 0x2011, 0);
       }},
      {"an array write after the command",
       [](Flash& f) {
         f.Ready(0);
         f.flash->WriteArray(Space::P, 0x000F, 0);
         f.Set(kFmcmd, 0x20);
         f.flash->WriteArray(Space::P, 0x0010, 0);
         f.Set(kFmustat, 0x80);
       }},
      {"a command without a latch",
       [](Flash& f) {
         f.Ready(0);
         f.Command(0x20);
       }},
      {"a second command",
       [](Flash& f) {
         f.Ready(0);
         f.flash->WriteArray(Space::P, 0x0010, 0);
         f.Set(kFmcmd, 0x20);
         f.Command(0x20);
       }},
      {"a launch without a command",
       [](Flash& f) {
         f.Ready(0);
         f.flash->WriteArray(Space::P, 0x0010, 0);
         f.Set(kFmustat, 0x80);
       }},
      {"an unknown command",
       [](Flash& f) {
         f.Ready(0);
         f.flash->WriteArray(Space::P, 0x0010, 0);
         f.Command(0x05);
       }},
      {"an erase with two latched words",
       [](Flash& f) {
         f.Ready(0);
         f.flash->WriteArray(Space::P, 0x000F, 0);
         f.flash->WriteArray(Space::P, 0x0010, 0);
         f.Command(0x41);
       }},
      {"an array write while the buffer is full",
       [](Flash& f) {
         f.Ready(0);
         f.Program(Space::P, 0x0100, 0);
         f.Program(Space::P, 0x0101, 0);
         f.Program(Space::P, 0x0010, 0);
       }},
  };
  for (const Misuse& misuse : cases) {
    SCOPED_TRACE(misuse.name);
    Make(1);
    misuse.steps(*this);
    EXPECT_EQ(Status() & 0x30, 0x10);
    Wait(100000);
    EXPECT_EQ(Cell(Space::P, 0x0010), 0xFFFF);
    EXPECT_EQ(Cell(Space::P, 0x000E), 0xFFFF);
    EXPECT_EQ(Cell(Space::P, 0x000F), 0xFFFF);
    EXPECT_EQ(Cell(Space::P, 0x0011), 0xFFFF);
    EXPECT_EQ(Cell(Space::P, 0x20011), 0xFFFF);
    EXPECT_EQ(Cell(Space::X, 0x2010), 0xFFFF);
    EXPECT_EQ(Cell(Space::X, 0x2011), 0xFFFF);
    Set(kFmustat, 0x20);
    EXPECT_EQ(Status() & 0x10, 0x10) << "0x20 clears only PVIOL";
    Set(kFmustat, 0x10);
    EXPECT_EQ(Status(), 0x00C0);
  }
}

TEST_F(Flash, ProtectedAddressesRaisePviolAndAreNotTouched) {
  const Misuse cases[] = {
      {"program flash",
       [](Flash& f) {
         f.Set(kFmclkd, 0x52);
         f.Set(kFmprotb, 0);
         f.Program(Space::P, 0x0010, 0);
       }},
      {"boot flash",
       [](Flash& f) {
         f.Set(kFmclkd, 0x52);
         f.Set(kFmprot, 0);
         f.Program(Space::P, 0x20010, 0);
       }},
      {"data flash",
       [](Flash& f) {
         f.Set(kFmclkd, 0x52);
         f.Set(kFmprot, 0);
         f.Set(kFmprotb, 0);
         f.Set(kFmcr, 1);
         f.Program(Space::X, 0x2010, 0);
       }},
      {"one protected bit is enough",
       [](Flash& f) {
         f.Set(kFmclkd, 0x52);
         f.Set(kFmprot, 0x0001);
         f.Erase(Space::P, 0x0010);
       }},
  };
  for (const Misuse& misuse : cases) {
    SCOPED_TRACE(misuse.name);
    Make(1);
    misuse.steps(*this);
    EXPECT_EQ(Status(), 0x00E0) << "PVIOL; nothing buffered or running";
    Wait(100000);
    EXPECT_EQ(Cell(Space::P, 0x0010), 0xFFFF);
    EXPECT_EQ(Cell(Space::P, 0x20010), 0xFFFF);
    EXPECT_EQ(Cell(Space::X, 0x2010), 0xFFFF);
    Set(kFmustat, 0x20);
    EXPECT_EQ(Status(), 0x00C0);
  }
}

TEST_F(Flash, ResetAbandonsCommandsInProgress) {
  Ready(0);
  Program(Space::P, 0x0010, 0x0000);
  Wait(1000);
  Erase(Space::P, 0x0000);
  Program(Space::P, 0x0020, 0x0000);
  flash->Reset();
  EXPECT_EQ(Status(), 0x00C0);
  Wait(100000);
  EXPECT_EQ(Cell(Space::P, 0x0010), 0x0000) << "the flash keeps its contents";
  EXPECT_EQ(Cell(Space::P, 0x0020), 0xFFFF);
}

TEST_F(Flash, SettleRunsWhatWillCompleteAndStopsAtAHang) {
  Ready(0);
  Erase(Space::P, 0x0000);
  Program(Space::P, 0x0010, 0x0000);
  flash->Settle();
  EXPECT_EQ(Status(), 0x00C0);
  EXPECT_EQ(Cell(Space::P, 0x0010), 0x0000);

  FlashFaults hang;
  hang.hangAfterCommands = 0;
  Make(1, hang);
  Ready(0);
  Program(Space::P, 0x0010, 0x0000);
  flash->Settle();
  EXPECT_EQ(Status(), 0x0080);
}

TEST_F(Flash, StuckProtectionIgnoresWrites) {
  FlashFaults faults;
  faults.protectionStuck = true;
  Make(1, faults);
  Ready(0);
  EXPECT_EQ(Reg(kFmprot), 0xFFFF);
  EXPECT_EQ(Reg(kFmprotb), 0xFFFF);
  Program(Space::P, 0x0010, 0);
  EXPECT_EQ(Status(), 0x00E0);
}

TEST_F(Flash, InjectedFailureHitsTheFirstProgramCommandPastTheWordCount) {
  for (auto failure : {qzsim::FlashFailure::Pviol, qzsim::FlashFailure::Accerr}) {
    const std::uint16_t flag = failure == qzsim::FlashFailure::Pviol ? 0x20 : 0x10;
    FlashFaults faults;
    faults.failure = failure;
    faults.failAfterWords = 3;
    Make(1, faults);
    Ready(0);
    Erase(Space::P, 0x0000);  // erases are not counted
    Wait(20000);
    flash->WriteArray(Space::P, 0x0000, 0x0000);
    flash->WriteArray(Space::P, 0x0001, 0x0000);
    Command(0x20);
    Wait(1000);
    Program(Space::P, 0x0002, 0x0000);
    Wait(1000);
    EXPECT_EQ(Status(), 0x00C0);
    Program(Space::P, 0x0003, 0x0000);
    EXPECT_EQ(Status(), 0x00C0 | flag);
    Wait(1000);
    EXPECT_EQ(Cell(Space::P, 0x0003), 0xFFFF);
    Set(kFmustat, flag);
    Program(Space::P, 0x0003, 0x0000);
    Wait(1000);
    EXPECT_EQ(Status(), 0x00C0) << "the fault strikes once";
    EXPECT_EQ(Cell(Space::P, 0x0003), 0x0000);
  }
}

TEST_F(Flash, InjectedEraseFailureHitsTheNthEraseOnce) {
  for (auto failure : {qzsim::FlashFailure::Pviol, qzsim::FlashFailure::Accerr}) {
    const std::uint16_t flag = failure == qzsim::FlashFailure::Pviol ? 0x20 : 0x10;
    FlashFaults faults;
    (failure == qzsim::FlashFailure::Pviol ? faults.erasePviolAt : faults.eraseAccerrAt) = 2;
    Make(1, faults);
    Ready(0);
    Program(Space::P, 0x00010, 0x0000);
    Program(Space::P, 0x10010, 0x0000);
    Wait(2000);
    Erase(Space::P, 0x00000);  // programs are not counted
    Wait(20000);
    EXPECT_EQ(Status(), 0x00C0);
    EXPECT_EQ(Cell(Space::P, 0x00010), 0xFFFF);
    Erase(Space::P, 0x10000);
    EXPECT_EQ(Status(), 0x00C0 | flag) << "refused at launch, nothing in progress";
    Wait(20000);
    EXPECT_EQ(Cell(Space::P, 0x10010), 0x0000) << "the failed erase is not executed";
    Set(kFmustat, flag);
    Erase(Space::P, 0x10000);
    Wait(20000);
    EXPECT_EQ(Status(), 0x00C0) << "the fault strikes once";
    EXPECT_EQ(Cell(Space::P, 0x10010), 0xFFFF);
  }
}

TEST_F(Flash, ProtectedErasesCountTowardTheInjectedEraseFailure) {
  FlashFaults faults;
  faults.erasePviolAt = 2;
  faults.eraseAccerrAt = 3;
  Make(1, faults);
  Set(kFmclkd, 0x52);
  Erase(Space::P, 0x00000);
  EXPECT_EQ(Status(), 0x00E0) << "first erase: protected";
  Set(kFmustat, 0x20);
  Set(kFmprot, 0);
  Erase(Space::P, 0x00000);
  EXPECT_EQ(Status(), 0x00E0) << "second erase: injected PVIOL";
  Set(kFmustat, 0x20);
  flash->Reset();
  Set(kFmclkd, 0x52);
  Set(kFmprot, 0);
  Erase(Space::P, 0x00000);
  EXPECT_EQ(Status(), 0x00D0) << "third erase: injected ACCERR; a reset does not restart the count";
  Set(kFmustat, 0x10);
  Erase(Space::P, 0x00000);
  EXPECT_EQ(Status(), 0x0080);
}

TEST_F(Flash, FailedEraseIsNotAnAcceptedCommand) {
  FlashFaults faults;
  faults.eraseAccerrAt = 1;
  faults.hangAfterCommands = 1;
  Make(1, faults);
  Ready(0);
  Erase(Space::P, 0x00000);
  Set(kFmustat, 0x10);
  Erase(Space::P, 0x00000);
  Wait(20000);
  EXPECT_EQ(Status(), 0x00C0) << "the first accepted command completes";
  Program(Space::P, 0x0010, 0x0000);
  Wait(60'000'000);
  EXPECT_EQ(Status(), 0x0080) << "the second accepted command hangs";
}

TEST_F(Flash, HungCommandKeepsCcifLowAndBlocksTheBuffer) {
  FlashFaults faults;
  faults.hangAfterCommands = 1;
  Make(1, faults);
  Ready(0);
  Program(Space::P, 0x0010, 0x0000);
  Program(Space::P, 0x0011, 0x0000);
  Wait(1000);
  EXPECT_EQ(Cell(Space::P, 0x0010), 0x0000);
  EXPECT_EQ(Status(), 0x0080);
  Program(Space::P, 0x0012, 0x0000);
  EXPECT_EQ(Status(), 0x0000);
  Wait(60'000'000);
  EXPECT_EQ(Status(), 0x0000);
  EXPECT_EQ(Cell(Space::P, 0x0011), 0xFFFF);
  EXPECT_EQ(Cell(Space::P, 0x0012), 0xFFFF);
  flash->Reset();
  EXPECT_EQ(Status(), 0x00C0);
}

TEST_F(Flash, BadWordReadsWrongButIsProgrammedRight) {
  FlashFaults faults;
  faults.badWord = std::make_pair(Space::X, 0x2010u);
  Make(1, faults);
  EXPECT_EQ(flash->ReadArray(Space::X, 0x2010), 0xFFFE);
  EXPECT_EQ(flash->ReadArray(Space::X, 0x2011), 0xFFFF);
  EXPECT_EQ(flash->ReadArray(Space::P, 0x2010), 0xFFFF);
  Ready(1);
  Program(Space::X, 0x2010, 0x1234);
  Wait(1000);
  EXPECT_EQ(Cell(Space::X, 0x2010), 0x1234);
  EXPECT_EQ(flash->ReadArray(Space::X, 0x2010), 0x1235);
}

}  // namespace
