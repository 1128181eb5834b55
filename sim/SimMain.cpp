// qzflash-sim: the program proper on the virtual bench, with options of its own.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>

#include "Bench.h"
#include "FlashState.h"
#include "QZFlash.h"
#include "SimOptions.h"

namespace {

constexpr int kBadUsage = 2;

// What the exit handler needs; the program proper ends through exit().
std::string stateFile;
std::ofstream trace;
bool stats = false;

void SaveState() {
  if (stateFile.empty()) return;
  qzsim::FlashModule& flash = qzsim::CurrentBench().Controller().Flash();
  // The target stays powered after the program ends: what it started, it finishes.
  flash.Settle();
  const std::string partial = stateFile + ".partial";
  {
    std::ofstream out(partial, std::ios::trunc);
    qzsim::SaveFlashState(flash, out);
    if (!out.flush()) {
      std::cerr << "qzflash-sim: cannot write " << partial << '\n';
      return;
    }
  }
  std::error_code error;
  std::filesystem::rename(partial, stateFile, error);
  if (error)
    std::cerr << "qzflash-sim: cannot replace " << stateFile << ": " << error.message() << '\n';
}

void AtExit() {
  // The dialogue's last lines come before the summary on a shared terminal.
  std::fflush(stdout);
  SaveState();
  if (trace.is_open()) trace.close();
  const std::string summary = qzsim::CurrentBench().ProtocolWarnings().Summary();
  if (!summary.empty()) std::cerr << "qzflash-sim: " << summary << '\n';
  if (stats) std::cerr << "qzflash-sim: " << qzsim::CurrentBench().StatsSummary() << '\n';
}

int Fail(const std::string& message) {
  std::cerr << "qzflash-sim: " << message << '\n';
  return kBadUsage;
}

}  // namespace

int main(int argc, char** argv) {
  qzsim::SimOptions options;
  const std::string error =
      qzsim::ParseSimOptions(std::span<const char* const>(argv + 1, argc - 1), options);
  if (!error.empty()) return Fail(error + "\nTry 'qzflash-sim --help'.");
  if (options.help) {
    std::cerr << qzsim::SimUsage();
    return 0;
  }
  if (!options.traceFile.empty()) {
    trace.open(options.traceFile, std::ios::trunc);
    if (!trace) return Fail("cannot open trace file " + options.traceFile);
    options.bench.trace = &trace;
  }
  qzsim::ConfigureBench(options.bench);
  stateFile = options.stateFile;
  stats = options.stats;
  if (!stateFile.empty() && std::filesystem::exists(stateFile)) {
    std::ifstream in(stateFile);
    if (!in) return Fail("cannot read state file " + stateFile);
    const std::string bad = qzsim::LoadFlashState(qzsim::CurrentBench().Controller().Flash(), in);
    if (!bad.empty()) return Fail(stateFile + ": " + bad);
  }
  std::atexit(AtExit);
  QZFlashMain(options.programArgs);
}
