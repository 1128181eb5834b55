// The application: the operator dialogue, from the banner to the orderly exit.
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

// The whole run, from the banner to ExitProgram. Never returns.
[[noreturn]] void QZFlashMain();

int FilesList();

// Lets the core leave debug mode, waits for Enter, releases the adapter and exits with the
// status of RunOutcome.
[[noreturn]] void ExitProgram();
