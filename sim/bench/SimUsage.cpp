// qzflash-sim --help.
#include "SimOptions.h"

namespace qzsim {

namespace {

const char kUsage[] =
    "Usage: qzflash-sim [options] [-- QZFLASH-ARGUMENTS]\n"
    "Runs QZFlash against a virtual adapter and target. The program's dialogue uses standard\n"
    "input and output as usual; this tool writes only to standard error. Arguments after '--'\n"
    "go to the program (qzflash-sim -- --help lists them).\n"
    "Each option takes its value as the next argument or after '='.\n"
    "\n"
    "Target and adapter:\n"
    "  --variant 1|2        target variant and its memory map (default 1);\n"
    "                       IDCODE 0x01F4601D for 1, 0x01F4001D for 2\n"
    "  --idcode HEX         IDCODE the target reports instead, e.g. 0x1234567F for a part\n"
    "                       the program does not know; the memory map stays --variant's\n"
    "  --devices N          D2XX devices on the bus, 0 to 127 (default 1); 0: no adapter.\n"
    "                       One carries the target; the others are in use elsewhere\n"
    "  --target-device K    the device that carries the target (default 0)\n"
    "  --state FILE         the target's flash: loaded at start when FILE exists, saved at\n"
    "                       exit (text rows 'P 00000: 0102 FFFF ...', see sim/README.md)\n"
    "  --trace FILE         one line per D2XX call and sleep, in call order\n"
    "  --realtime           real sleeps and a real clock instead of the virtual clock\n"
    "  --stats              at exit, one line of counts on standard error (below)\n"
    "  --replay FILE        runs no program: plays the writes of the D2XX trace FILE (of\n"
    "                       qzflash --trace or --trace) into the target of the options and\n"
    "                       compares its answers with the recorded ones; the verdict on\n"
    "                       standard output, exit 0 when all agree, 1 at the first that\n"
    "                       does not, 2 for a trace that cannot be replayed; the state file\n"
    "                       is only loaded\n"
    "\n"
    "Faults:\n"
    "  --no-target 0|1      nothing on the JTAG connector: TDO stuck at 0 or 1\n"
    "  --stuck-protection   FMPROT and FMPROTB ignore writes and keep protecting\n"
    "  --pviol-after N      the first program command launched after N words have been\n"
    "                       programmed fails with PVIOL (0: the first program command)\n"
    "  --accerr-after N     the same, failing with ACCERR\n"
    "  --erase-pviol N      the N-th block erase launched (1: the first; protected ones\n"
    "                       count too) fails with PVIOL and erases nothing\n"
    "  --erase-accerr N     the same, failing with ACCERR\n"
    "  --hang-after N       the flash command launched after N accepted commands (erases\n"
    "                       and programs alike) never completes; 0: the first\n"
    "  --late-replies N     answers reach the receive queue N bytes per queue-status poll\n"
    "                       instead of all at once\n"
    "  --unplug-after N     the adapter is unplugged right after write number N (N >= 1)\n"
    "  --bad-word S:ADDR    the flash word at S:ADDR (S is P or X, ADDR hexadecimal) reads\n"
    "                       back with bit 0 flipped; what was programmed is right\n"
    "  --usb-error KIND     the libusb stand-in only: opening the FT2232H fails with access\n"
    "                       (not the user's), busy (held by another program) or no-device\n"
    "\n"
    "  --help               this text\n"
    "\n"
    "At exit, when the target saw protocol warnings, one line on standard error:\n"
    "  qzflash-sim: protocol warnings: N (kind n, ...)\n"
    "and then, with --stats:\n"
    "  qzflash-sim: stats: virtual S.mmm s, sleeps MS ms, writes W (B bytes), reads R (B bytes),\n"
    "  sync echoes E\n"
    "('real' instead of 'virtual' with --realtime).\n"
    "Bad options exit with status 2. A --state FILE that cannot be written stops the start\n"
    "with status 3; a save that fails at exit turns status 0 into 1.\n";

}  // namespace

const char* SimUsage() { return kUsage; }

}  // namespace qzsim
