#include "PassLib.h"

#include <algorithm>
#include <cstdio>
#include <functional>
#include <span>
#include <string>

#include "Platform.h"
#include "SRecordLib.h"

std::int32_t HeaderFlag = 0;
std::int32_t CheckSumMemory = 0;
ProgressStyle PassProgress = ProgressStyle::Redraw;

namespace {

constexpr const char* WrongFormat = " Wrong SRecord format or file";

// Address byte a0 of an S3 record: its memory space.
constexpr int SpaceP = 0;
constexpr int SpaceX = 2;

// What an erased flash word reads.
constexpr std::uint16_t Erased = 0xFFFF;

enum class Region { ProgramFlash, BootFlash, DataFlash, XRam, Outside, Rejected };

// The word address of the record's first word; a0 chose the space and is not part of it.
std::int32_t RecordAddress() { return AddressS3[1] * 65536 + AddressS3[2] * 256 + AddressS3[3]; }

bool InAMemorySpace() { return AddressS3[0] == SpaceP || AddressS3[0] == SpaceX; }

// The memory of variant that holds the record's first word.
Region SelectRegion(const TargetVariant& variant) {
  if (!InAMemorySpace()) return Region::Rejected;
  const struct {
    const MemoryRegion& memory;
    Region region;
  } regions[] = {{variant.programFlash, Region::ProgramFlash},
                 {variant.bootFlash, Region::BootFlash},
                 {variant.dataFlash, Region::DataFlash},
                 {variant.xRam, Region::XRam}};
  const bool xMemory = AddressS3[0] == SpaceX;
  for (const auto& candidate : regions)
    if (candidate.memory.xMemory == xMemory && candidate.memory.Holds(RecordAddress())) return candidate.region;
  return Region::Outside;
}

// The passes run only once a known variant answered.
Region SelectRegion() {
  const TargetVariant* variant = VariantOf(numeroCible);
  return variant ? SelectRegion(*variant) : Region::Outside;
}

// The record's whole words; an odd last byte belongs to none.
int RecordWords() { return (FullByteCountInt - S3FieldBytes) / 2; }

bool IsEndRecord() { return RecordType[1] == '7'; }

Outcome RefuseRecord() {
  std::puts(WrongFormat);
  return Outcome::FileUnusable;
}

// Dispatch common to both passes. Done for an S3 record to act on; otherwise what the line
// means for the pass, which goes on after an accepted header or ends at the end record.
Outcome DispatchCommon(bool& dataRecord) {
  dataRecord = false;
  switch (RecordType[1]) {
    case '0':
      HeaderFlag = HeaderTrad();
      if (HeaderFlag == 1) return Outcome::Done;
      std::puts(WrongFormat);
      return Outcome::FileUnusable;
    case '7':
      return HeaderFlag == 1 ? Outcome::Done : RefuseRecord();
    case '3':
      // Nothing is written or compared for a file whose header was not accepted.
      if (HeaderFlag != 1) return RefuseRecord();
      if (!InAMemorySpace()) return RefuseRecord();
      dataRecord = true;
      return Outcome::Done;
    default:
      return RefuseRecord();
  }
}

// The previous flash command failed: this word is not written. After a link failure nothing is
// written either, and there is nothing more to say.
bool SkipWord() {
  if (!FlashCommandFailed()) return false;
  if (PVIOL == 1 || ACCERR == 1) std::puts(" Writing error");
  return true;
}

class Progress {
 public:
  explicit Progress(std::int32_t total) : total_(total), countdown_(total / Steps) {}

  // After each line's work: a step every tenth of the file, ten at most. With fewer than ten
  // lines the countdown never meets 0, so no step is shown.
  void AfterLine() {
    if (--countdown_ != 0 || shown_ >= Steps) return;
    ++shown_;
    if (PassProgress == ProgressStyle::Redraw) {
      ClearConsole();
      for (std::int32_t i = 0; i < shown_; ++i) std::putchar('*');
      std::putchar('\n');
    }
    std::printf(" %d%c\n", 10 * shown_, '%');
    countdown_ = total_ / Steps;
  }

 private:
  static constexpr std::int32_t Steps = 10;
  std::int32_t total_;
  std::int32_t countdown_;
  std::int32_t shown_ = 0;
};

using LineWork = Outcome (*)(RecordStatus status);

// The loop both passes share: from the first line to the end record, or to the first line
// whose work did not go well. Done only for a pass over the whole file.
Outcome Pass(LineWork work) {
  HeaderFlag = 0;
  CheckSum = 0;
  SRecordDataSize = 0;
  MoveSize = 0;
  if (!CountSRecordline()) {
    std::puts("\n Impossible to open the file");
    return Outcome::FileUnusable;
  }
  Progress progress(LineCount);
  for (;;) {
    switch (ReadSRecordline()) {
      case LineRead::Read:
        break;
      case LineRead::CannotOpen:
        std::puts("\n Impossible to open the file");
        return Outcome::FileUnusable;
      case LineRead::CannotSeek:
        std::puts("\n Impossible to read SRecord line ");
        return Outcome::FileUnusable;
      case LineRead::EndOfFile:
        std::puts(" Unexpected end of SRecord file");
        return Outcome::FileUnusable;
    }
    const RecordStatus status = SRecordLineDecode();
    if (status == RecordStatus::CountAbove41) {
      std::puts(" Format error in SRecord File ");
      return Outcome::FileUnusable;
    }
    const Outcome line = work(status);
    progress.AfterLine();
    if (line != Outcome::Done) return line;
    if (IsEndRecord()) return Outcome::Done;
  }
}

Outcome ProgramLine(RecordStatus status) {
  if (status != RecordStatus::Accepted) return RefuseRecord();
  if (VerifyChecksum() != 1) {
    std::puts(" Le checksum est faux!");
    return Outcome::FileUnusable;
  }
  return WriteSRecordData();
}

// The line's own checksum is not tested: the record's is compared with the memory's.
Outcome VerifyLine(RecordStatus status) {
  CheckSumMemory = 0;
  if (status != RecordStatus::Accepted) return RefuseRecord();
  return ReadSRecordData();
}

void Problem(int line, const std::string& reason) {
  std::printf(" Line %d: %s\n", line, reason.c_str());
  std::puts("\n The file cannot be programmed: the flash was left as it was");
}

// The flash of the variant an S3 record's words go to, or nullptr.
const MemoryRegion* FlashOf(const TargetVariant& variant) {
  switch (SelectRegion(variant)) {
    case Region::ProgramFlash:
      return &variant.programFlash;
    case Region::BootFlash:
      return &variant.bootFlash;
    case Region::DataFlash:
      return &variant.dataFlash;
    default:
      return nullptr;
  }
}

// What is wrong with the decoded line for the programming pass, or an empty text.
std::string LineProblem(RecordStatus status, const TargetVariant& variant, bool headerSeen) {
  switch (status) {
    case RecordStatus::Accepted:
      break;
    case RecordStatus::UnknownType:
      return std::string("record type ") + RecordType[0] + RecordType[1] + " is not S0, S3 or S7";
    case RecordStatus::Malformed:
      return "not an S-Record line";
    case RecordStatus::CountAbove41:
      return "byte count above 41";
  }
  if (VerifyChecksum() != 1) return "wrong checksum";
  if (RecordType[1] == '0') return HeaderTrad() == 1 ? "" : "header not PROGRAM&DATA, PROGRA<0>M or DATA";
  if (!headerSeen) return "a record before the S0 header";
  if (RecordType[1] == '7') return "";
  if (SRecordDataSize % 2 != 0) return "odd number of data bytes";
  if (!InAMemorySpace()) return "address byte 0 is neither 00 (P) nor 02 (X)";
  const MemoryRegion* region = FlashOf(variant);
  const std::int32_t first = RecordAddress();
  for (std::int32_t address = first; address < first + RecordWords(); ++address) {
    if (region == nullptr || !region->Holds(address)) {
      char text[64];
      std::snprintf(text, sizeof text, "%c:0x%05X is not in the flash of this target",
                    AddressS3[0] == SpaceX ? 'X' : 'P', static_cast<unsigned>(address));
      return text;
    }
  }
  return "";
}

// The erase blocks that hold a word of the record just checked.
void MarkTouched(const TargetVariant& variant, std::vector<bool>& touched) {
  const std::int32_t first = RecordAddress();
  for (std::size_t k = 0; k < variant.eraseBlocks.size(); ++k) {
    const MemoryRegion& block = variant.eraseBlocks[k].words;
    if (RecordWords() > 0 && block.xMemory == (AddressS3[0] == SpaceX) && first <= block.last &&
        first + RecordWords() - 1 >= block.first)
      touched[k] = true;
  }
}

// The words of a read-back or a blank check come a line at a time.
inline constexpr int WordsPerLine = 16;
using LineOfWords = std::function<void(const MemoryRegion& region, std::int32_t address,
                                      std::span<const std::uint16_t> words)>;

// Reads regions a line at a time, handing each to work, with the passes' progress.
Outcome ReadRegions(const std::vector<MemoryRegion>& regions, const LineOfWords& work) {
  std::int32_t lines = 0;
  for (const MemoryRegion& region : regions) lines += (region.last - region.first + WordsPerLine) / WordsPerLine;
  Progress progress(lines);
  std::uint16_t words[WordsPerLine];
  for (const MemoryRegion& region : regions) {
    for (std::int32_t address = region.first; address <= region.last; address += WordsPerLine) {
      const std::span line(words, static_cast<std::size_t>(std::min(WordsPerLine, region.last - address + 1)));
      if (!ReadFlashWords(region.xMemory, address, line)) return Conclude(Outcome::Failed);
      work(region, address, line);
      progress.AfterLine();
    }
  }
  return Conclude(Outcome::Done);
}

}  // namespace

std::vector<MemoryRegion> ChosenRegions(const TargetVariant& variant, MemoryChoice choice) {
  std::vector<MemoryRegion> regions;
  if (choice.program) regions.push_back(variant.programFlash);
  if (choice.boot) regions.push_back(variant.bootFlash);
  if (choice.data) regions.push_back(variant.dataFlash);
  return regions;
}

HeaderForm HeaderFor(MemoryChoice choice) {
  if (!choice.data) return HeaderForm::ProgramOnly;
  return choice.program || choice.boot ? HeaderForm::ProgramAndData : HeaderForm::DataOnly;
}

Outcome ReadBack(const std::vector<MemoryRegion>& regions, HeaderForm form, std::FILE* out, long& words) {
  words = 0;
  std::fputs(FormatHeader(form).c_str(), out);
  const Outcome outcome =
      ReadRegions(regions, [&](const MemoryRegion& region, std::int32_t address, std::span<const std::uint16_t> line) {
        const auto erased = [](std::uint16_t word) { return word == Erased; };
        const auto first = std::find_if_not(line.begin(), line.end(), erased);
        if (first == line.end()) return;
        const auto end = std::find_if_not(line.rbegin(), line.rend(), erased).base();
        const std::span data(first, end);
        std::fputs(FormatData(region.xMemory ? SpaceX : SpaceP,
                              address + static_cast<std::int32_t>(first - line.begin()), data)
                       .c_str(),
                   out);
        words += static_cast<long>(data.size());
      });
  std::fputs(FormatEnd().c_str(), out);
  return outcome;
}

Outcome BlankCheck(const std::vector<MemoryRegion>& regions) {
  long notErased = 0;
  const Outcome outcome =
      ReadRegions(regions, [&](const MemoryRegion& region, std::int32_t address, std::span<const std::uint16_t> line) {
        for (std::size_t k = 0; k < line.size(); ++k) {
          if (line[k] == Erased) continue;
          if (notErased++ == 0)
            std::printf("\n First word not erased: %c:0x%05X = 0x%04X\n", region.xMemory ? 'X' : 'P',
                        static_cast<unsigned>(address + static_cast<std::int32_t>(k)), static_cast<unsigned>(line[k]));
        }
      });
  if (outcome != Outcome::Done) return outcome;
  if (notErased == 0) return Outcome::Done;
  std::printf(" Words not erased: %ld\n", notErased);
  return Conclude(Outcome::Failed);
}

Outcome CheckFileForProgramming(const TargetVariant& variant) {
  std::vector<bool> touched;
  return CheckFileForProgramming(variant, touched);
}

Outcome CheckFileForProgramming(const TargetVariant& variant, std::vector<bool>& touchedBlocks) {
  touchedBlocks.assign(variant.eraseBlocks.size(), false);
  MoveSize = 0;
  bool headerSeen = false;
  bool ended = false;
  for (int line = 1;; ++line) {
    switch (ReadSRecordline()) {
      case LineRead::Read:
        break;
      case LineRead::CannotOpen:
        Problem(line, "the file cannot be opened");
        return Outcome::FileUnusable;
      case LineRead::CannotSeek:
        Problem(line, "the file cannot be read");
        return Outcome::FileUnusable;
      case LineRead::EndOfFile:
        if (ended) return Outcome::Done;
        Problem(line, headerSeen ? "no S7 end record" : "no S0 header");
        return Outcome::FileUnusable;
    }
    // The pass stops at the end record and reads no further, so a trailer (blank lines, a DOS
    // end-of-file byte) changes nothing; a data record there was meant to be programmed.
    if (ended) {
      if (LineCarac[0] != 'S' || LineCarac[1] != '3') continue;
      Problem(line, "a data record after the S7 end record");
      return Outcome::FileUnusable;
    }
    const std::string problem = LineProblem(SRecordLineDecode(), variant, headerSeen);
    if (!problem.empty()) {
      Problem(line, problem);
      return Outcome::FileUnusable;
    }
    if (RecordType[1] == '3') MarkTouched(variant, touchedBlocks);
    headerSeen = true;
    ended = IsEndRecord();
  }
}

Outcome WriteSRecordData() {
  bool dataRecord = false;
  const Outcome dispatched = DispatchCommon(dataRecord);
  if (!dataRecord) return dispatched;
  const Region region = SelectRegion();
  // The check before programming refuses what lies outside the flash.
  if (region == Region::Outside || region == Region::XRam) return Outcome::Done;
  const std::int32_t address = RecordAddress();
  const int words = RecordWords();
  bool skipped = false;
  if (region == Region::ProgramFlash) {
    for (int k = 0; k < words; k += 2) {
      if (SkipWord()) {
        skipped = true;
        continue;
      }
      // An odd last word goes alone: pairing it would program the word after the record.
      if (k + 1 < words)
        WriteProgramFlash(address + k, SRecordData[k], address + k + 1, SRecordData[k + 1]);
      else
        WriteBootFlash(address + k, SRecordData[k]);
    }
  } else {
    for (int k = 0; k < words; ++k) {
      if (SkipWord()) {
        skipped = true;
        continue;
      }
      if (region == Region::BootFlash)
        WriteBootFlash(address + k, SRecordData[k]);
      else
        WriteDataFlash(address + k, SRecordData[k]);
    }
  }
  return skipped ? Outcome::Failed : Outcome::Done;
}

// The memory checksum covers the same bytes as the record's own: byte count, address, data.
// Equal sums can hide swapped bytes or words, so the words are compared too.
Outcome ReadSRecordData() {
  bool dataRecord = false;
  const Outcome dispatched = DispatchCommon(dataRecord);
  if (!dataRecord) return dispatched;
  const Region region = SelectRegion();
  std::int32_t sum = FullByteCountInt + AddressS3[0] + AddressS3[1] + AddressS3[2] + AddressS3[3];
  const bool xMemory = region == Region::DataFlash;
  const std::int32_t address = RecordAddress();
  int differing = -1;
  std::uint16_t differingWord = 0;
  if (region == Region::Outside) {
    CheckSumMemory = sum;
  } else if (region == Region::XRam) {
    CheckSumMemory = CheckSum;
  } else {
    for (int k = 0; k < RecordWords(); ++k) {
      std::uint16_t word = 0;
      // The read that failed said so; its record cannot match.
      if (!ReadFlashWord(xMemory, address + k, word)) return Outcome::Failed;
      sum += (word & 0xFF) + (word >> 8);
      if (differing < 0 && word != static_cast<std::uint16_t>(SRecordData[k])) {
        differing = k;
        differingWord = word;
      }
    }
    CheckSumMemory = ~sum & 0xFF;
  }
  if (CheckSum != CheckSumMemory) {
    std::printf("\n CheckSum = 0x%x and CheckSumMemory = 0x%x\n", static_cast<unsigned>(CheckSum),
                static_cast<unsigned>(CheckSumMemory));
    return Outcome::Failed;
  }
  if (differing >= 0) {
    std::printf("\n Word at %c:0x%05X = 0x%04X and file word = 0x%04X\n", xMemory ? 'X' : 'P',
                static_cast<unsigned>(address + differing), static_cast<unsigned>(differingWord),
                static_cast<unsigned>(SRecordData[differing] & 0xFFFF));
    return Outcome::Failed;
  }
  return Outcome::Done;
}

Outcome WriteMemory() {
  ResetFlashFlags();
  LoadFlashClock();
  Outcome outcome = Pass(ProgramLine);
  // The pass leaves the flash idle. A last command that failed had no later word to notice it.
  const bool idle = WaitForFlashIdle();
  if (outcome == Outcome::Done && idle && (PVIOL == 1 || ACCERR == 1)) std::puts(" Writing error");
  if (outcome == Outcome::Done && (!idle || PVIOL == 1 || ACCERR == 1)) outcome = Outcome::Failed;
  return Conclude(outcome);
}

Outcome VerifyMemory() { return Conclude(Pass(VerifyLine)); }
