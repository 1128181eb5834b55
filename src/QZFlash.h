// The application: operator dialogue, adapter bring-up, target identification, initialisation,
// the flash-module command cycle and the programming and verification passes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "D2XX.h"
#include "QZFlashShared.h"

extern DWORD dwNumDevs;
extern std::int32_t FileNumber;
extern std::vector<std::string> FileTab;  // slot k holds entry number k; slot 0 is unused

// The whole run, from the banner to ExitProgram. Never returns.
[[noreturn]] void QZFlashMain();

int FilesList();

// Adapter bring-up, in this order at start. 0 is success, 1 failure; the run goes on anyway.
int DeviceCheck();
int OpenPort();
int ConfigPortParams();
int SyncMPSSE();
void ConfigMPSSEParams();

// Resets the target into debug mode and clears the flash protection; ErrorFlag 1 on failure.
void Initialisation();

// Flash-module command cycle.
void EraseMemory(std::int32_t address, int bank, int command);
void FullErase(int target);

// The passes over ChoosenFile.
void WriteMemory();
int VerifyMemory();
