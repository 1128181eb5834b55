// The programming and verification passes of the real program on the virtual target: the flash
// it leaves behind, word by word, and what the operator sees.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <sstream>

#include "Run.h"
#include "SRecordImage.h"

namespace {

using srec::Header;
using srec::Image;
using srec::Location;
using srec::Record;
using srec::SpaceP;
using srec::SpaceX;

const std::string CleanRun = "qzflash-sim: protocol warnings: 1 (bad-command echo 1)\n";

const std::string Separator = "\n*************************************************\n";
const std::string Initialised = "\n Initialization of the CPU...\n Initialization done\n";
const std::string Erased = "\n Memory has been erased...\n";
const std::string Rewritten = "\n Memory has been rewritten...\n";
const std::string Failed = "\n Programming failed\n";
const std::string Success = "\n Verification success\n";
const std::string ErrorDetected = "\n Memory error detected\n";
const std::string WrongFormat = " Wrong SRecord format or file\n";
const std::string WrongChecksum = " Le checksum est faux!\n";
const std::string WritingError = " Writing error\n";
const std::string EndOfFile = " Unexpected end of SRecord file\n";
const std::string Menu =
    "\n What do you want to do ?\n"
    " 1 - Do it again\n"
    " 2 - Verify the programmed flash\n"
    " 3 - Quit\n";
const std::string Goodbye = "\n Goodbye ! \n Press <Enter> to continue\n";

// Operator input. The image is entry 3 of the listing, after "." and "..".
const std::string Program = "1\n3\n3\n\n";
const std::string ProgramThenVerify = "1\n3\n2\n3\n\n";
const std::string ProgramTwice = "1\n3\n1\n3\n\n";
const std::string Verify = "3\n3\n\n";

std::string Hex(unsigned value, int digits = 0) {
  char text[16];
  std::snprintf(text, sizeof text, "%0*X", digits, value);
  return text;
}

// The letter of the state file and of --bad-word.
std::string SpaceLetter(std::uint8_t space) { return space == SpaceX ? "X" : "P"; }

std::string Repeat(const std::string& text, int times) {
  std::string result;
  for (int i = 0; i < times; ++i) result += text;
  return result;
}

// What text shows after its first `from` up to the next `to`.
std::string Between(const std::string& text, const std::string& from, const std::string& to) {
  const std::size_t start = text.find(from);
  if (start == std::string::npos) return "<no \"" + from + "\">";
  const std::size_t end = text.find(to, start + from.size());
  if (end == std::string::npos) return "<no \"" + to + "\" after \"" + from + "\">";
  return text.substr(start + from.size(), end - start - from.size());
}

// The programming pass: from the end of the erase to the after-programming menu.
std::string ProgrammingPass(const std::string& out) { return Between(out, Erased, Menu); }

// Operation 3: from the end of initialisation to the goodbye.
std::string VerificationRun(const std::string& out) { return Between(out, Initialised, Goodbye); }

std::string MismatchLine(unsigned checkSum, unsigned checkSumMemory) {
  char line[64];
  std::snprintf(line, sizeof line, "\n CheckSum = 0x%x and CheckSumMemory = 0x%x\n", checkSum, checkSumMemory);
  return line;
}

std::string MismatchLine(const Record& record, const Record& inMemory) {
  return MismatchLine(srec::Checksum(record), srec::Checksum(inMemory));
}

struct Holding {
  int line;  // of the file written from the image, from 1
  Record record;
  Record inMemory;  // the record with the word as the flash holds it
};

// The record of a file of records that holds location.
Holding RecordHolding(const std::vector<Record>& records, Location location, std::uint16_t inFlash) {
  for (std::size_t i = 0; i < records.size(); ++i) {
    const Record& record = records[i];
    if (record.space != location.space || location.address < record.address ||
        location.address >= record.address + record.words.size())
      continue;
    Record inMemory = record;
    inMemory.words[location.address - record.address] = inFlash;
    return {static_cast<int>(i) + 2, record, inMemory};
  }
  ADD_FAILURE() << "no record holds " << Hex(location.address);
  return {};
}

// Every word the state file names, erased ones included.
Image ReadState(const std::string& text) {
  Image words;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream row(line);
    char space = 0;
    std::string address, word;
    row >> space >> address;
    std::uint32_t next = static_cast<std::uint32_t>(std::stoul(address, nullptr, 16));
    while (row >> word)
      words[{space == 'X' ? SpaceX : SpaceP, next++}] = static_cast<std::uint16_t>(std::stoul(word, nullptr, 16));
  }
  return words;
}

// Where flash differs from a full erase followed by programming image; empty when nowhere.
std::string FlashDifferences(const Image& flash, const Image& image) {
  std::string differences;
  int count = 0;
  auto note = [&](Location location, std::uint16_t holds, std::uint16_t expected) {
    if (++count <= 10)
      differences += SpaceLetter(location.space) + ":" + Hex(location.address, 5) + " holds " +
                     Hex(holds, 4) + ", expected " + Hex(expected, 4) + "\n";
  };
  for (const auto& [location, word] : image) {
    const auto found = flash.find(location);
    const std::uint16_t holds = found == flash.end() ? srec::Erased : found->second;
    if (holds != word) note(location, holds, word);
  }
  for (const auto& [location, word] : flash)
    if (word != srec::Erased && !image.contains(location)) note(location, word, srec::Erased);
  if (count > 10) differences += "and " + std::to_string(count - 10) + " more\n";
  return differences;
}

// The state file with the word at location changed to value, as an editor would leave it.
std::string EditState(const std::string& text, Location location, std::uint16_t value) {
  const std::string row = SpaceLetter(location.space) + " " + Hex(location.address & ~7u, 5) + ":";
  const std::size_t start = text.find("\n" + row);
  if (start == std::string::npos) {
    ADD_FAILURE() << "no row " << row;
    return text;
  }
  // Rows are "S AAAAA:" and eight words of four digits, each after a blank.
  const std::size_t at = start + 1 + row.size() + 1 + 5 * (location.address & 7u);
  return text.substr(0, at) + Hex(value, 4) + text.substr(at + 4);
}

std::string ProgressStep(int step) {
  return "\x1b[2J\x1b[H" + std::string(static_cast<std::size_t>(step), '*') + "\n " + std::to_string(10 * step) + "%\n";
}

std::string ProgressSteps(int first, int last) {
  std::string steps;
  for (int step = first; step <= last; ++step) steps += ProgressStep(step);
  return steps;
}

// What a pass over a file of lineCount lines shows up to its line `last`: a step after every
// tenth of the file, at most ten, and the messages of line `last` before the step it may make.
std::string PassUpTo(int lineCount, int last, const std::string& messages) {
  const int every = lineCount / 10;
  std::string shown;
  int steps = 0;
  for (int line = 1; line <= last; ++line) {
    if (line == last) shown += messages;
    if (every > 0 && line % every == 0 && steps < 10) shown += ProgressStep(++steps);
  }
  return shown;
}

int LinesOf(const Image& image) { return static_cast<int>(srec::Records(image).size()) + 2; }

// count words from first on, in a fixed pattern that differs from word to word.
std::vector<std::uint16_t> Words(int count, std::uint16_t first) {
  std::vector<std::uint16_t> words;
  for (int i = 0; i < count; ++i) words.push_back(static_cast<std::uint16_t>(first + 0x0101 * i));
  return words;
}

Image ImageOf(const std::vector<Record>& records) {
  Image image;
  for (const Record& record : records)
    for (std::uint32_t k = 0; k < record.words.size(); ++k) image[{record.space, record.address + k}] = record.words[k];
  return image;
}

// ---------------------------------------------------------------------------------------------
// The test-side writer, against lines worked out by hand

TEST(PassesImageWriter, WritesHeaderDataAndEndLinesByteForByte) {
  const std::vector<Record> one{{SpaceP, 0x1000, {0x12AB, 0x34CD}}};
  EXPECT_EQ(srec::Write(one),
            "S0110000000050524F4752414D264441544196\n"
            "S30900001000AB12CD3428\n"
            "S70500000000FA\n");
  EXPECT_EQ(srec::Write(std::vector<Record>{}, {.header = Header::DataOnly}),
            "S0090000000044415441DC\nS70500000000FA\n");
  EXPECT_EQ(srec::Write(std::vector<Record>{}, {.header = Header::ProgramOnly}),
            "S00D0000000050524F475241004DDA\nS70500000000FA\n");
  EXPECT_EQ(srec::Write(std::vector<Record>{}, {.header = Header::Rejected}),
            "S0110000000050524F4752414D20444154419C\nS70500000000FA\n");
  EXPECT_EQ(srec::Write(std::vector<Record>{}, {.headerLead = {0x12, 0x34}}),
            "S0110000123450524F4752414D264441544150\nS70500000000FA\n");
  EXPECT_EQ(srec::Write({{SpaceX, 0x2000, {0x0201, 0x0403}}, {1, 0x0100, {0x1234}}, {SpaceP, 0x1FFFF, {0xBEEF}}},
                        {.header = Header::None, .endRecord = false}),
            "S3090200200001020304CA\n"
            "S307010001003412B0\n"
            "S3070001FFFFEFBE4C\n");
  EXPECT_EQ(srec::Write(one, {.wrongChecksumLine = 2, .crlf = true}),
            "S0110000000050524F4752414D264441544196\r\n"
            "S30900001000AB12CD3429\r\n"
            "S70500000000FA\r\n");
  EXPECT_EQ(srec::Checksum(one[0]), 0x28);
}

TEST(PassesImageWriter, CutsRunsIntoRecordsOfAtMostSixteenWordsWithinA64KPage) {
  Image image;
  for (std::uint32_t address = 0x1FFEA; address < 0x20003; ++address)
    image[{SpaceP, address}] = static_cast<std::uint16_t>(address);
  image[{SpaceX, 0x2000}] = 0x0001;
  image[{SpaceX, 0x2002}] = 0x0002;
  const std::vector<Record> records = srec::Records(image);
  ASSERT_EQ(records.size(), 5u);
  const std::pair<std::uint32_t, std::size_t> expected[] = {
      {0x1FFEA, 16}, {0x1FFFA, 6}, {0x20000, 3}, {0x2000, 1}, {0x2002, 1}};
  for (std::size_t i = 0; i < records.size(); ++i) {
    EXPECT_EQ(records[i].address, expected[i].first) << i;
    EXPECT_EQ(records[i].words.size(), expected[i].second) << i;
  }
  EXPECT_EQ(records[2].words, (std::vector<std::uint16_t>{0x0000, 0x0001, 0x0002}));
  EXPECT_EQ(records[3].space, SpaceX);
}

TEST(PassesImageWriter, RandomImagesStayInTheFlashAndHaveOddRecordsInEveryRegion) {
  for (int variant : {1, 2}) {
    const Image image = srec::RandomImage(variant, 7, 6, 40);
    EXPECT_EQ(image, srec::RandomImage(variant, 7, 6, 40));
    EXPECT_NE(image, srec::RandomImage(variant, 8, 6, 40));
    for (const srec::Region& region : srec::FlashRegions(variant)) {
      int words = 0, oddRecords = 0;
      for (const Record& record : srec::Records(image)) {
        if (record.space != region.space || record.address < region.first || record.address > region.last) continue;
        words += static_cast<int>(record.words.size());
        if (record.words.size() % 2 == 1) ++oddRecords;
        EXPECT_LE(record.address + record.words.size() - 1, region.last);
      }
      EXPECT_GT(words, 20) << "variant " << variant << " region " << Hex(region.first);
      EXPECT_GT(oddRecords, 0) << "variant " << variant << " region " << Hex(region.first);
    }
    std::size_t inRegions = 0;
    for (const srec::Region& region : srec::FlashRegions(variant))
      for (const auto& [location, word] : image)
        if (location.space == region.space && location.address >= region.first && location.address <= region.last)
          ++inRegions;
    EXPECT_EQ(inRegions, image.size()) << "variant " << variant;
  }
}

// ---------------------------------------------------------------------------------------------
// Runs of qzflash-sim

class PassesTest : public ::testing::Test {
 protected:
  ScratchFolder files;  // the image alone
  ScratchFolder bench;  // the state file and traces, kept out of the listing

  std::string StatePath() const { return (bench.path() / "flash.txt").string(); }
  void UseImage(const std::string& text) const { files.Write("image.s19", text); }
  std::string State() const { return bench.Read("flash.txt"); }
  void SetState(const std::string& text) const { bench.Write("flash.txt", text); }
  Image Flash() const { return ReadState(State()); }

  RunResult Sim(int variant, const std::string& input, const std::vector<std::string>& faults = {}) const {
    std::vector<std::string> args{"--variant", std::to_string(variant), "--state", StatePath()};
    args.insert(args.end(), faults.begin(), faults.end());
    return ::Run(QZFLASH_SIM, args, files.path(), input, 30);
  }

  // A run that must end as every run does, with no protocol warning beyond the deliberate one.
  RunResult CleanSim(int variant, const std::string& input, const std::vector<std::string>& faults = {}) const {
    RunResult run = Sim(variant, input, faults);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, CleanRun);
    EXPECT_TRUE(run.out.ends_with(Goodbye)) << run.out;
    return run;
  }
};

class PassesOnVariant : public PassesTest, public ::testing::WithParamInterface<int> {};

TEST_P(PassesOnVariant, ProgramsARandomImageAndVerifiesItUntilAWordChanges) {
  const int variant = GetParam();
  const Image image = srec::RandomImage(variant, 2024, 6, 40);
  UseImage(srec::Write(image));
  // A word programmed earlier at the end of each region, for the full erase to remove.
  std::string earlier = "# programmed earlier\n";
  for (const srec::Region& region : srec::FlashRegions(variant)) {
    ASSERT_FALSE(image.contains({region.space, region.last}));
    earlier += SpaceLetter(region.space) + " " + Hex(region.last, 5) + ": 0000\n";
  }
  SetState(earlier);

  const int lines = LinesOf(image);
  const RunResult programmed = CleanSim(variant, Program);
  EXPECT_EQ(ProgrammingPass(programmed.out), PassUpTo(lines, lines, "") + Rewritten);
  EXPECT_EQ(FlashDifferences(Flash(), image), "");

  const std::string state = State();
  EXPECT_EQ(VerificationRun(CleanSim(variant, Verify).out), PassUpTo(lines, lines, "") + Success);
  EXPECT_EQ(State(), state) << "verification changed the flash";

  // One changed word in each region: the pass stops at the record holding it.
  for (const srec::Region& region : srec::FlashRegions(variant)) {
    const auto inRegion = std::find_if(image.begin(), image.end(), [&](const auto& word) {
      return word.first.space == region.space && word.first.address >= region.first &&
             word.first.address <= region.last && word.second != srec::Erased;
    });
    ASSERT_NE(inRegion, image.end());
    const auto [location, word] = *inRegion;
    const std::uint16_t changed = word ^ 0x0100;
    SCOPED_TRACE("changed " + Hex(location.address, 5));
    SetState(EditState(state, location, changed));
    const Holding holding = RecordHolding(srec::Records(image), location, changed);
    EXPECT_EQ(VerificationRun(CleanSim(variant, Verify).out),
              PassUpTo(lines, holding.line, MismatchLine(holding.record, holding.inMemory)) + ErrorDetected);
  }
}

TEST_P(PassesOnVariant, OddRecordsProgramTheirLastWordAloneAndTouchNothingAfterThem) {
  const int variant = GetParam();
  const std::uint32_t lastProgramWord = variant == 1 ? 0x1FFFF : 0x0FFFF;
  const std::uint32_t data = variant == 1 ? 0x2F00 : 0x1F00;
  // A three-word record right before a record of erased words, so that a word paired with
  // the last one would stay visible; a one-word record at the very end of program flash.
  const std::vector<Record> records{{SpaceP, 0x0100, {0x1111, 0x2222, 0x3333}},
                                    {SpaceP, 0x0103, {0xFFFF, 0xFFFF}},
                                    {SpaceP, 0x0200, {0x4444}},
                                    {SpaceP, lastProgramWord, {0x5555}},
                                    {SpaceP, 0x20000, {0x6666, 0x7777, 0x8888}},
                                    {SpaceX, data, {0x9999, 0xAAAA, 0xBBBB}},
                                    {SpaceP, 0x0300, {0xCCCC, 0xDDDD, 0xEEEE}}};
  UseImage(srec::Write(records));
  const RunResult run = CleanSim(variant, ProgramThenVerify);
  EXPECT_EQ(ProgrammingPass(run.out), Rewritten);
  EXPECT_EQ(Between(run.out, "\n You asked for number : 2\n", Menu), Success);
  EXPECT_EQ(FlashDifferences(Flash(), ImageOf(records)), "");
}

TEST_P(PassesOnVariant, EveryHeaderFormIsAcceptedWhateverItsLeadingBytes) {
  const int variant = GetParam();
  const std::vector<Record> records{{SpaceP, 0x0040, Words(5, 0x0102)}};
  for (Header header : {Header::ProgramAndData, Header::ProgramOnly, Header::DataOnly}) {
    SCOPED_TRACE(static_cast<int>(header));
    UseImage(srec::Write(records, {.header = header, .headerLead = {0xA5, 0x5A}}));
    const RunResult run = CleanSim(variant, ProgramThenVerify);
    EXPECT_EQ(ProgrammingPass(run.out), Rewritten);
    EXPECT_EQ(Between(run.out, "\n You asked for number : 2\n", Menu), Success);
    EXPECT_EQ(FlashDifferences(Flash(), ImageOf(records)), "");
  }
}

INSTANTIATE_TEST_SUITE_P(PassesVariants, PassesOnVariant, ::testing::Values(1, 2),
                         [](const auto& info) { return "Variant" + std::to_string(info.param); });

TEST_F(PassesTest, ALargeImageWithCrLfLineEndsProgramsAndVerifies) {
  const Image image = srec::RandomImage(1, 99, 20, 100);
  ASSERT_GT(image.size(), 2500u);
  UseImage(srec::Write(image, {.crlf = true}));
  const int lines = LinesOf(image);
  const RunResult run = CleanSim(1, ProgramThenVerify);
  EXPECT_EQ(ProgrammingPass(run.out), PassUpTo(lines, lines, "") + Rewritten);
  EXPECT_EQ(Between(run.out, "\n You asked for number : 2\n", Menu), PassUpTo(lines, lines, "") + Success);
  EXPECT_EQ(FlashDifferences(Flash(), image), "");
}

TEST_F(PassesTest, TheAfterProgrammingMenuVerifiesAndProgramsAgainUntilQuit) {
  const std::vector<Record> records{{SpaceP, 0x0010, Words(7, 0x1234)}, {SpaceX, 0x2010, Words(3, 0x4321)}};
  UseImage(srec::Write(records));
  const RunResult run = CleanSim(1, "1\n3\n2\n2\n1\n2\n3\n\n");
  const std::string pass = Separator + Initialised + Erased + Rewritten + Menu;
  const std::string verified = "\n You asked for number : 2\n" + Success + Menu;
  const std::string chosen = "\n Choosen File : image.s19\n";
  EXPECT_EQ(run.out.substr(run.out.find(chosen) + chosen.size()),
            pass + verified + verified + "\n You asked for number : 1\n" + pass + verified +
                "\n You asked for number : 3\n" + Goodbye);
  EXPECT_EQ(FlashDifferences(Flash(), ImageOf(records)), "");
}

// ---------------------------------------------------------------------------------------------
// Flash errors

// Sixteen words make eight pair commands; the fifth word's pair fails and the five pairs after
// it are skipped. The image's next record is not reached.
TEST_F(PassesTest, AProtectionViolationSkipsTheRestOfTheRecordAndDoingItAgainRepairsIt) {
  const std::vector<Record> first{{SpaceP, 0x0400, Words(16, 0x0A0B)}};
  const std::vector<Record> records{first[0], {SpaceP, 0x0410, Words(5, 0x1C1D)}, {SpaceX, 0x2400, Words(2, 0x2E2F)}};
  UseImage(srec::Write(records));

  const RunResult failed = CleanSim(1, Program, {"--pviol-after", "4"});
  EXPECT_EQ(ProgrammingPass(failed.out), Repeat(WritingError, 5) + Failed);
  Image written;
  for (std::uint32_t k = 0; k < 4; ++k) written[{SpaceP, 0x0400 + k}] = first[0].words[k];
  EXPECT_EQ(FlashDifferences(Flash(), written), "");

  // The fault fires once: the second pass of the same run programs everything.
  const RunResult repaired = CleanSim(1, ProgramTwice, {"--pviol-after", "4"});
  EXPECT_EQ(ProgrammingPass(repaired.out), Repeat(WritingError, 5) + Failed);
  EXPECT_EQ(Between(repaired.out, Menu + "\n You asked for number : 1\n", "\n You asked for number : 3\n"),
            Separator + Initialised + Erased + Rewritten + Menu);
  EXPECT_EQ(FlashDifferences(Flash(), ImageOf(records)), "");
}

TEST_F(PassesTest, AnAccessErrorInDataFlashSkipsEachRemainingWord) {
  const std::vector<Record> records{{SpaceP, 0x0040, Words(4, 0x0102)},
                                    {SpaceX, 0x2100, Words(7, 0x3132)},
                                    {SpaceX, 0x2200, Words(2, 0x4142)}};
  UseImage(srec::Write(records));
  const RunResult run = CleanSim(1, Program, {"--accerr-after", "6"});
  EXPECT_EQ(ProgrammingPass(run.out), Repeat(WritingError, 4) + Failed);
  EXPECT_EQ(FlashDifferences(Flash(), ImageOf({records[0], {SpaceX, 0x2100, Words(2, 0x3132)}})), "");
}

// No later word is there to find the flag: the pass reports the last command itself.
TEST_F(PassesTest, AFailedLastCommandIsReportedOnce) {
  struct Case {
    const char* fault;
    std::vector<Record> records;
  };
  const Case cases[] = {{"--pviol-after", {{SpaceP, 0x0050, Words(5, 0x5060)}}},
                        {"--accerr-after", {{SpaceP, 0x0050, Words(6, 0x5060)}}},
                        {"--accerr-after", {{SpaceP, 0x20010, Words(5, 0x5060)}}},
                        {"--pviol-after", {{SpaceX, 0x2010, Words(5, 0x5060)}}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.fault) + " at " + Hex(c.records[0].address));
    UseImage(srec::Write(c.records));
    const RunResult run = CleanSim(1, Program, {c.fault, "4"});
    EXPECT_EQ(ProgrammingPass(run.out), WritingError + Failed);
    Record written = c.records[0];
    written.words.resize(4);
    EXPECT_EQ(FlashDifferences(Flash(), ImageOf({written})), "");
  }
}

// Variant 2 has no program flash from 0x10000: the array writes go nowhere and the command that
// follows them is an access error.
TEST_F(PassesTest, ProgramFlashAbove0xFFFFIsAnAccessErrorOnVariant2) {
  const std::vector<Record> records{{SpaceP, 0x0100, Words(4, 0x0101)},
                                    {SpaceP, 0x10000, Words(4, 0x0202)},
                                    {SpaceP, 0x0200, Words(4, 0x0303)}};
  UseImage(srec::Write(records));
  const RunResult run = Sim(2, Program);
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(ProgrammingPass(run.out), WritingError + Failed);
  EXPECT_EQ(run.err, "qzflash-sim: protocol warnings: 3 (unmapped store 2, bad-command echo 1)\n");
  EXPECT_EQ(FlashDifferences(Flash(), ImageOf({records[0]})), "");
}

// ---------------------------------------------------------------------------------------------
// Files the passes stop on

const std::vector<Record> ThreeRecords{{SpaceP, 0x0100, Words(6, 0x1001)},
                                       {SpaceX, 0x2100, Words(5, 0x2002)},
                                       {SpaceP, 0x20100, Words(4, 0x3003)}};

TEST_F(PassesTest, AWrongLineChecksumStopsProgrammingBeforeThatRecord) {
  UseImage(srec::Write(ThreeRecords, {.wrongChecksumLine = 3}));
  const RunResult run = CleanSim(1, Program);
  EXPECT_EQ(ProgrammingPass(run.out), WrongChecksum + Failed);
  EXPECT_EQ(FlashDifferences(Flash(), ImageOf({ThreeRecords[0]})), "");
}

// The verification pass does not test line checksums: the record's checksum byte meets the
// checksum of the words in the flash.
TEST_F(PassesTest, VerificationComparesTheChecksumByteWithTheFlash) {
  UseImage(srec::Write(ThreeRecords));
  CleanSim(1, Program);
  UseImage(srec::Write(ThreeRecords, {.wrongChecksumLine = 3}));
  const unsigned checksum = srec::Checksum(ThreeRecords[1]);
  EXPECT_EQ(VerificationRun(CleanSim(1, Verify).out), MismatchLine((checksum + 1) & 0xFF, checksum) + ErrorDetected);
}

TEST_F(PassesTest, ARejectedOrMissingHeaderWritesNothing) {
  for (Header header : {Header::Rejected, Header::None}) {
    SCOPED_TRACE(static_cast<int>(header));
    UseImage(srec::Write(ThreeRecords, {.header = header}));
    const RunResult run = CleanSim(1, Program);
    EXPECT_EQ(ProgrammingPass(run.out), (header == Header::Rejected ? WrongFormat : "") + Failed);
    EXPECT_EQ(FlashDifferences(Flash(), {}), "");
  }
}

TEST_F(PassesTest, VerificationOfAFileWithARejectedHeaderFails) {
  UseImage(srec::Write(ThreeRecords));
  CleanSim(1, Program);
  UseImage(srec::Write(ThreeRecords, {.header = Header::Rejected}));
  EXPECT_EQ(VerificationRun(CleanSim(1, Verify).out), WrongFormat + ErrorDetected);
}

TEST_F(PassesTest, ARecordOfAddressByte1IsRejectedInBothPasses) {
  const std::vector<Record> records{ThreeRecords[0], {1, 0x2100, Words(5, 0x2002)}, ThreeRecords[2]};
  UseImage(srec::Write(records));
  const RunResult programmed = CleanSim(1, Program);
  EXPECT_EQ(ProgrammingPass(programmed.out), WrongFormat + Failed);
  EXPECT_EQ(FlashDifferences(Flash(), ImageOf({ThreeRecords[0]})), "");

  // The rejected record's memory checksum stays 0 and is compared like any other.
  EXPECT_EQ(VerificationRun(CleanSim(1, Verify).out),
            WrongFormat + MismatchLine(srec::Checksum(records[1]), 0) + ErrorDetected);
}

TEST_F(PassesTest, AFileWithoutEndRecordIsProgrammedButReportedInBothPasses) {
  UseImage(srec::Write(ThreeRecords, {.endRecord = false}));
  const RunResult run = CleanSim(1, ProgramThenVerify);
  EXPECT_EQ(ProgrammingPass(run.out), EndOfFile + Failed);
  EXPECT_EQ(Between(run.out, "\n You asked for number : 2\n", Menu), EndOfFile + ErrorDetected);
  EXPECT_EQ(FlashDifferences(Flash(), ImageOf(ThreeRecords)), "");
}

// ---------------------------------------------------------------------------------------------
// Adapter faults

TEST_F(PassesTest, UnpluggingDuringProgrammingEndsTheRunInOrder) {
  const Image image = srec::RandomImage(1, 5, 4, 30);
  UseImage(srec::Write(image));
  auto writes = [this](const std::string& input) {
    const std::string trace = (bench.path() / "trace.txt").string();
    Sim(1, input, {"--trace", trace});
    std::istringstream lines(bench.Read("trace.txt"));
    int count = 0;
    for (std::string line; std::getline(lines, line);) count += line.starts_with("write ") ? 1 : 0;
    return count;
  };
  // A full erase makes the writes that programming makes besides its pass: the unplug falls
  // halfway through the pass.
  const int eraseOnly = writes("2\n\n");
  const int programming = writes(Program);
  ASSERT_GT(programming - eraseOnly, 100);
  const RunResult run = Sim(1, Program, {"--unplug-after", std::to_string(eraseOnly + (programming - eraseOnly) / 2)});
  EXPECT_EQ(run.status, 0);
  EXPECT_TRUE(run.out.ends_with(Goodbye)) << run.out;
  EXPECT_NE(run.out.find(Erased), std::string::npos);
  EXPECT_NE(run.out.find(Failed), std::string::npos);
  EXPECT_EQ(run.out.find(Rewritten), std::string::npos);
}

TEST_F(PassesTest, LateRepliesChangeNeitherTheDialogueNorTheFlash) {
  const Image image = srec::RandomImage(2, 11, 3, 30);
  UseImage(srec::Write(image));
  const RunResult normal = CleanSim(2, ProgramThenVerify);
  const std::string flash = State();
  EXPECT_EQ(FlashDifferences(Flash(), image), "");
  for (const char* bytesPerPoll : {"1", "3"}) {
    SCOPED_TRACE(bytesPerPoll);
    std::filesystem::remove(StatePath());
    const RunResult late = CleanSim(2, ProgramThenVerify, {"--late-replies", bytesPerPoll});
    EXPECT_EQ(late.out, normal.out);
    EXPECT_EQ(State(), flash);
  }
}

TEST_F(PassesTest, AWordThatReadsBackWrongFailsVerification) {
  const std::vector<Record> records{{SpaceP, 0x0100, Words(6, 0x1001)},
                                    {SpaceP, 0x0106, Words(6, 0x1101)},
                                    {SpaceX, 0x2100, Words(5, 0x2002)}};
  UseImage(srec::Write(records));
  CleanSim(1, Program);
  const Image image = ImageOf(records);
  const Location bad[] = {{SpaceP, 0x0108}, {SpaceX, 0x2104}};
  for (const Location& location : bad) {
    const std::string option = SpaceLetter(location.space) + ":" + Hex(location.address);
    SCOPED_TRACE(option);
    const Holding holding = RecordHolding(records, location, image.at(location) ^ 0x0001);
    EXPECT_EQ(VerificationRun(CleanSim(1, Verify, {"--bad-word", option}).out),
              MismatchLine(holding.record, holding.inMemory) + ErrorDetected);
  }
  // A word that no record covers is never read.
  EXPECT_EQ(VerificationRun(CleanSim(1, Verify, {"--bad-word", "P:0010C"}).out), Success);
}

// ---------------------------------------------------------------------------------------------
// Progress display

// 25 lines: a step every second line, ten of them, the last after line 20.
std::vector<Record> TwentyThreeRecords() {
  std::vector<Record> records;
  for (std::uint32_t i = 0; i < 23; ++i)
    records.push_back({SpaceP, 0x1000 + 0x20 * i, Words(3, static_cast<std::uint16_t>(i))});
  return records;
}

TEST_F(PassesTest, TwentyFiveLinesShowTenProgressStepsInBothPasses) {
  UseImage(srec::Write(TwentyThreeRecords()));
  const RunResult programmed = CleanSim(1, ProgramThenVerify);
  EXPECT_EQ(ProgrammingPass(programmed.out), ProgressSteps(1, 10) + Rewritten);
  EXPECT_EQ(Between(programmed.out, "\n You asked for number : 2\n", Menu), ProgressSteps(1, 10) + Success);
  EXPECT_EQ(VerificationRun(CleanSim(1, Verify).out), ProgressSteps(1, 10) + Success);
}

// The message of a wrong checksum on line 7 comes after the step of line 6; on line 8, before
// the step of that line.
TEST_F(PassesTest, ProgressStepsFollowEverySecondLine) {
  UseImage(srec::Write(TwentyThreeRecords(), {.wrongChecksumLine = 7}));
  EXPECT_EQ(ProgrammingPass(CleanSim(1, Program).out), ProgressSteps(1, 3) + WrongChecksum + Failed);
  UseImage(srec::Write(TwentyThreeRecords(), {.wrongChecksumLine = 8}));
  EXPECT_EQ(ProgrammingPass(CleanSim(1, Program).out), ProgressSteps(1, 3) + WrongChecksum + ProgressStep(4) + Failed);
}

TEST_F(PassesTest, NineLinesShowNoProgress) {
  std::vector<Record> records = TwentyThreeRecords();
  records.resize(7);
  UseImage(srec::Write(records));
  const RunResult run = CleanSim(1, ProgramThenVerify);
  EXPECT_EQ(ProgrammingPass(run.out), Rewritten);
  EXPECT_EQ(Between(run.out, "\n You asked for number : 2\n", Menu), Success);
  EXPECT_EQ(run.out.find('%'), std::string::npos);
  EXPECT_EQ(run.out.find("\x1b[2J"), std::string::npos);
}

}  // namespace
