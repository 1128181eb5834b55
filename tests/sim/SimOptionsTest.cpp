#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "SimOptions.h"

namespace {

using qzsim::SimOptions;

std::string Parse(std::vector<const char*> args, SimOptions& options) {
  return qzsim::ParseSimOptions(args, options);
}

TEST(SimOptions, DefaultsAreOneAdapterAndVariant1) {
  SimOptions options;
  EXPECT_EQ(Parse({}, options), "");
  EXPECT_EQ(options.bench.devices, 1u);
  EXPECT_EQ(options.bench.target.variant, 1);
  EXPECT_EQ(options.bench.target.idcode, 0x01F4601Du);
  EXPECT_FALSE(options.bench.realtime);
  EXPECT_FALSE(options.bench.noTargetTdo.has_value());
  EXPECT_EQ(options.bench.adapter.lateReplyBytes, 0u);
  EXPECT_FALSE(options.bench.adapter.unplugAfterWrites.has_value());
  EXPECT_EQ(options.bench.target.flashFaults.failure, qzsim::FlashFailure::None);
  EXPECT_FALSE(options.bench.target.flashFaults.erasePviolAt.has_value());
  EXPECT_FALSE(options.bench.target.flashFaults.eraseAccerrAt.has_value());
  EXPECT_FALSE(options.stats);
  EXPECT_FALSE(options.help);
}

TEST(SimOptions, EveryOptionInBothSpellings) {
  SimOptions options;
  EXPECT_EQ(
      Parse({"--variant", "2", "--devices=3", "--state", "flash.txt", "--trace=t.log", "--realtime",
             "--no-target", "1", "--stuck-protection", "--pviol-after=6", "--hang-after", "4",
             "--late-replies", "3", "--unplug-after=9", "--bad-word", "X:1ff0", "--stats",
             "--erase-pviol", "2", "--erase-accerr=4"},
            options),
      "");
  EXPECT_EQ(options.bench.target.variant, 2);
  EXPECT_EQ(options.bench.target.idcode, 0x01F4001Du);
  EXPECT_EQ(options.bench.devices, 3u);
  EXPECT_EQ(options.stateFile, "flash.txt");
  EXPECT_EQ(options.traceFile, "t.log");
  EXPECT_TRUE(options.bench.realtime);
  EXPECT_EQ(options.bench.noTargetTdo, true);
  const auto& flash = options.bench.target.flashFaults;
  EXPECT_TRUE(flash.protectionStuck);
  EXPECT_EQ(flash.failure, qzsim::FlashFailure::Pviol);
  EXPECT_EQ(flash.failAfterWords, 6u);
  EXPECT_EQ(flash.hangAfterCommands, 4u);
  EXPECT_EQ(flash.erasePviolAt, 2u);
  EXPECT_EQ(flash.eraseAccerrAt, 4u);
  EXPECT_TRUE(options.stats);
  EXPECT_EQ(options.bench.adapter.lateReplyBytes, 3u);
  EXPECT_EQ(options.bench.adapter.unplugAfterWrites, 9u);
  ASSERT_TRUE(flash.badWord.has_value());
  EXPECT_EQ(flash.badWord->first, qzsim::Space::X);
  EXPECT_EQ(flash.badWord->second, 0x1FF0u);

  SimOptions other;
  EXPECT_EQ(
      Parse({"--idcode", "0x1234567F", "--accerr-after", "0", "--no-target=0", "--help",
             "--erase-pviol=1"},
            other),
      "");
  EXPECT_EQ(other.bench.target.idcode, 0x1234567Fu);
  EXPECT_EQ(other.bench.target.variant, 1);
  EXPECT_EQ(other.bench.target.flashFaults.failure, qzsim::FlashFailure::Accerr);
  EXPECT_EQ(other.bench.target.flashFaults.failAfterWords, 0u);
  EXPECT_EQ(other.bench.noTargetTdo, false);
  EXPECT_EQ(other.bench.target.flashFaults.erasePviolAt, 1u);
  EXPECT_FALSE(other.bench.target.flashFaults.eraseAccerrAt.has_value());
  EXPECT_TRUE(other.help);
}

TEST(SimOptions, BadValuesAreRefusedWithAReason) {
  const std::pair<std::vector<const char*>, std::string> cases[] = {
      {{"--variant", "3"}, "--variant: '3' is not a number from 1 to 2"},
      {{"--variant"}, "--variant needs a value"},
      {{"--devices", "-1"}, "--devices: '-1' is not a number from 0 to 127"},
      {{"--devices", "128"}, "--devices: '128' is not a number from 0 to 127"},
      {{"--idcode", "xyz"}, "--idcode: 'xyz' is not a 32-bit hexadecimal value"},
      {{"--idcode", "100000000"}, "--idcode: '100000000' is not a 32-bit hexadecimal value"},
      {{"--no-target", "2"}, "--no-target: '2' is not a number from 0 to 1"},
      {{"--late-replies", "0"}, "--late-replies: '0' is not a number from 1 to 65536"},
      {{"--unplug-after", "0"},
       "--unplug-after: '0' is not a number from 1 to 18446744073709551615"},
      {{"--hang-after", "1x"}, "--hang-after: '1x' is not a number from 0 to 18446744073709551615"},
      {{"--pviol-after", "1", "--accerr-after", "2"},
       "--pviol-after and --accerr-after exclude each other"},
      {{"--erase-pviol", "0"},
       "--erase-pviol: '0' is not a number from 1 to 18446744073709551615"},
      {{"--erase-accerr", "-2"},
       "--erase-accerr: '-2' is not a number from 1 to 18446744073709551615"},
      {{"--erase-accerr"}, "--erase-accerr needs a value"},
      {{"--erase-pviol", "3", "--erase-accerr=3"},
       "--erase-pviol and --erase-accerr name the same erase"},
      {{"--stats=yes"}, "--stats takes no value"},
      {{"--bad-word", "P:30000"},
       "--bad-word: 'P:30000' is not P:ADDR or X:ADDR of a flash word of variant 1"},
      {{"--variant", "2", "--bad-word", "X:2000"},
       "--bad-word: 'X:2000' is not P:ADDR or X:ADDR of a flash word of variant 2"},
      {{"--bad-word", "Y:0"},
       "--bad-word: 'Y:0' is not P:ADDR or X:ADDR of a flash word of variant 1"},
      {{"--realtime=1"}, "--realtime takes no value"},
      {{"--frobnicate"}, "unknown option '--frobnicate'"},
      {{"state.txt"}, "unknown option 'state.txt'"},
  };
  for (const auto& [args, error] : cases) {
    SimOptions options;
    EXPECT_EQ(Parse(args, options), error);
  }
}

TEST(SimOptions, UsageNamesEveryOption) {
  const std::string usage = qzsim::SimUsage();
  for (const char* option :
       {"--help", "--variant", "--idcode", "--devices", "--state", "--trace", "--realtime",
        "--no-target", "--stuck-protection", "--pviol-after", "--accerr-after", "--hang-after",
        "--late-replies", "--unplug-after", "--bad-word", "--erase-pviol", "--erase-accerr",
        "--stats"}) {
    EXPECT_NE(usage.find(option), std::string::npos) << option;
  }
}

}  // namespace
