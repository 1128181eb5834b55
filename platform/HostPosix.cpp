// Host services on POSIX systems.
#include <dirent.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "Platform.h"

namespace {
// The thread's timer slack stretches every sleep; the 4 and 6 ms waits need it small.
unsigned long savedTimerSlack = 0;
bool slackRaised = false;
}  // namespace

void RaiseTimerResolution() {
  const int current = prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0);
  if (current < 0) return;
  savedTimerSlack = static_cast<unsigned long>(current);
  slackRaised = prctl(PR_SET_TIMERSLACK, 1UL, 0, 0, 0) == 0;
}

void RestoreTimerResolution() {
  if (slackRaised) prctl(PR_SET_TIMERSLACK, savedTimerSlack, 0, 0, 0);
  slackRaised = false;
}

void ClearConsole() {
  std::fputs("\x1b[2J\x1b[H", stdout);
}

bool OutputIsTerminal() { return isatty(STDOUT_FILENO) == 1; }

FolderStatus ListFolder(const char* path, std::vector<std::string>& names) {
  DIR* folder = opendir(path);
  if (folder == nullptr) return FolderStatus::OpenFailed;
  while (const dirent* entry = readdir(folder)) names.emplace_back(entry->d_name);
  // readdir's order is the file system's hash order; a person needs a stable, sorted list.
  std::sort(names.begin(), names.end());
  return closedir(folder) == 0 ? FolderStatus::Ok : FolderStatus::CloseFailed;
}

bool MoveIntoPlace(const std::string& from, const std::string& to, std::string& why) {
  if (std::rename(from.c_str(), to.c_str()) == 0) return true;
  why = std::strerror(errno);
  return false;
}
