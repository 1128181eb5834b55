// The application: the operator dialogue or a command of the command line, from the start to the
// orderly exit.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "FlashLib.h"

// Operator's choices: 0 until chosen.
extern std::int32_t numeroOpe;  // 1 complete programming, 2 full erase, 3 verification
extern std::int32_t numeroFin;  // after programming: 1 again, 2 verify, 3 quit

extern std::int32_t FileNumber;
extern std::vector<std::string> FileTab;  // slot k holds entry number k; slot 0 is unused

// What the run reports when it ends: the exit status.
extern Outcome RunOutcome;

// The whole run, from the command line (the program's arguments) to ExitProgram.
[[noreturn]] void QZFlashMain(const std::vector<std::string>& args);

int FilesList();

// Lets the core leave debug mode, waits for Enter in the dialogue, releases the adapter and
// exits with the status of RunOutcome.
[[noreturn]] void ExitProgram();
