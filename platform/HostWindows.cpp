// Host services on Windows.
#include <io.h>
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "Platform.h"

namespace {
// The 1 ms period is a request to the whole system: only a granted one is handed back.
bool periodRaised = false;
}  // namespace

void RaiseTimerResolution() {
  if (!periodRaised) periodRaised = timeBeginPeriod(1) == TIMERR_NOERROR;
}

void RestoreTimerResolution() {
  if (periodRaised) timeEndPeriod(1);
  periodRaised = false;
}

// A console is cleared through its own API. Output that goes elsewhere (a file, a pipe, a
// terminal emulator such as mintty) gets the same ANSI sequence as on Linux, so that logs of
// both systems compare equal and terminals that understand it still clear.
void ClearConsole() {
  // Text printed before the clear must reach the console before it is wiped.
  std::fflush(stdout);
  const HANDLE console = GetStdHandle(STD_OUTPUT_HANDLE);
  CONSOLE_SCREEN_BUFFER_INFO screen{};
  if (!GetConsoleScreenBufferInfo(console, &screen)) {
    std::fputs("\x1b[2J\x1b[H", stdout);
    return;
  }
  const DWORD cells = static_cast<DWORD>(screen.dwSize.X) * static_cast<DWORD>(screen.dwSize.Y);
  const COORD origin{0, 0};
  DWORD written = 0;
  FillConsoleOutputCharacterA(console, ' ', cells, origin, &written);
  FillConsoleOutputAttribute(console, screen.wAttributes, cells, origin, &written);
  SetConsoleCursorPosition(console, origin);
}

bool OutputIsTerminal() { return _isatty(_fileno(stdout)) != 0; }

FolderStatus ListFolder(const char* path, std::vector<std::string>& names) {
  const std::string pattern = std::string(path) + "\\*";
  WIN32_FIND_DATAA entry{};
  const HANDLE search = FindFirstFileA(pattern.c_str(), &entry);
  if (search == INVALID_HANDLE_VALUE)
    // Only a folder with no entry at all, not even "." (a drive's root), matches nothing.
    return GetLastError() == ERROR_FILE_NOT_FOUND ? FolderStatus::Ok : FolderStatus::OpenFailed;
  do {
    names.emplace_back(entry.cFileName);
  } while (FindNextFileA(search, &entry));
  // The listing comes in the file system's order; a person needs a stable, sorted list.
  std::sort(names.begin(), names.end());
  return FindClose(search) ? FolderStatus::Ok : FolderStatus::CloseFailed;
}

// rename() refuses an existing target on Windows; the read-back file replaces one.
bool MoveIntoPlace(const std::string& from, const std::string& to, std::string& why) {
  if (MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING)) return true;
  why = "cannot be replaced (error " + std::to_string(GetLastError()) + ")";
  return false;
}
