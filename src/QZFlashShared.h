// What the application module shares with the modules below it.
//
// The lower layers must see a few things the application owns: the operator's choices (they
// set the wait before every read), the chosen file, the pass flags, the flash writers that the
// record dispatch calls, and the orderly exit. They include this header, never QZFlash.h.
// Everything declared here is defined in QZFlash.cpp.
#pragma once

#include <cstdint>
#include <string>

// Operator's choices: 0 until chosen.
extern std::int32_t numeroOpe;    // 1 complete programming, 2 full erase, 3 verification
extern std::int32_t numeroFin;    // after programming: 1 again, 2 verify, 3 quit
extern std::int32_t numeroCible;  // target variant, 1 or 2

extern std::string ChoosenFile;

extern std::int32_t ErrorFlag;   // 1: initialisation check failed, record rejected or not written
extern std::int32_t HeaderFlag;  // 1: the pass's S0 header was accepted

// State of the flash-module status bits when last sampled, each 0 or 1.
extern std::int32_t CBEIF;
extern std::int32_t CCIF;
extern std::int32_t PVIOL;
extern std::int32_t ACCERR;
extern std::int32_t DIVLD;

// Reads the JTAG IDCODE and sets numeroCible; the combined reset pulse identifies inside it.
void ReadIDCode();

void WriteProgramFlash(std::int32_t address1, int word1, std::int32_t address2, int word2);
void WriteBootFlash(std::int32_t address, int word);
void WriteDataFlash(std::int32_t address, int word);

// Lets the core leave debug mode, waits for Enter, releases the adapter, exits with status 0.
[[noreturn]] void ExitProgram();
