// The programming and verification passes of the real program on the virtual target: the flash
// it leaves behind, word by word, and what the operator sees.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstdio>

#include "Console.h"
#include "Image.h"
#include "Run.h"

namespace {

using namespace console;

const std::string WrongFormat = " Wrong SRecord format or file\n";
const std::string WritingError = " Writing error\n";
const std::string EndOfFile = " Unexpected end of SRecord file\n";

// Operator input. The image is entry 3 of the listing, after "." and "..".
const std::string Program = "1\n3\n3\n\n";
const std::string ProgramThenVerify = "1\n3\n2\n3\n\n";
const std::string Verify = "3\n3\n\n";

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
// Verification chosen in the after-programming menu.
std::string MenuVerification(const std::string& out) { return Between(out, Asked(2), Menu); }
// Operation 3: from the end of initialisation to the goodbye.
std::string VerificationRun(const std::string& out) { return Between(out, console::Initialised, console::Goodbye); }

std::string MismatchLine(unsigned checkSum, unsigned checkSumMemory) {
  char line[64];
  std::snprintf(line, sizeof line, "\n CheckSum = 0x%x and CheckSumMemory = 0x%x\n", checkSum, checkSumMemory);
  return line;
}

std::string ProgressStep(int step) {
  return "\x1b[2J\x1b[H" + std::string(static_cast<std::size_t>(step), '*') + "\n " + std::to_string(10 * step) + "%\n";
}

// Steps 1 to last: every pass over a file of ten lines or more ends with all ten.
std::string Steps(int last) {
  std::string steps;
  for (int step = 1; step <= last; ++step) steps += ProgressStep(step);
  return steps;
}

class PassesTest : public ::testing::Test {
 protected:
  ScratchFolder files;  // the image alone
  ScratchFolder bench;  // the state file and traces, kept out of the listing

  std::string StatePath() const { return (bench.path() / "flash.txt").string(); }
  void UseImage(const std::string& text) const { files.Write("image.s19", text); }
  // The USB writes of a clean run of variant 1.
  int WritesOf(const std::string& input) const {
    Sim(1, input, {"--trace", (bench.path() / "trace.txt").string()});
    return static_cast<int>(TraceLines(bench.Read("trace.txt"), "write ").size());
  }
  std::string Flash() const { return RowsOf(bench.Read("flash.txt")); }

  // A run that must end as every run does, with the exit status and protocol warnings given.
  RunResult Sim(int variant, const std::string& input, const std::vector<std::string>& faults = {},
                int status = 0, const std::string& err = console::CleanRun) const {
    std::vector<std::string> args{"--variant", std::to_string(variant), "--state", StatePath()};
    args.insert(args.end(), faults.begin(), faults.end());
    RunResult run = ::Run(QZFLASH_SIM, args, files.path(), input, 30);
    EXPECT_EQ(run.status, status);
    EXPECT_EQ(run.err, err);
    EXPECT_TRUE(run.out.ends_with(console::Goodbye)) << run.out;
    return run;
  }
};

class PassesOnVariant : public PassesTest, public ::testing::WithParamInterface<int> {};

// Variant 1's file has CR LF line ends.
TEST_P(PassesOnVariant, ProgramsARandomImageAndVerifiesItUntilAWordReadsWrong) {
  const int variant = GetParam();
  const Image image = RandomImage(variant, 2024, 6, 40);
  const std::vector<Record> records = Records(image);
  UseImage(Write(records, {.crlf = variant == 1}));
  // A word programmed earlier at the end of each region, for the full erase to remove.
  std::string earlier;
  for (const Region& region : FlashRegions(variant)) {
    ASSERT_FALSE(image.contains({region.space, region.last}));
    earlier += SpaceLetter(region.space) + " " + Hex(region.last, 5) + ": 0000\n";
  }
  bench.Write("flash.txt", earlier);

  EXPECT_EQ(ProgrammingPass(Sim(variant, Program).out), Steps(10) + Rewritten);
  EXPECT_EQ(Flash(), StateOf(image));
  EXPECT_EQ(VerificationRun(Sim(variant, Verify).out), Steps(10) + Success);
  EXPECT_EQ(Flash(), StateOf(image)) << "after verification";

  // The first word of data flash reads back wrong: the pass stops at the record holding it, on
  // line 2 + its index. A step comes after every tenth of the file's lines, so the steps of the
  // lines before show, then the mismatch, then the step of its own line if it ends a tenth.
  const auto first = std::find_if(records.begin(), records.end(), [](const Record& r) { return r.space == SpaceX; });
  Record read = *first;
  read.words[0] ^= 1;
  const int line = static_cast<int>(first - records.begin()) + 2, every = static_cast<int>(records.size() + 2) / 10;
  const int before = std::min(10, (line - 1) / every);
  EXPECT_EQ(VerificationRun(Sim(variant, Verify, {"--bad-word", "X:" + Hex(read.address)}, 1).out),
            Steps(before) + MismatchLine(Checksum(*first), Checksum(read)) +
                (line % every == 0 && before < 10 ? ProgressStep(before + 1) : "") + ErrorDetected);
  // A word that no record covers is never read.
  EXPECT_EQ(VerificationRun(Sim(variant, Verify, {"--bad-word", "P:" + Hex(FlashRegions(variant)[0].last)}).out),
            Steps(10) + Success);
}

TEST_P(PassesOnVariant, AnyLeadAndANulInTheHeaderProgramOddRecordsWordByWord) {
  const int variant = GetParam();
  // A three-word record right before a record of erased words, so that a word paired with
  // the last one would stay visible; a one-word record at the very end of program flash. Nine
  // lines: no progress display.
  const std::vector<Record> records{{SpaceP, 0x0100, {0x1111, 0x2222, 0x3333}},
                                    {SpaceP, 0x0103, {0xFFFF, 0xFFFF}},
                                    {SpaceP, 0x0200, {0x4444}},
                                    {SpaceP, variant == 1 ? 0x1FFFFu : 0x0FFFFu, {0x5555}},
                                    {SpaceP, 0x20000, {0x6666, 0x7777, 0x8888}},
                                    {SpaceX, variant == 1 ? 0x2F00u : 0x1F00u, {0x9999, 0xAAAA, 0xBBBB}},
                                    {SpaceP, 0x0300, {0xCCCC, 0xDDDD, 0xEEEE}}};
  // Any two bytes may lead the text, here A5 5A ('Z'); the reader's own tests take each text.
  UseImage(Write(records, {.header = {"\xA5ZPROGRA\0M", 10}}));
  const RunResult run = Sim(variant, ProgramThenVerify);
  EXPECT_EQ(ProgrammingPass(run.out), Rewritten);
  EXPECT_EQ(MenuVerification(run.out), Success);
  EXPECT_EQ(Flash(), StateOf(ImageOf(records)));
}

INSTANTIATE_TEST_SUITE_P(PassesVariants, PassesOnVariant, ::testing::Values(1, 2),
                         [](const auto& info) { return "Variant" + std::to_string(info.param); });

// A failed program command is noticed at the next word, which is skipped with the rest of its
// record, a pair at a time in program flash; the pass reports a failed last command itself.
TEST_F(PassesTest, AFailedProgramCommandStopsThePass) {
  struct Case {
    const char* name;
    int variant;
    std::vector<std::string> fault;
    int skipped;          // words or pairs said to be skipped; -1: the last command never ends
    std::size_t written;  // words programmed, in file order
    std::vector<Record> records;
  };
  const Case cases[] = {
      // Two pairs of the first record, the second record's three.
      {"PVIOL of the third of eight pairs", 1, {"--pviol-after", "4"}, 5, 4,
       {{SpaceP, 0x0400, Words(16, 0x0A0B)}, {SpaceP, 0x0410, Words(5, 0x1C1D)}, {SpaceX, 0x2400, Words(2, 0x2E2F)}}},
      {"PVIOL of a last single word", 1, {"--pviol-after", "4"}, 1, 4, {{SpaceP, 0x0050, Words(5, 0x5060)}}},
      // Variant 2 launches three erases; the first program command, the pass's last, hangs.
      {"a last command that never completes", 2, {"--hang-after", "3"}, -1, 0, {{SpaceP, 0x0050, Words(2, 0x5060)}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove(StatePath());  // variant 2 refuses a state with variant 1's data flash
    UseImage(Write(c.records));
    std::string shown = c.skipped < 0 ? " Flash command timeout\n" : "";
    for (int i = 0; i < c.skipped; ++i) shown += WritingError;
    EXPECT_EQ(ProgrammingPass(Sim(c.variant, Program, c.fault, 1).out), shown + Failed);
    EXPECT_EQ(Flash(), StateOf(ImageOf(c.records, c.written)));
  }
  // The fault fires once: doing it again programs everything, and the run ends as that did.
  UseImage(Write(cases[0].records));
  EXPECT_EQ(Between(Sim(1, "1\n3\n1\n3\n\n", cases[0].fault).out, Menu + Asked(1), Asked(3)),
            console::Initialised + Erased + Rewritten + Menu);
  EXPECT_EQ(Flash(), StateOf(ImageOf(cases[0].records)));
}

// text with line (and its newline) put before its line number `before`, from 1.
std::string WithLine(const std::string& text, int before, const std::string& line) {
  std::size_t at = 0;
  for (int i = 1; i < before; ++i) at = text.find('\n', at) + 1;
  return text.substr(0, at) + line + "\n" + text.substr(at);
}

// Each file is verified against the flash its sound version programmed, then offered for
// programming: the check before the erase refuses it and the flash stays as it was.
TEST_F(PassesTest, FilesThatCannotBeProgrammedLeaveTheFlashAlone) {
  const std::vector<Record> sound{
      {SpaceP, 0x0100, Words(6, 0x1001)}, {SpaceX, 0x2100, Words(5, 0x2002)}, {SpaceP, 0x20100, Words(4, 0x3003)}};
  std::vector<Record> space1 = sound, beyond = sound;
  space1[1].space = 1;
  beyond[2].address = 0x20FFE;  // four words from the last two of boot flash on
  const std::string soundText = Write(sound);
  // Eleven data bytes, the last 0: it is no word, and the record still sums as the flash does.
  std::vector<std::uint8_t> oddBytes = S3Bytes(sound[0]);
  oddBytes.pop_back();
  oddBytes.back() = 0x00;
  const unsigned checksum = Checksum(sound[1]);
  // Unmapped memory reads 0: zeros outside the flash must not pass for held, whatever is read.
  const Record zeros{SpaceP, 0x21000, {0x0000, 0x0000}};
  const unsigned zerosAddressSum = 9 + 0x02 + 0x10;  // byte count and address bytes
  const std::string refused = "\n The file cannot be programmed: the flash was left as it was\n";
  struct Case {
    const char* name;
    std::string file;
    int verificationStatus;    // of operation 3; -1: not tried
    std::string verification;  // what it shows after the initialisation
    std::string check;         // the reason the check before programming gives
  };
  const Case cases[] = {
      // Verification does not test line checksums: the checksum byte meets the flash's.
      {"wrong line checksum", Write(sound, {.wrongChecksumLine = 3}), 1,
       MismatchLine((checksum + 1) & 0xFF, checksum) + ErrorDetected, " Line 3: wrong checksum\n"},
      {"rejected header", Write(sound, {.header = {"\0\0PROGRAM DATA", 14}}), 2, WrongFormat,
       " Line 1: header not PROGRAM&DATA, PROGRA<0>M or DATA\n"},
      {"no header", Write(sound, {.header = ""}), 2, WrongFormat, " Line 1: a record before the S0 header\n"},
      {"a0 = 1", Write(space1), 2, WrongFormat, " Line 3: address byte 0 is neither 00 (P) nor 02 (X)\n"},
      {"record type S1", WithLine(soundText, 5, "S1071000AB12CD3600"), 2, WrongFormat,
       " Line 5: record type S1 is not S0, S3 or S7\n"},
      {"not an S-Record line", WithLine(soundText, 2, "hello"), 2, WrongFormat, " Line 2: not an S-Record line\n"},
      {"byte count above 41", "S32A" + soundText.substr(4), 2, " Format error in SRecord File \n",
       " Line 1: byte count above 41\n"},
      {"no end record", Write(sound, {.endRecord = false}), 2, EndOfFile, " Line 5: no S7 end record\n"},
      {"empty file", "", 2, EndOfFile, " Line 1: no S0 header\n"},
      {"odd number of data bytes", WithLine(Write(std::vector<Record>(sound.begin() + 1, sound.end())), 2,
                                            Line('3', oddBytes, false, "")),
       0, Success, " Line 2: odd number of data bytes\n"},
      // X RAM, taken as matching by verification: the reset leaves it undefined.
      {"a record in X RAM", WithLine(soundText, 5, Line('3', S3Bytes({SpaceX, 0x0FF0, {0x1234}}), false, "")), 0,
       Success, " Line 5: X:0x00FF0 is not in the flash of this target\n"},
      {"words beyond boot flash", Write(beyond), -1, "", " Line 4: P:0x21000 is not in the flash of this target\n"},
      {"zeros beyond boot flash", Write(std::vector<Record>{zeros}), 1,
       MismatchLine(Checksum(zeros), zerosAddressSum) + ErrorDetected,
       " Line 2: P:0x21000 is not in the flash of this target\n"},
      // The passes stop at the end record: data after it is never programmed, nor verified.
      {"a record after the end record", soundText + "S30900001000AB12CD3428\n", 0, Steps(0) + Success,
       " Line 6: a data record after the S7 end record\n"},
  };
  UseImage(soundText);
  Sim(1, Program);
  const std::string programmed = Flash();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    UseImage(c.file);
    if (c.verificationStatus >= 0) {
      EXPECT_EQ(VerificationRun(Sim(1, Verify, {}, c.verificationStatus).out), c.verification);
    }
    EXPECT_TRUE(Sim(1, Program, {}, 2).out.ends_with("\n Choosen File : image.s19\n" + c.check + refused +
                                                      console::Goodbye));
    EXPECT_EQ(Flash(), programmed);
  }
  // What tools leave after the end record is no data: such files program whole.
  for (const char* trailer : {"\x1A", "\n\n", "; end of image\n", "S5030001FB\n"}) {
    SCOPED_TRACE(testing::PrintToString(trailer));
    UseImage(soundText + trailer);
    Sim(1, Program);
    EXPECT_EQ(Flash(), programmed);
  }
  // A folder cannot be opened.
  std::filesystem::remove(files.path() / "image.s19");
  std::filesystem::create_directory(files.path() / "image.s19");
  EXPECT_EQ(VerificationRun(Sim(1, Verify, {}, 2).out), "\n Impossible to open the file\n");
  EXPECT_TRUE(Sim(1, Program, {}, 2).out.ends_with(" Line 1: the file cannot be opened\n" + refused + console::Goodbye));
  EXPECT_EQ(Flash(), programmed);
}

// A read that fails is never taken for a value, whatever the value would have passed for, and
// a link that died ends the pass at once.
TEST_F(PassesTest, AnUnpluggedAdapterEndsEachPassInOrder) {
  // One record of no words: nothing to compare, so only the failed reads of the initialisation
  // stand between the unplugged adapter and a success.
  UseImage(Write(std::vector<Record>{{SpaceP, 0x1000, {}}}));
  EXPECT_TRUE(Sim(1, Verify, {"--unplug-after", "12"}, 3).out.ends_with(" Initialization error\n" + console::Goodbye));
  // Unplugged during the verification after programming: the failed read is not compared.
  UseImage(Write(std::vector<Record>{{SpaceP, 0x0300, Words(9, 0x4321)}}));
  const RunResult verifying = Sim(1, ProgramThenVerify, {"--unplug-after", std::to_string(WritesOf(Program) + 3)}, 3);
  EXPECT_EQ(MenuVerification(verifying.out), " The Data Reading Failed\n The adapter was lost\n" + ErrorDetected);

  // Unplugged while programming: a full erase makes the writes that programming makes besides
  // its pass, so the unplug falls halfway through the pass.
  UseImage(Write(RandomImage(1, 5, 4, 30)));
  const int eraseOnly = WritesOf("2\n\n");
  const int programming = WritesOf(Program);
  ASSERT_GT(programming - eraseOnly, 100);
  const RunResult run =
      Sim(1, Program, {"--unplug-after", std::to_string(eraseOnly + (programming - eraseOnly) / 2)}, 3);
  const std::string pass = ProgrammingPass(run.out);
  EXPECT_TRUE(pass.ends_with(Failed)) << pass;
  EXPECT_EQ(pass.find(WritingError), std::string::npos) << "a dead link is noticed at once";
  EXPECT_EQ(pass.find(" The Data Reading Failed"), pass.rfind(" The Data Reading Failed")) << "and said once";
}

// Reads are awaited 6 ms while programming, 4 ms while verifying, as the last answer chose.
TEST_F(PassesTest, ReadsWaitLessWhileVerifying) {
  UseImage(Write(std::vector<Record>{{SpaceP, 0x0010, Words(3, 0x1234)}}));
  for (const auto& [input, waits] : {std::pair{std::string("1\n3\n2\n1\n3\n\n"), std::string("6 4 6 ")},
                                     std::pair{Verify, std::string("4 ")}}) {
    Sim(1, input, {"--trace", (bench.path() / "trace.txt").string()});
    std::string seen, last;
    for (const std::string& line : TraceLines(bench.Read("trace.txt"), "sleep "))
      if ((line == "4" || line == "6") && line != last) seen += (last = line) + " ";
    EXPECT_EQ(seen, waits) << input;
  }
}

// Record sums that agree, words that do not: verification names the first differing word, at
// any position of a full record and of a 16-word one, with both words. In flash, word k has its
// bytes swapped, or words k and k + 1 are exchanged: neighbours share their high byte from an
// even k, their low byte from an odd one, which hides the difference from a compare of one byte.
TEST_F(PassesTest, VerificationNamesTheDifferingWordAtEveryPositionOfARecord) {
  std::vector<std::uint16_t> words;
  for (int k = 0; k < 18; ++k) words.push_back(static_cast<std::uint16_t>((0x10 + k / 2) << 8 | (0x80 + (k + 1) / 2)));
  for (const Record& file : {Record{SpaceP, 0x1FFEE, words}, Record{SpaceX, 0x2FF0, {&words[0], &words[16]}}}) {
    UseImage(Write(std::vector<Record>{file}));
    // Even j: word j / 2 swapped; odd j: exchanged with the next.
    for (std::size_t j = 0; j + 1 < 2 * file.words.size(); ++j) {
      Record flash = file;
      std::uint16_t& word = flash.words[j / 2];
      if (j % 2 == 0) word = std::rotl(word, 8);
      else std::swap(word, flash.words[j / 2 + 1]);
      bench.Write("flash.txt", StateOf(ImageOf({flash})));
      EXPECT_EQ(VerificationRun(Sim(1, Verify, {}, 1).out),
                "\n Word at " + SpaceLetter(file.space) + ":0x" + Hex(file.address + j / 2, 5) + " = 0x" +
                    Hex(word, 4) + " and file word = 0x" + Hex(file.words[j / 2], 4) + "\n" + ErrorDetected);
    }
  }
}

}  // namespace
