#include "D2XXLibraryWindows.h"

#include <windows.h>

namespace d2xxdll {

namespace {

// The driver installs the library in the system folder; a program shipped with its own copy has
// it beside the .exe. The current folder, where the operator's files are, is never searched.
HMODULE Library() {
  static const HMODULE library = LoadLibraryExW(
      L"FTD2XX.dll", nullptr, LOAD_LIBRARY_SEARCH_APPLICATION_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32);
  return library;
}

}  // namespace

Procedure Find(const char* name) {
  const HMODULE library = Library();
  if (library == nullptr) return nullptr;
  return reinterpret_cast<Procedure>(GetProcAddress(library, name));
}

}  // namespace d2xxdll
