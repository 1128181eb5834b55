// The command line of qzflash-sim.
#pragma once

#include <span>
#include <string>
#include <vector>

#include "Bench.h"

namespace qzsim {

struct SimOptions {
  BenchConfig bench;  // everything but the trace stream
  std::string stateFile;
  std::string traceFile;
  bool stats = false;  // print the stats line at exit
  bool help = false;
  std::vector<std::string> programArgs;  // everything after "--", for the program
};

// Empty on success, else what is wrong with the command line.
std::string ParseSimOptions(std::span<const char* const> args, SimOptions& options);

const char* SimUsage();

}  // namespace qzsim
