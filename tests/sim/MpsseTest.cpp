#include <gtest/gtest.h>

#include <deque>
#include <utility>
#include <vector>

#include "JtagPins.h"
#include "Mpsse.h"
#include "Warnings.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// Records what the connector sees; TDO plays a script, one level per falling edge.
class Probe : public qzsim::JtagPins {
 public:
  std::vector<std::pair<int, int>> rises;  // TMS, TDI at each rising edge
  int falls = 0;
  std::vector<bool> resetLevels;
  std::deque<bool> tdoScript;
  bool tdo = false;

  void SetResetLine(bool high) override { resetLevels.push_back(high); }
  void ClockRise(bool tms, bool tdi) override { rises.emplace_back(tms, tdi); }
  void ClockFall() override {
    ++falls;
    if (!tdoScript.empty()) {
      tdo = tdoScript.front();
      tdoScript.pop_front();
    }
  }
  bool Tdo() const override { return tdo; }
};

class MpsseTest : public ::testing::Test {
 protected:
  MpsseTest() : mpsse(probe, warnings) { mpsse.Enter(); }

  Bytes Run(const Bytes& bytes) {
    Bytes reply;
    mpsse.Run(bytes, reply);
    return reply;
  }
  // Clock set-up and pins: TCK, TDI, TMS and the reset line outputs, TMS high.
  void SetUp() override {
    EXPECT_TRUE(Run({0x8A, 0x97, 0x8D, 0x80, 0x18, 0x1B, 0x86, 0x1D, 0x00}).empty());
  }

  Probe probe;
  qzsim::Warnings warnings;
  qzsim::Mpsse mpsse;
};

using Levels = std::vector<std::pair<int, int>>;

TEST_F(MpsseTest, DataOutOnFallingEdgeGoesLeastSignificantBitFirst) {
  EXPECT_TRUE(Run({0x1B, 0x02, 0x05}).empty());
  EXPECT_EQ(probe.rises, (Levels{{1, 1}, {1, 0}, {1, 1}})) << "TMS stays where the pins left it";
  EXPECT_EQ(probe.falls, 3);
}

TEST_F(MpsseTest, DataOutOnRisingEdgeReachesTheTargetOneClockLate) {
  Run({0x1B, 0x00, 0x00});  // TDI low
  probe.rises.clear();
  Run({0x1A, 0x02, 0x07});
  EXPECT_EQ(probe.rises, (Levels{{1, 0}, {1, 1}, {1, 1}}));
}

TEST_F(MpsseTest, TmsCommandHoldsBit7OnTdi) {
  Run({0x4B, 0x04, 0x86});
  EXPECT_EQ(probe.rises, (Levels{{0, 1}, {1, 1}, {1, 1}, {0, 1}, {0, 1}}));
  probe.rises.clear();
  Run({0x1B, 0x00, 0x00});
  EXPECT_EQ(probe.rises, (Levels{{0, 0}})) << "TMS keeps the last level of the walk";
}

TEST_F(MpsseTest, ShortReadsFillTheReplyByteFromTheTop) {
  probe.tdo = true;
  probe.tdoScript = {false, true, true, false, true, false, false, false};
  EXPECT_EQ(Run({0x2A, 0x02}), (Bytes{0xA0}));  // 1, 0, 1 in bits 5, 6, 7
  EXPECT_EQ(Run({0x6B, 0x00, 0x03}), (Bytes{0x80}));
  EXPECT_EQ(Run({0x3B, 0x03, 0xFF}), (Bytes{0x20}));  // 0, 1, 0, 0 in bits 4 to 7
  probe.tdo = true;
  EXPECT_EQ(Run({0x3E, 0x07, 0x00}), (Bytes{0xFF}));
  probe.tdoScript = {false, false, false, false, false, false, false, false};
  EXPECT_EQ(Run({0x2E, 0x07}), (Bytes{0x01})) << "only the first bit was high";
}

TEST_F(MpsseTest, EveryReadCommandAnswersOneByteInOrder) {
  probe.tdo = true;
  EXPECT_EQ(
      Run({0x2A, 0x07, 0x1B, 0x07, 0x00, 0x3B, 0x07, 0x00, 0x6B, 0x06, 0x00, 0x8E, 0x07}).size(),
      3u);
  EXPECT_EQ(probe.falls, 8 + 8 + 8 + 7 + 8);
}

TEST_F(MpsseTest, UnknownOpcodeIsEchoedAndTheRestOfTheWriteDropped) {
  EXPECT_EQ(Run({0xAA, 0x1B, 0x07, 0xFF}), (Bytes{0xFA, 0xAA}));
  EXPECT_TRUE(probe.rises.empty());
  EXPECT_EQ(Run({0x1B, 0x00, 0x01, 0x84, 0x1B, 0x00, 0x01}), (Bytes{0xFA, 0x84}));
  EXPECT_EQ(probe.rises.size(), 1u);
  EXPECT_EQ(warnings.Of(qzsim::Warning::BadCommandEcho), 2u);
}

TEST_F(MpsseTest, CommandCutByTheEndOfAWriteRunsWhenItsBytesArrive) {
  probe.tdo = true;
  EXPECT_TRUE(Run({0x3B, 0x07}).empty());
  EXPECT_TRUE(probe.rises.empty());
  EXPECT_EQ(Run({0x55, 0x2A}), (Bytes{0xFF}));
  EXPECT_EQ(probe.rises.size(), 8u);
  EXPECT_EQ(Run({0x00}), (Bytes{0x80}));
}

TEST_F(MpsseTest, LowByteBit4DrivesTheResetLineOnlyAsAnOutput) {
  probe.resetLevels.clear();
  Run({0x80, 0x08, 0x1B});
  Run({0x80, 0x18, 0x1B});
  Run({0x80, 0x00, 0x0B});  // bit 4 an input: the board's pull-up releases the target
  EXPECT_EQ(probe.resetLevels, (std::vector<bool>{false, true, true}));
}

TEST_F(MpsseTest, NoClockReachesTheTargetWhileTckIsAnInput) {
  Run({0x80, 0x18, 0x1A});
  EXPECT_EQ(Run({0x3B, 0x07, 0x00}).size(), 1u);
  EXPECT_TRUE(probe.rises.empty());
}

TEST_F(MpsseTest, UndrivenTmsAndTdiArePulledHigh) {
  Run({0x80, 0x00, 0x01});  // only TCK an output
  Run({0x1B, 0x01, 0x00});
  EXPECT_EQ(probe.rises, (Levels{{1, 1}, {1, 1}}));
}

TEST(Mpsse, ClockSettingsAreRecordedAndEarlyScansCounted) {
  Probe probe;
  qzsim::Warnings warnings;
  qzsim::Mpsse mpsse(probe, warnings);
  mpsse.Enter();
  Bytes reply;
  mpsse.Run(Bytes{0x80, 0x18, 0x1B, 0x4B, 0x04, 0xFF, 0x2A, 0x07}, reply);
  EXPECT_EQ(warnings.Of(qzsim::Warning::ScanBeforeClockSetup), 2u);
  EXPECT_TRUE(mpsse.Clock().divideBy5);
  EXPECT_FALSE(mpsse.Clock().divisorSet);

  mpsse.Run(Bytes{0x8A, 0x97, 0x8D, 0x86, 0x1D, 0x00, 0x4B, 0x04, 0xFF}, reply);
  EXPECT_EQ(warnings.Of(qzsim::Warning::ScanBeforeClockSetup), 2u);
  EXPECT_EQ(mpsse.Clock().divisor, 0x1D);
  EXPECT_FALSE(mpsse.Clock().divideBy5);
  EXPECT_TRUE(mpsse.Clock().adaptiveOffSent);
  EXPECT_TRUE(mpsse.Clock().threePhaseOffSent);
  EXPECT_DOUBLE_EQ(mpsse.Clock().TckHz(), 1e6);

  mpsse.Enter();
  EXPECT_FALSE(mpsse.Clock().divisorSet) << "entering MPSSE mode starts the set-up over";
  EXPECT_EQ(mpsse.LowDirections(), 0);
}

}  // namespace
