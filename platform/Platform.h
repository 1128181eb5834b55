// Services of the operating system that the program needs besides the adapter.
//
// The time source (SleepMs, MonotonicMs) comes with the adapter back-end, because the virtual
// adapter runs on a virtual clock that only the program's sleeps advance. The others belong to
// the host system.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Time source: provided by each adapter back-end.
void SleepMs(std::uint32_t ms);
std::uint64_t MonotonicMs();

// The short waits of the protocol (4 and 6 ms) must last what they say: raised at start,
// restored at exit.
void RaiseTimerResolution();
void RestoreTimerResolution();

void ClearConsole();
// Whether standard output is a terminal rather than a file or a pipe.
bool OutputIsTerminal();

enum class FolderStatus { Ok, OpenFailed, CloseFailed };

// Names of every entry the system's listing yields for the folder, in byte order of the names.
FolderStatus ListFolder(const char* path, std::vector<std::string>& names);

// Moves the file from over to, replacing a file there in one step; false, with errno's or the
// system's reason in why, when it could not.
bool MoveIntoPlace(const std::string& from, const std::string& to, std::string& why);
