// Run-time access to FTD2XX.dll, the D2XX library of the adapter's driver.
//
// Apart from D2XX.h's users because <windows.h> declares a DWORD type of its own, which clashes
// with D2XX.h's.
#pragma once

namespace d2xxdll {

// A function of the library; callers convert it to the function type it really has.
using Procedure = void (*)();

// The function the library exports under this name, or nullptr when the library is not
// installed or lacks it. The library is looked for once, on the first call.
Procedure Find(const char* name);

}  // namespace d2xxdll
