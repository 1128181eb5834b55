// What the fuzz target links instead of the application module and the platform back-ends.
#pragma once

// Thrown by the fuzz build's ExitProgram: the orderly exit ends one input, not the fuzzer.
struct ProgramExit {};
