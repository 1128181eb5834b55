// What the program prints, as a person sees it, for the end-to-end tests.
#pragma once

#include <string>

namespace console {

inline const std::string Banner =
    "*********************************************\n"
    "        Welcome to QZFlash V1.02\n"
    "*********************************************\n";

// Bring-up with the virtual adapter attached.
inline const std::string AdapterReady =
    " Checking for QZ devices...\n"
    " 1 QZ devices found - The drivers are installed\n"
    "\n Opening Port...\n"
    "\n Configuring port for use...\n"
    " Configuration of the port is done.\n";

inline const std::string Separator = "\n*************************************************\n";

inline const std::string OperationMenu = Separator +
                                         "\n Choose the operation you would like to do...\n"
                                         " 1 - Complete programming of the flash\n"
                                         " 2 - Full erasing of the flash\n"
                                         " 3 - Verifying the flash\n";

inline std::string Asked(int number) { return "\n You asked for number : " + std::to_string(number) + "\n"; }

inline const std::string Initialised = Separator + "\n Initialization of the CPU...\n Initialization done\n";

inline const std::string Goodbye = "\n Goodbye ! \n Press <Enter> to continue\n";

inline const std::string Erased = "\n Memory has been erased...\n";
inline const std::string Rewritten = "\n Memory has been rewritten...\n";
inline const std::string Failed = "\n Programming failed\n";
inline const std::string Success = "\n Verification success\n";
inline const std::string ErrorDetected = "\n Memory error detected\n";
inline const std::string Menu =
    "\n What do you want to do ?\n 1 - Do it again\n 2 - Verify the programmed flash\n 3 - Quit\n";

// What qzflash-sim says on standard error after a run with no protocol fault: nothing.
inline const std::string CleanRun = "";

}  // namespace console
