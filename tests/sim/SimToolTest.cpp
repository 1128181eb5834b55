// qzflash-sim's own parts: the state file and the command line.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "FlashModule.h"
#include "FlashState.h"
#include "MemoryMap.h"
#include "SimOptions.h"

namespace {

using qzsim::FlashModule;
using qzsim::Space;

const std::string kHeader =
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

// Rows of eight words at multiples of eight, in map order, erased rows left out; they load back.
TEST(FlashState, SavedRowsLoadBack) {
  FlashModule flash(qzsim::MemoryMapOf(1), {});
  EXPECT_EQ(Save(flash), kHeader);
  flash.SetCell(Space::X, 0x2FFF, 0xABCD);
  flash.SetCell(Space::P, 0x00003, 0x1234);
  flash.SetCell(Space::P, 0x20000, 0x0000);
  flash.SetCell(Space::P, 0x1FFF8, 0x00FF);
  const std::string rows = kHeader +
                           "P 00000: FFFF FFFF FFFF 1234 FFFF FFFF FFFF FFFF\n"
                           "P 1FFF8: 00FF FFFF FFFF FFFF FFFF FFFF FFFF FFFF\n"
                           "P 20000: 0000 FFFF FFFF FFFF FFFF FFFF FFFF FFFF\n"
                           "X 02FF8: FFFF FFFF FFFF FFFF FFFF FFFF FFFF ABCD\n";
  EXPECT_EQ(Save(flash), rows);
  FlashModule loaded(qzsim::MemoryMapOf(1), {});
  EXPECT_EQ(Load(loaded, rows), "");
  EXPECT_EQ(Save(loaded), rows);
}

// Rows of one to eight words at any address; comments and blank lines; words not named erased.
TEST(FlashState, LoadTakesRowsOfAnyLengthAtAnyAddress) {
  FlashModule flash(qzsim::MemoryMapOf(2), {});
  EXPECT_EQ(Load(flash, "# by hand\n\nP 0FFFC: 1 22 333 4444\n  X 1008:   beef\n"), "");
  EXPECT_EQ(Save(flash), kHeader +
                             "P 0FFF8: FFFF FFFF FFFF FFFF 0001 0022 0333 4444\n"
                             "X 01008: BEEF FFFF FFFF FFFF FFFF FFFF FFFF FFFF\n");
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

using qzsim::FlashFailure;

// What a parse set, field by field; the defaults of one adapter and variant 1 leave it empty.
std::string Parsed(const qzsim::SimOptions& o) {
  const qzsim::BenchConfig& b = o.bench;
  const qzsim::FlashFaults& f = b.target.flashFaults;
  std::ostringstream s;
  if (b.target.variant != 1) s << " variant " << b.target.variant;
  if (b.target.idcode != 0x01F4601D) s << " idcode " << std::hex << b.target.idcode << std::dec;
  if (b.devices != 1) s << " devices " << b.devices;
  if (!o.stateFile.empty()) s << " state " << o.stateFile;
  if (!o.traceFile.empty()) s << " trace " << o.traceFile;
  if (b.realtime) s << " realtime";
  if (o.stats) s << " stats";
  if (o.help) s << " help";
  if (b.noTargetTdo) s << " no-target " << *b.noTargetTdo;
  if (f.protectionStuck) s << " stuck";
  if (f.failure != FlashFailure::None) {
    s << (f.failure == FlashFailure::Pviol ? " pviol " : " accerr ") << f.failAfterWords;
  }
  if (f.erasePviolAt) s << " erase-pviol " << *f.erasePviolAt;
  if (f.eraseAccerrAt) s << " erase-accerr " << *f.eraseAccerrAt;
  if (f.hangAfterCommands) s << " hang " << *f.hangAfterCommands;
  if (b.adapter.lateReplyBytes != 0) s << " late " << b.adapter.lateReplyBytes;
  if (b.adapter.unplugAfterWrites) s << " unplug " << *b.adapter.unplugAfterWrites;
  if (f.badWord) {
    s << " bad-word " << (f.badWord->first == qzsim::Space::P ? 'P' : 'X') << std::hex
      << f.badWord->second;
  }
  return s.str();
}

// A good command line gives the fields it set, a bad one its message.
TEST(SimOptions, EveryOptionInBothSpellingsAndEveryBadValue) {
  const std::string any = "18446744073709551615";
  const struct {
    std::vector<const char*> args;
    std::string result;
  } cases[] = {
      {{}, ""},
      {{"--variant", "2", "--bad-word", "X:1ff0"}, " variant 2 idcode 1f4001d bad-word X1ff0"},
      {{"--idcode", "0x1234567F", "--variant=2"}, " variant 2 idcode 1234567f"},
      {{"--devices=3", "--state", "flash.txt", "--trace=t.log"},
       " devices 3 state flash.txt trace t.log"},
      {{"--realtime", "--stats", "--help", "--stuck-protection"}, " realtime stats help stuck"},
      {{"--no-target", "1"}, " no-target 1"},
      {{"--no-target=0", "--pviol-after=6"}, " no-target 0 pviol 6"},
      {{"--accerr-after", "0", "--hang-after", "4"}, " accerr 0 hang 4"},
      {{"--erase-pviol", "2", "--erase-accerr=4"}, " erase-pviol 2 erase-accerr 4"},
      {{"--late-replies", "3", "--unplug-after=9"}, " late 3 unplug 9"},
      {{"--variant", "3"}, "--variant: '3' is not a number from 1 to 2"},
      {{"--variant"}, "--variant needs a value"},
      {{"--devices", "-1"}, "--devices: '-1' is not a number from 0 to 127"},
      {{"--devices", "128"}, "--devices: '128' is not a number from 0 to 127"},
      {{"--idcode", "xyz"}, "--idcode: 'xyz' is not a 32-bit hexadecimal value"},
      {{"--idcode", "100000000"}, "--idcode: '100000000' is not a 32-bit hexadecimal value"},
      {{"--no-target", "2"}, "--no-target: '2' is not a number from 0 to 1"},
      {{"--late-replies", "0"}, "--late-replies: '0' is not a number from 1 to 65536"},
      {{"--unplug-after", "0"}, "--unplug-after: '0' is not a number from 1 to " + any},
      {{"--hang-after", "1x"}, "--hang-after: '1x' is not a number from 0 to " + any},
      {{"--pviol-after", "1", "--accerr-after", "2"},
       "--pviol-after and --accerr-after exclude each other"},
      {{"--erase-pviol", "0"}, "--erase-pviol: '0' is not a number from 1 to " + any},
      {{"--erase-accerr", "-2"}, "--erase-accerr: '-2' is not a number from 1 to " + any},
      {{"--erase-pviol", "3", "--erase-accerr=3"},
       "--erase-pviol and --erase-accerr name the same erase"},
      {{"--bad-word", "P:30000"},
       "--bad-word: 'P:30000' is not P:ADDR or X:ADDR of a flash word of variant 1"},
      {{"--variant", "2", "--bad-word", "X:2000"},
       "--bad-word: 'X:2000' is not P:ADDR or X:ADDR of a flash word of variant 2"},
      {{"--bad-word", "Y:0"},
       "--bad-word: 'Y:0' is not P:ADDR or X:ADDR of a flash word of variant 1"},
      {{"--stats=yes"}, "--stats takes no value"},
      {{"state.txt"}, "unknown option 'state.txt'"},
  };
  const std::string usage = qzsim::SimUsage();
  for (const auto& c : cases) {
    std::string line;
    for (const std::string arg : c.args) line += arg + ' ';
    qzsim::SimOptions options;
    const std::string error = qzsim::ParseSimOptions(c.args, options);
    EXPECT_EQ(error.empty() ? Parsed(options) : error, c.result) << line;
    for (const std::string arg : c.args) {
      if (error.empty() && arg.starts_with("--")) {
        EXPECT_NE(usage.find(arg.substr(0, arg.find('='))), std::string::npos) << arg;
      }
    }
  }
}

}  // namespace
