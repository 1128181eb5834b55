// The flash driver: everything the flash work asks of the adapter and the target, built on
// instruction injection. It brings the adapter up and identifies the target, resets the target
// into debug mode with the protection cleared, erases, programs words, and reads words back.
//
// Each operation ends by taking the link's latched failure (FTDILib), so a failed transfer is
// reported by the operation it broke, and never taken for a value: a read that failed makes its
// operation fail.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

// How an operation ended; the values are the program's exit statuses.
enum class Outcome : int {
  Done = 0,
  Failed = 1,        // the target refused or did not confirm what was asked
  FileUnusable = 2,  // the S-Record file cannot be used
  LinkLost = 3,      // no adapter, a link that failed, or no known target
};

// Target variant, 1 or 2; 0 until ReadIDCode recognises one.
extern std::int32_t numeroCible;

// 1 when the last operation did not end Done; set only as the operation concludes.
extern std::int32_t ErrorFlag;

// State of the flash-module status bits when last sampled, each 0 or 1.
extern std::int32_t CBEIF;  // command buffer empty
extern std::int32_t CCIF;   // all commands complete
extern std::int32_t PVIOL;  // protection violation
extern std::int32_t ACCERR; // access error
extern std::int32_t DIVLD;  // FMCLKD: the flash clock divider is loaded

// FMCR bank: program and boot flash (P memory), data flash (X memory).
inline constexpr int BankP = 0;
inline constexpr int BankX = 1;

inline constexpr int CommandProgram = 0x20;
inline constexpr int CommandEraseBlock = 0x41;

// A range of words of P or X memory, both ends included.
struct MemoryRegion {
  bool xMemory;
  std::int32_t first;
  std::int32_t last;
  bool Holds(std::int32_t address) const { return address >= first && address <= last; }
};

// The words one block erase clears; its first word latches it.
struct EraseBlock {
  MemoryRegion words;
  int bank;
};

// What sets one target variant apart: the one place for its memory facts.
struct TargetVariant {
  std::uint32_t idcode;
  MemoryRegion programFlash;  // written in pairs of words
  MemoryRegion bootFlash;
  MemoryRegion dataFlash;
  MemoryRegion xRam;  // not flash: the reset leaves it undefined, so it holds no image
  std::span<const EraseBlock> eraseBlocks;  // a full erase, in this order
};

// The variant numbered target (1 or 2), or nullptr.
const TargetVariant* VariantOf(int target);

// The adapter bring-up and the identification, as at program start; every step says what it
// did. Done when a known target answered. failure says in a line why the first step that
// failed did; with stopAtFailure that step ends the bring-up.
Outcome BringUp(int deviceNumber, bool stopAtFailure, std::string& failure);

// Lists the adapters the driver sees, a line each. Done when there is at least one.
Outcome ListAdapters();

// Reads the JTAG IDCODE and sets numeroCible; says "Wrong aim..." for anything unknown.
void ReadIDCode();

// The wait before each read: shorter while verifying, whose batches are short, and longer for a
// read-back batch of several words.
enum class ReadWork { Programming, Verifying, ReadingBack };
void ChooseReadWait(ReadWork work);
// Fast reads take each answer as soon as it is complete instead of after the read wait; the
// target's own waits (its reset, the port's set-up) stay.
void UseFastReads(bool fast);

// Resets the target into debug mode with OMR set and the protection of both banks cleared,
// and reads every setting back.
Outcome Initialisation();

// Erases the block that holds address (bank 0 or 1; no latch for any other bank value);
// the outcome is in the flash flags (ACCERR after a timeout).
void EraseMemory(std::int32_t address, int bank, int command);
// Erases every block of the variant.
Outcome FullErase(int target);
// Erases the blocks of the variant whose slot in erase is true, in the table's order, and says
// for every block whether it is erased or kept.
Outcome EraseChosenBlocks(int target, const std::vector<bool>& erase);
// "P:0x00000-0x0FFFF", the form of every address the operations print.
std::string Describe(const MemoryRegion& region);

// Programs words; the outcome is in the flash flags, for the next word to look at.
void WriteProgramFlash(std::int32_t address1, int word1, std::int32_t address2, int word2);
void WriteBootFlash(std::int32_t address, int word);
void WriteDataFlash(std::int32_t address, int word);

// A pass's start: flags cleared, the flash clock divider loaded if it is not.
void ResetFlashFlags();
void LoadFlashClock();
// Waits until every flash command has completed; false after a timeout or a failed read.
bool WaitForFlashIdle();
// The last flash command failed, or the link did: the next word must not be written.
bool FlashCommandFailed();

// Reads one word of P or X memory; false when the read failed.
bool ReadFlashWord(bool xMemory, std::int32_t address, std::uint16_t& word);
// Reads words.size() words from first on, several to a batch and one wait a batch; false when a
// read failed.
bool ReadFlashWords(bool xMemory, std::int32_t first, std::span<std::uint16_t> words);

// Ends an operation with what it found, unless the link failed meanwhile: a lost adapter is
// said once and decides; a command batch too long for the buffer fails the operation. Sets
// ErrorFlag from the result.
Outcome Conclude(Outcome found);

// At the end of a run: the core leaves debug mode, then the adapter is released.
void ReleaseTarget();
void ReleaseAdapter();
