// The target's flash contents as a text file a person can read and diff.
//
//   # comment
//   P 00000: 0102 0304 FFFF FFFF FFFF FFFF FFFF FFFF
//   X 02000: 1234 FFFF FFFF FFFF FFFF FFFF FFFF FFFF
//
// A row is a memory space (P or X), a word address in hexadecimal, a colon, and the words
// from that address on, in hexadecimal. Saving writes rows of eight words at addresses that
// are multiples of eight and leaves out rows that are all erased (FFFF); loading also takes
// rows of one to eight words at any address. Words not named are erased.
#pragma once

#include <istream>
#include <ostream>
#include <string>

#include "FlashModule.h"

namespace qzsim {

void SaveFlashState(const FlashModule& flash, std::ostream& out);
// Empty on success, else what is wrong and on which line. Rows before the bad one stay loaded.
std::string LoadFlashState(FlashModule& flash, std::istream& in);

// The state file of a run. Loading a file that does not exist leaves the flash erased; saving
// first lets the commands the target started run to their end (it stays powered after the
// program exits), writes FILE.partial and renames it over FILE, and leaves no FILE.partial
// when it fails. Empty on success, else the message to show.
std::string LoadFlashStateFile(FlashModule& flash, const std::string& file);
std::string SaveFlashStateFile(FlashModule& flash, const std::string& file);
// Before a run, so that its flash is never lost at the end: FILE is no folder and FILE.partial
// can be made beside it (and is removed again). Empty when the state can be saved.
std::string CheckFlashStateFile(const std::string& file);

}  // namespace qzsim
