// The program's layers driving the virtual target: identification, register and memory round
// trips on a halted core, the word writers and the full erase.
#include <gtest/gtest.h>

#include "AsmLib.h"
#include "Bench.h"
#include "FTDILib.h"
#include "QZFlash.h"

namespace {

using qzsim::Space;

class HostOnModelTest : public ::testing::Test {
 protected:
  // A fresh bench, the adapter brought up and the target identified, as at program start.
  void Start(int variant, std::uint32_t idcode, std::optional<bool> noTargetTdo = std::nullopt) {
    qzsim::BenchConfig config;
    config.target.variant = variant;
    config.target.idcode = idcode;
    config.noTargetTdo = noTargetTdo;
    qzsim::ConfigureBench(config);
    ClearOutputBuffer();
    dwNumRepliesOwed = 0;
    numeroOpe = numeroFin = numeroCible = 0;
    CBEIF = CCIF = PVIOL = ACCERR = DIVLD = 0;
    testing::internal::CaptureStdout();
    DeviceCheck();
    OpenPort();
    ConfigPortParams();
    SyncMPSSE();
    ConfigMPSSEParams();
    ReadIDCode();
    identification = testing::internal::GetCapturedStdout();
  }

  void Halt() {
    testing::internal::CaptureStdout();
    Initialisation();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "\n Initialization of the CPU...\n Initialization done\n");
    ASSERT_EQ(ErrorFlag, 0);
  }

  static qzsim::FlashModule& Flash() { return qzsim::CurrentBench().Controller().Flash(); }

  // Protocol warnings, after the one synchronisation probe of the bring-up.
  static std::uint64_t UnexpectedWarnings() {
    const qzsim::Warnings& warnings = qzsim::CurrentBench().ProtocolWarnings();
    EXPECT_EQ(warnings.SyncEchoes(), 1u);
    return warnings.Total();
  }

  std::string identification;
};

TEST_F(HostOnModelTest, TheTargetVariantIsRecognised) {
  Start(1, qzsim::kIdcodeVariant1);
  EXPECT_EQ(numeroCible, 1);
  EXPECT_EQ(identification.find("Wrong aim"), std::string::npos);
  Start(2, qzsim::kIdcodeVariant2);
  EXPECT_EQ(numeroCible, 2);
  Start(1, 0x01F4601F);
  EXPECT_EQ(numeroCible, 0);
  EXPECT_TRUE(identification.ends_with("\n Wrong aim... \n"));
  for (bool tdo : {false, true}) {
    Start(1, qzsim::kIdcodeVariant1, tdo);
    EXPECT_EQ(numeroCible, 0) << "TDO stuck at " << tdo;
    EXPECT_TRUE(identification.ends_with("\n Wrong aim... \n")) << "TDO stuck at " << tdo;
  }
}

TEST_F(HostOnModelTest, RegistersAndWordsRoundTripOnAHaltedCore) {
  for (int variant : {1, 2}) {
    Start(variant, variant == 1 ? qzsim::kIdcodeVariant1 : qzsim::kIdcodeVariant2);
    Halt();
    WriteOMR(0x1234);
    ReadOMR();
    EXPECT_EQ(DataRead, 0x1234);

    ReadFMCLKD();
    EXPECT_EQ(DataRead & 0x80, 0);
    WriteFMCLKD(0x52);
    ReadFMCLKD();
    EXPECT_EQ(DataRead, 0xD2);

    WriteFMCR(1);
    ReadFMCR();
    EXPECT_EQ(DataRead, 1);
    ReadFMPROT();
    EXPECT_EQ(DataRead, 0);
    WriteFMCR(0);
    ReadFMPROT();
    EXPECT_EQ(DataRead, 0);
    ReadFMPROTB();
    EXPECT_EQ(DataRead, 0);
    ReadFMUSTAT();
    EXPECT_EQ(DataRead, 0xC0);

    // X RAM takes plain stores; the queued store goes out with the read.
    WriteXFlash(0x0100, 0xBEEF);
    WriteXFlash(0x0101, 0x8001);
    ReadXFlash(0x0100);
    EXPECT_EQ(DataRead, 0xBEEF);
    ReadXFlash(0x0101);
    EXPECT_EQ(DataRead, 0x8001);

    const std::uint32_t dataFlash = variant == 1 ? 0x2005 : 0x1005;
    Flash().SetCell(Space::P, 0x1234, 0xA55A);
    Flash().SetCell(Space::P, 0x20010, 0x0102);
    Flash().SetCell(Space::X, dataFlash, 0xFEDC);
    ReadPFlash(0x1234);
    EXPECT_EQ(DataRead, 0xA55A);
    ReadPFlash(0x20010);
    EXPECT_EQ(DataRead, 0x0102);
    ReadXFlash(static_cast<std::int32_t>(dataFlash));
    EXPECT_EQ(DataRead, 0xFEDC);
    ReadPFlash(0x1235);
    EXPECT_EQ(DataRead, 0xFFFF);
    EXPECT_EQ(UnexpectedWarnings(), 0u) << "variant " << variant;
  }
}

TEST_F(HostOnModelTest, TheWordWritersProgramFlash) {
  Start(1, qzsim::kIdcodeVariant1);
  Halt();
  WriteFMCLKD(0x52);
  Flash().SetCell(Space::P, 0x101, 0x0FF0);
  WriteProgramFlash(0x100, 0x1234, 0x101, 0xFF00);
  WriteBootFlash(0x20000, 0x0F0F);
  WriteDataFlash(0x2000, 0xAAAA);
  WriteProgramFlash(0x1FFFE, 0x5555, 0x1FFFF, 0x6666);
  EXPECT_EQ(PVIOL, 0);
  EXPECT_EQ(ACCERR, 0);
  Flash().Settle();
  EXPECT_EQ(Flash().Cell(Space::P, 0x100), 0x1234);
  EXPECT_EQ(Flash().Cell(Space::P, 0x101), 0x0F00);  // programming only clears bits
  EXPECT_EQ(Flash().Cell(Space::P, 0x102), 0xFFFF);
  EXPECT_EQ(Flash().Cell(Space::P, 0x20000), 0x0F0F);
  EXPECT_EQ(Flash().Cell(Space::X, 0x2000), 0xAAAA);
  EXPECT_EQ(Flash().Cell(Space::P, 0x1FFFE), 0x5555);
  EXPECT_EQ(Flash().Cell(Space::P, 0x1FFFF), 0x6666);

  // A word outside the flash (here X RAM) leaves a command without its latch: the access error
  // is flagged, and cleared on the target.
  WriteDataFlash(0x0100, 0x0000);
  EXPECT_EQ(ACCERR, 1);
  ReadFMUSTAT();
  EXPECT_EQ(DataRead & 0x30, 0);
  EXPECT_EQ(UnexpectedWarnings(), 0u);
}

TEST_F(HostOnModelTest, FullEraseClearsEveryBlockOfTheVariant) {
  struct Case {
    int variant;
    std::uint32_t idcode;
    std::vector<std::pair<Space, std::uint32_t>> words;
  };
  const Case cases[] = {
      {1, qzsim::kIdcodeVariant1, {{Space::P, 0}, {Space::P, 0xFFFF}, {Space::P, 0x10000}, {Space::P, 0x1FFFF},
                                   {Space::P, 0x20000}, {Space::P, 0x20FFF}, {Space::X, 0x2000}, {Space::X, 0x2FFF}}},
      {2, qzsim::kIdcodeVariant2, {{Space::P, 0}, {Space::P, 0xFFFF}, {Space::P, 0x20000}, {Space::P, 0x20FFF},
                                   {Space::X, 0x1000}, {Space::X, 0x1FFF}}},
  };
  for (const Case& c : cases) {
    Start(c.variant, c.idcode);
    Halt();
    for (const auto& [space, address] : c.words) Flash().SetCell(space, address, 0x0000);
    FullErase(c.variant);
    EXPECT_EQ(ErrorFlag, 0);
    Flash().Settle();
    for (const auto& [space, address] : c.words)
      EXPECT_EQ(Flash().Cell(space, address), 0xFFFF) << "variant " << c.variant << " address " << address;
    EXPECT_EQ(UnexpectedWarnings(), 0u);
  }
}

}  // namespace
