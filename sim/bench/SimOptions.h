// The command line of qzflash-sim, and the options of the stand-ins in QZSIM_OPTIONS.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "Bench.h"

namespace qzsim {

// How opening the FT2232H through the libusb stand-in fails, as a real one fails: the device
// node is not the user's, another program holds the interface, or the device went away.
enum class UsbError : std::uint8_t { None, Access, Busy, NoDevice };

struct SimOptions {
  BenchConfig bench;  // everything but the trace stream
  std::string stateFile;
  std::string traceFile;
  std::string replayFile;  // a trace to replay instead of running the program
  bool stats = false;  // print the stats line at exit
  bool help = false;
  UsbError usbError = UsbError::None;
  std::vector<std::string> programArgs;  // everything after "--", for the program
};

// Empty on success, else what is wrong with the command line.
std::string ParseSimOptions(std::span<const char* const> args, SimOptions& options);

const char* SimUsage();

}  // namespace qzsim
