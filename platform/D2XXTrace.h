// The trace of a run: every D2XX call and sleep, in the format of qzflash-sim's trace
// (sim/README.md, "Trace"), so that a run on a real adapter can be replayed into the model.
//
// Calls that moved no data (polls that found nothing, settings, sleeps) are held back: a run of
// identical lines is written once as "LINE times N", and past TraceQuietLines lines since data
// last moved the calls are only counted, in one line "omitted N". The trace thus stays within
// a few times the bytes the run moves and a fixed amount per call that moves them.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>

#include "D2XX.h"

inline constexpr unsigned TraceQuietLines = 256;

// Starts the trace in file, replacing it. Empty when it is open, else the system's reason.
std::string StartD2XXTrace(const std::string& file);
// Writes what is held back and closes the trace. Empty when every line reached the file, else
// the system's reason why some did not.
std::string EndD2XXTrace();

// "<name> <arguments...> status <n>", for the calls that move no data.
void TraceD2XXCall(const char* name, std::initializer_list<long long> arguments, FT_STATUS status);
// "FT_GetQueueStatus <rxBytes> status <n>", "-" for the count of a failed call.
void TraceQueueStatus(DWORD rxBytes, FT_STATUS status);
// "write <HEX>" with the bytes given, "read <HEX>" with those returned; a failed call adds its
// status.
void TraceD2XXData(const char* kind, const void* bytes, DWORD count, FT_STATUS status);
void TraceSleep(std::uint32_t ms);
