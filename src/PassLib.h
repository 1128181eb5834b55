// The programming and verification passes over ChoosenFile, and the check that a file can be
// programmed before anything is erased.
//
// A pass walks the file from its S0 header to its S7 end record, acts on every record, and
// shows its progress in tenths of the file. Programming hands each data record's words to the
// flash writers; verification reads them back and compares them with the file's.
#pragma once

#include <cstdint>
#include <cstdio>
#include <vector>

#include "FlashLib.h"
#include "SRecordLib.h"

// 1 once the S0 header of the pass in progress was accepted.
extern std::int32_t HeaderFlag;
// Checksum of the current record's count, address and the words the target holds for it.
extern std::int32_t CheckSumMemory;

// The progress display: a redrawn console, or a plain line per step for a log.
enum class ProgressStyle { Redraw, Lines };
extern ProgressStyle PassProgress;

// Reads ChoosenFile once as the programming pass would, touching nothing else. When the pass
// would not program every word of it into the flash of variant, says why (the first problem,
// by line) and that nothing was touched, and returns FileUnusable; otherwise Done, silently.
Outcome CheckFileForProgramming(const TargetVariant& variant);
// The same, and marks in touchedBlocks (one slot per erase block of variant) the blocks that
// hold a word of the file.
Outcome CheckFileForProgramming(const TargetVariant& variant, std::vector<bool>& touchedBlocks);

// The memories a read-back or a blank check covers.
struct MemoryChoice {
  bool program = false;
  bool boot = false;
  bool data = false;
};
// The chosen memories of variant in address order: program flash, boot flash, data flash.
std::vector<MemoryRegion> ChosenRegions(const TargetVariant& variant, MemoryChoice choice);
// The S0 form that names the memories chosen.
HeaderForm HeaderFor(MemoryChoice choice);

// Reads every word of regions and writes them to out as an S-Record file with header form:
// records of at most 16 words, a line of 16 words apart, without the erased words that begin or
// end the line; a line wholly erased is left out. words counts the words written.
Outcome ReadBack(const std::vector<MemoryRegion>& regions, HeaderForm form, std::FILE* out, long& words);
// Done when every word of regions reads 0xFFFF; Failed after saying how many do not, and
// which is the first.
Outcome BlankCheck(const std::vector<MemoryRegion>& regions);

// The passes. FileUnusable means the pass stopped on the file; its message says why.
Outcome WriteMemory();
Outcome VerifyMemory();

// What each pass does with one decoded record: Done to go on, Failed after a word that was not
// written or does not match, FileUnusable for a record the pass refuses.
Outcome WriteSRecordData();
Outcome ReadSRecordData();
